// Stopping between two transfers when asked to.
#include "interrupt.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The one global of kelmtool: a signal handler has nowhere else to put what it saw. Written by
// the handler (on Windows by the console's control thread), read by the work, which with --all
// runs in a thread for each board: an atomic, lock-free so that a handler may touch it.
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free atomic");

void Record(int signal) {
    int none = 0;
    static_cast<void>(pendingSignal.compare_exchange_strong(none, signal));
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            Record(SIGINT);
            return TRUE;
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            Record(SIGTERM);
            return TRUE;
        default:
            return FALSE;
    }
}
#endif

}  // namespace

bool InstallInterruptHandlers() {
#ifdef _WIN32
    return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
#else
    struct sigaction action = {};
    action.sa_handler = Record;
    // Restarted system calls keep a report that is under way whole; the work stops after it.
    action.sa_flags = SA_RESTART;
    bool installed = sigemptyset(&action.sa_mask) == 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        installed = sigaction(signal, &action, nullptr) == 0 && installed;
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    installed = sigemptyset(&ignore.sa_mask) == 0 && installed;
    return sigaction(SIGPIPE, &ignore, nullptr) == 0 && installed;
#endif
}

int PendingInterrupt() { return pendingSignal.load(); }

ExitCode InterruptCode(int signal) {
    switch (signal) {
#ifdef SIGHUP
        case SIGHUP:
            return ExitCode::HungUp;
#endif
        case SIGTERM:
            return ExitCode::Terminated;
        case SIGINT:
        default:
            return ExitCode::Interrupted;
    }
}
