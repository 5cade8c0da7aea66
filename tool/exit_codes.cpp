// The exit-code list of --help, from the one definition.
#include <cstdio>
#include <string>

#include "outcome.h"

namespace {

struct ExitCodeEntry {
    int number;
    const char* summary;
};

constexpr ExitCodeEntry kExitCodes[] = {
#define KELM_EXIT_CODE(name, number, summary, manual) {number, summary},
#include "exit_codes.def"
#undef KELM_EXIT_CODE
};

}  // namespace

std::string ExitCodeList() {
    std::string list = "Exit codes:";
    for (const ExitCodeEntry& entry : kExitCodes) {
        char line[128];
        std::snprintf(line, sizeof line, "\n  %3d  %s", entry.number, entry.summary);
        list += line;
    }
    return list;
}
