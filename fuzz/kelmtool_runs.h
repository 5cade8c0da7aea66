// kelmtool's write and restore commands run in the fuzz target's process, as `kelmtool --sim
// FLASH --json --quiet write ...` and `... restore FILE --yes` would run them: the command code
// itself, on the simulated board kept in a flash file. Plain types only, so that the target's
// window side never meets kelmtool's headers.
#pragma once

#include <cstdint>
#include <string>

namespace kelmtoolrun {

struct Result {
    int exitCode = -1;
    std::string message;  // the failure's message; "" when done
    // From the JSON reply of a command that was done (-1 and 0 where it has none).
    int slot = -1;
    int slots = -1;
    uint64_t bytes = 0;
};

// kind: -1 for none (the extension decides), else 0-3 as --kind gcb, dol, elf, vgc; slot: -1 for
// none (the first feasible start).
Result Write(const std::string& flashFile, const std::string& image, int kind, int slot,
             bool verify);
Result Restore(const std::string& flashFile, const std::string& dump, bool verify);

}  // namespace kelmtoolrun
