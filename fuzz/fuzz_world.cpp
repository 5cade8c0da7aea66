#include "fuzz_world.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "device/flash_transfer.h"
#include "device/input_monitor.h"
#include "testworld/world.h"
#include "win32/standin.h"

namespace fuzzworld {
namespace {

// Written by the fuzzing thread only.
std::string gTempFolder;

void RemoveTempFolder() {
    std::error_code ignored;
    if (!gTempFolder.empty()) std::filesystem::remove_all(gTempFolder, ignored);
}

}  // namespace

void Init() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");
    standin::Reset();
    InitializeCriticalSection(&DeviceLock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Check(StopEvent != nullptr, "no StopEvent");
}

HWND Connect(sim::Board& board) {
    // The StopEvent lives for the whole run, as the entry point's does; Reset would forget it.
    HANDLE stop = StopEvent;
    StopEvent = nullptr;
    static_cast<void>(CloseHandle(stop));
    testworld::ResetStandin();
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Check(StopEvent != nullptr, "no StopEvent");

    board.Plug();
    board.ClearFaults();
    board.SetClock([] { return standin::NowMs(); });
    testworld::PlugIn(board);

    HWND window = testworld::OpenMainWindow(testworld::Buttons::WithFlashMenu);
    const std::string failed = testworld::OpenBoardLink();
    if (!failed.empty()) Fail(failed);
    standin::ClearHistory(window);
    standin::ClearMessageBoxes();
    board.ClearLog();
    board.ClearViolations();
    return window;
}

void Disconnect(sim::Board& board, HWND window) {
    testworld::CloseBoardLinkAndWindow(window);
    // StopEvent is the one handle meant to stay open.
    const std::vector<std::string> faults = testworld::LeftBehind(1);
    if (!faults.empty()) Fail(faults.front());
    // Breaches only: a target that cares about the bus checks it itself.
    testworld::ProtocolAllowance allowed;
    allowed.flashWithoutBus = true;
    const std::vector<std::string> breaches = testworld::ProtocolFaults(board, allowed);
    if (!breaches.empty()) Fail(breaches.front());
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void Check(bool condition, const std::string& what) {
    if (!condition) Fail(what);
}

const std::string& TempFolder() {
    if (gTempFolder.empty()) {
        gTempFolder = testworld::MakeTempFolder("kelm_fuzz");
        if (gTempFolder.empty()) Fail("no temporary folder");
        std::atexit(RemoveTempFolder);
    }
    return gTempFolder;
}

uint32_t TakeNumber(const uint8_t* data, size_t size, size_t& pos, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const uint32_t byte = pos < size ? data[pos] : 0;
        value |= byte << (8 * i);
        ++pos;
    }
    return value;
}

}  // namespace fuzzworld
