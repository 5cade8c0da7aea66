// kelmtool's commands. Each works on the board the options name and fills the reply.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/slot_header.h"
#include "outcome.h"
#include "tool_context.h"

struct InfoArguments {
    std::string file;  // an image or a dump, described without a board; empty: the board
    std::optional<ImageKind> kind;
};
struct WriteArguments {
    std::vector<std::string> files;  // written in this order, as one write after another
    std::optional<ImageKind> kind;   // of every file
    std::optional<int> slot;         // of the first
    bool verify = true;
    bool dryRun = false;
};
struct BackupArguments {
    int slot = 0;
    std::string output;
    bool force = false;
};
struct EraseArguments {
    int slot = 0;
    bool yes = false;
    bool dryRun = false;
};
struct VerifyArguments {
    int slot = 0;
    std::string file;
    std::optional<ImageKind> kind;
};
struct DumpArguments {
    std::string output;
    bool force = false;
};
struct RestoreArguments {
    std::string file;
    bool yes = false;
    bool verify = true;
    bool dryRun = false;
};
struct MonitorArguments {
    double seconds = -1;  // below 0: until interrupted
};

Outcome RunList(ToolContext& context);
Outcome RunInfo(ToolContext& context, const InfoArguments& arguments);
Outcome RunWrite(ToolContext& context, const WriteArguments& arguments);
Outcome RunBackup(ToolContext& context, const BackupArguments& arguments);
Outcome RunErase(ToolContext& context, const EraseArguments& arguments);
Outcome RunVerify(ToolContext& context, const VerifyArguments& arguments);
Outcome RunDump(ToolContext& context, const DumpArguments& arguments);
Outcome RunRestore(ToolContext& context, const RestoreArguments& arguments);
Outcome RunMonitor(ToolContext& context, const MonitorArguments& arguments);

// Asks on the terminal, or requires --yes when standard input is no terminal. BadInput when
// refused.
Outcome Confirm(const ToolContext& context, bool yes, const std::string& question);
