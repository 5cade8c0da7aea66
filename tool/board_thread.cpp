// A board's thread.
#include "board_thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <system_error>
#endif

#include <utility>

#ifdef _WIN32

namespace {

DWORD WINAPI RunWork(void* work) {
    (*static_cast<std::function<void()>*>(work))();
    return 0;
}

}  // namespace

bool BoardThread::Start(std::function<void()> work, std::string& problem) {
    work_ = std::move(work);
    handle_ = CreateThread(nullptr, 0, RunWork, &work_, 0, nullptr);
    if (handle_ != nullptr) return true;
    problem = "CreateThread failed with error " + std::to_string(GetLastError());
    return false;
}

void BoardThread::Join() {
    if (handle_ == nullptr) return;
    // A wait without end returns only once the thread has ended, or with WAIT_FAILED for a handle
    // that is no thread's, which this one always is.
    static_cast<void>(WaitForSingleObject(handle_, INFINITE));
    static_cast<void>(CloseHandle(handle_));
    handle_ = nullptr;
}

#else

bool BoardThread::Start(std::function<void()> work, std::string& problem) {
    work_ = std::move(work);
    try {
        thread_ = std::thread(work_);
    } catch (const std::system_error& error) {
        problem = error.what();
        return false;
    }
    return true;
}

void BoardThread::Join() {
    if (thread_.joinable()) thread_.join();
}

#endif
