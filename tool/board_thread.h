// The thread a board of --all or --each-new works in. On Windows a thread of Windows: the
// libstdc++ of MinGW's win32 thread model declares std::thread but cannot start one.
#pragma once

#include <functional>
#include <string>

#ifndef _WIN32
#include <thread>
#endif

class BoardThread {
  public:
    BoardThread() = default;
    ~BoardThread() { Join(); }
    BoardThread(const BoardThread&) = delete;
    BoardThread& operator=(const BoardThread&) = delete;

    // Runs work in a thread of its own; false, with why in problem, when none could be started.
    bool Start(std::function<void()> work, std::string& problem);
    // Waits for the work to end; at once when there is none.
    void Join();

  private:
    std::function<void()> work_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    std::thread thread_;
#endif
};
