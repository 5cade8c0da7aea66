// Shared by the tests of the stand-in's window half: a fixture that resets the stand-in, and a
// dialog procedure that records what it is sent and answers as the test says.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win32/standin.h"

struct ProcCall {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<ProcCall>& ProcCalls() {
    static std::vector<ProcCall> calls;
    return calls;
}
// The test's answer; without one the procedure handles nothing (FALSE).
inline std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>& ProcHandler() {
    static std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handler;
    return handler;
}

inline INT_PTR CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ProcCalls().push_back({message, wParam, lParam});
    auto handler = ProcHandler();
    return handler ? handler(window, message, wParam, lParam) : FALSE;
}

inline std::vector<UINT> ProcMessages() {
    std::vector<UINT> messages;
    for (const ProcCall& call : ProcCalls()) messages.push_back(call.message);
    return messages;
}

// The identifiers of the WM_COMMANDs received, in order.
inline std::vector<int> ProcCommands() {
    std::vector<int> ids;
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == WM_COMMAND) ids.push_back(LOWORD(call.wParam));
    }
    return ids;
}

class UserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        ProcCalls().clear();
        ProcHandler() = nullptr;
    }
    void TearDown() override {
        ProcHandler() = nullptr;
        standin::Reset();
    }
};
