// kelm-e2e-handle-holder.exe: leaves a process behind that holds the standard handles it was
// given, as Wine's own processes (services.exe, winedevice.exe, explorer.exe ...) do when a
// program of the run happens to be the one that starts them. The end-to-end runner starts it
// inside a driven step, to show that such a process cannot keep the step from ending.
//
//   kelm-e2e-handle-holder.exe STOP-FILE SECONDS
//
// Starts a copy of itself with every standard handle inherited, waits until the copy has written
// its first line through them, and ends with exit code 0. The copy keeps the handles until
// STOP-FILE appears, then deletes it (so the runner can see that the copy was still there) and
// ends; after SECONDS without a stop file it gives up with exit code 1.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kChildFlag[] = "--child";
constexpr DWORD kChildStartMs = 60000;  // a copy's start under Wine on a busy machine
constexpr DWORD kPollMs = 100;
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr DWORD kStdHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

void Say(const std::string& text) {
    std::printf("holder: %s\n", text.c_str());
    std::fflush(stdout);
}

// A standard handle the copy receives must be inheritable; a missing one is nothing to pass on.
bool MakeStdHandlesInheritable() {
    for (DWORD which : kStdHandles) {
        HANDLE handle = GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
        if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return false;
    }
    return true;
}

bool Release(HANDLE handle) { return handle == nullptr || CloseHandle(handle) != 0; }

int RunParent(const std::string& stopFile, const std::string& seconds) {
    SECURITY_ATTRIBUTES inherited = {};
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    HANDLE started = nullptr;
    char self[MAX_PATH] = {};
    std::string problem;
    DWORD error = 0;
    auto failed = [&](const char* what) {
        error = GetLastError();
        problem = what;
    };

    const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof self);
    if (selfLength == 0 || selfLength >= sizeof self) {
        failed("cannot name its own program file");
    } else if (!MakeStdHandlesInheritable()) {
        failed("cannot make the standard handles inheritable");
    } else if ((started = CreateEventA(&inherited, TRUE, FALSE, nullptr)) == nullptr) {
        failed("cannot make the start event");
    } else {
        std::string line = "\"" + std::string(self) + "\" " + kChildFlag + " \"" + stopFile +
                           "\" " + seconds + " " +
                           std::to_string(reinterpret_cast<std::uintptr_t>(started));
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &child)) {
            failed("cannot start its copy");
        } else if (WaitForSingleObject(started, kChildStartMs) != WAIT_OBJECT_0) {
            failed("its copy did not start");
        }
    }

    const bool released = Release(child.hThread) && Release(child.hProcess) && Release(started);
    if (problem.empty() && !released) failed("cannot close its handles");
    if (!problem.empty()) {
        Say(problem + " (error " + std::to_string(error) + ")");
        return kExitFailed;
    }
    Say("parent ends; its copy holds the standard handles");
    return kExitDone;
}

int RunChild(const std::string& stopFile, DWORD limitMs, HANDLE started) {
    Say("copy started, holding the standard handles");
    const bool signalled = SetEvent(started) != 0;
    if (!Release(started) || !signalled) {
        Say("copy cannot signal its start");
        return kExitFailed;
    }
    const DWORD since = GetTickCount();
    while (GetTickCount() - since < limitMs) {
        if (GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (!DeleteFileA(stopFile.c_str())) {
                Say("copy cannot delete the stop file");
                return kExitFailed;
            }
            Say("copy stopped");
            return kExitDone;
        }
        Sleep(kPollMs);
    }
    Say("copy gave up waiting for the stop file");
    return kExitFailed;
}

// SECONDS as a count of milliseconds; 0 when it is no whole number from 1 to a day.
DWORD LimitMs(const char* seconds) {
    constexpr unsigned long kDaySeconds = 86400;
    char* end = nullptr;
    const unsigned long value = std::strtoul(seconds, &end, 10);
    if (end == seconds || *end != '\0' || value == 0 || value > kDaySeconds) return 0;
    return static_cast<DWORD>(value * 1000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == kChildFlag && LimitMs(argv[3]) != 0) {
        const auto value = std::strtoull(argv[4], nullptr, 10);
        return RunChild(argv[2], LimitMs(argv[3]),
                        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)));
    }
    if (argc == 3 && LimitMs(argv[2]) != 0) return RunParent(argv[1], argv[2]);
    std::fprintf(stderr, "usage: kelm-e2e-handle-holder STOP-FILE SECONDS\n");
    return kExitUsage;
}
