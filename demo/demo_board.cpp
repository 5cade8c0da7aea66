// Setting up the demo board: flash file, pace, erase and bus timing, greeting text.
#include "demo/demo_board.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "demo/demo_flash_file.h"
#include "demo/link_pace.h"

sim::Board* DemoBoard = nullptr;

namespace {

constexpr char kErrorCaption[] = "Error";
constexpr UINT kDemoFailedExitCode = 1;
constexpr char kFileWriteFailedText[] =
    "\ncould not be written, so it no longer shows the board's flash.\n\nThe demo board is "
    "unplugged now; end the program and look at the file.";
constexpr char kGreetingFirstLine[] = "kelm demo board";
constexpr char kGreetingSecondLine[] = "2048 KB, 32 slots";

// Written at start-up (dialog thread), then by the thread that changes the flash: the dialog
// thread, inside the board's report handling.
FlashFile DemoFlashFile;
// Written by the dialog thread, which exchanges the reports.
LinkPace DemoPace;
LARGE_INTEGER ClockFrequency = {};

double NowMs() {
    LARGE_INTEGER now = {};
    if (ClockFrequency.QuadPart == 0 || !QueryPerformanceCounter(&now)) {
        return static_cast<double>(GetTickCount64());
    }
    return static_cast<double>(now.QuadPart) * 1000.0 /
           static_cast<double>(ClockFrequency.QuadPart);
}

void PaceReport(double reportMs) {
    const unsigned sleepMs = ChargeReport(DemoPace, reportMs, NowMs());
    if (sleepMs != 0) {
        Sleep(sleepMs);
    }
}

void Fail(const std::string& text) {
    // Nothing of the program exists yet; there is nothing to undo before the process ends.
    static_cast<void>(MessageBoxA(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR));
    ExitProcess(kDemoFailedExitCode);
}

std::string FlashFilePath() {
    char module[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        Fail(
            "The folder of kelm-demo.exe could not be found, so the demo board has no flash "
            "file.");
    }
    std::string path(module, length);
    const size_t slash = path.find_last_of("\\/");
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path + kFlashFileName;
}

// The board calls this after every erase and every data report, before it answers the next
// report: the file is never behind the flash.
void KeepFileInStep(size_t address, size_t length) {
    if (DemoFlashFile.file == nullptr) {
        return;  // already given up
    }
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = DemoBoard->FlashByte(address + i);
    }
    if (WriteFlashRange(DemoFlashFile, address, bytes.data(), length)) {
        return;
    }
    const std::string text =
        "The demo board's flash file\n" + DemoFlashFile.path + kFileWriteFailedText;
    CloseFlashFile(DemoFlashFile);
    // Whatever the program does next fails as with a board that was pulled out.
    DemoBoard->Unplug();
    static_cast<void>(MessageBoxA(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR));
}

}  // namespace

void StartDemoBoard() {
    if (DemoBoard != nullptr) {
        return;
    }
    if (!QueryPerformanceFrequency(&ClockFrequency)) {
        ClockFrequency.QuadPart = 0;  // NowMs falls back to the tick count
    }
    const std::string path = FlashFilePath();
    std::vector<uint8_t> flash;
    std::string problem;
    const FlashFileOpen opened = OpenFlashFile(path, DemoFlashFile, flash, problem);
    if (opened != FlashFileOpen::Loaded && opened != FlashFileOpen::Created) {
        Fail(problem);
    }
    DemoBoard = new sim::Board();
    DemoBoard->SetFlash(0, flash);
    DemoBoard->SetEraseBusyPolls(kDemoEraseBusyPolls);
    DemoBoard->SetBusHandoverPolls(kDemoBusHandoverPolls);
    DemoBoard->SetReportTime(kDemoReportTimeMs, PaceReport);
    DemoBoard->SetFlashListener(KeepFileInStep);
}

void StopDemoBoard() { CloseFlashFile(DemoFlashFile); }

void SendDemoGreeting() {
    // The second line goes last: the first line's last piece runs three characters into it.
    DemoBoard->QueueInputLines(kGreetingFirstLine, kGreetingSecondLine);
}
