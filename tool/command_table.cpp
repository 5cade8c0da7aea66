// The command table, in the order --help lists the commands.
#include "command.h"

#include <algorithm>
#include <cstring>

CommandTable MakeCommands() {
    CommandTable table;
    table.push_back(MakeListCommand());
    table.push_back(MakeInfoCommand());
    table.push_back(MakeWriteCommand());
    table.push_back(MakeBackupCommand());
    table.push_back(MakeEraseCommand());
    table.push_back(MakeVerifyCommand());
    table.push_back(MakeDumpCommand());
    table.push_back(MakeRestoreCommand());
    table.push_back(MakeMonitorCommand());
    return table;
}

const std::vector<std::string>& KindChoices() {
    // --kind's values, checked by CLI11 and turned into an ImageKind when settled.
    static const std::vector<std::string> choices = {"gcb", "dol", "elf", "vgc"};
    return choices;
}

std::string ExampleList(const std::vector<Example>& examples) {
    size_t width = 0;
    for (const Example& example : examples) width = std::max(width, std::strlen(example.line));
    std::string list = "Examples:";
    for (const Example& example : examples) {
        list += "\n  " + std::string(example.line) +
                std::string(width + 2 - std::strlen(example.line), ' ') + example.what;
    }
    return list;
}
