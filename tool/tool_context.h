// What every command is given: the global options, the progress bar, and the reply it builds.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "progress.h"

// The version of the JSON documents' layout, in every document as "schema".
constexpr int kJsonSchema = 1;

struct ToolOptions {
    std::vector<std::string> simFiles;  // --sim, once for each simulated board
    std::string path;                   // --path
    std::string serial;                 // --serial
    bool all = false;                   // --all
    bool eachNew = false;               // --each-new
    double waitSeconds = -1;            // --wait; below 0: do not wait
    double timeoutSeconds = 30;         // --timeout
    bool json = false;                  // --json
    bool quiet = false;                 // --quiet
    bool trace = false;                 // --trace
    std::string traceLabel;             // in front of each --trace line: a board's, of several
    // The command runs on several boards side by side, each on a copy of these options that
    // names its board alone: nothing may ask on the terminal or write one file for them all.
    bool ManyBoards() const { return all || eachNew; }
};

// A command's result for standard output: lines of text, or the members of the JSON document.
struct Reply {
    std::string text;
    nlohmann::json data = nlohmann::json::object();
    // The result stands even though a signal ended the command (a monitor's end).
    bool complete = false;
    // Notes and warnings for the user, which go to standard error after the command's name.
    std::vector<std::string> notes;
    void Line(const std::string& line) { text += line + "\n"; }
    void Note(const std::string& note) { notes.push_back(note); }
};

struct ToolContext {
    const ToolOptions& options;
    Progress& progress;
    Reply& reply;
    bool stdinIsTerminal;
};
