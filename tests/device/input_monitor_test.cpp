// The input report monitor: how reports build the two lines, how the dialog renders them, and
// the thread's life - started, stopped, hung, failing, and kept off the board during transfers.
// These tests also run under ThreadSanitizer.
#include "device/input_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "support/app_fixture.h"
#include "support/board_fixture.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"

// A read that outlives its thread writes into the thread's returned frame: AddressSanitizer
// watches returned frames in these tests. The ThreadSanitizer build never asks for this.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDisconnected[] = "kelm has been disconnected.";
constexpr char kNotExiting[] = "Input thread not exiting in 3 seconds.";
constexpr char kBiosNotice[] = "Remember unplugging USB if you want to boot!\n";
constexpr char kNoBiosNotice[] = "No Bios is flashed into KELM!\nNo boot is possible!\n";
constexpr int kWaitMs = 5000;

std::string State(const char* state) { return std::string(state, kInputStateSize); }

// A state of zeros with text at position.
std::string StateWith(size_t position, const std::string& text) {
    std::string state(kInputStateSize, '\0');
    state.replace(position, text.size(), text);
    return state;
}

// Waits (real time) until the condition holds, dispatching posted messages meanwhile.
bool Eventually(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        standin::PumpMessages();
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int Dispatched(UINT message) {
    int count = 0;
    for (const standin::PostedRecord& record : standin::DispatchedMessages()) {
        if (record.message == message) ++count;
    }
    return count;
}

int InputReads(const sim::Board& board) {
    int count = 0;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction == sim::Direction::In && !entry.failed) ++count;
    }
    return count;
}

// ------------------------------------------------------------------------------ the program

class MonitorTest : public AppTest {
  protected:
    // The text MainDialogProc renders for MSG_INPUT_STATE, caught in a window that, unlike
    // dialog 101, has control 1002.
    std::string RenderedByDialog() {
        standin::ControlSpec display;
        display.id = IDC_INPUT_STATE;
        display.className = "STATIC";
        HWND window = standin::CreateTestDialog({display});
        MainDialogProc(window, MSG_INPUT_STATE, 0, 0);
        std::string text = standin::Text(window, IDC_INPUT_STATE);
        standin::DestroyTestDialog(window);
        return text;
    }

    bool WaitForInputStates(int count) {
        return Eventually([count] { return Dispatched(MSG_INPUT_STATE) >= count; });
    }

    std::string CurrentState() {
        char state[kInputStateSize];
        CopyInputState(state);
        return State(state);
    }
};

// Positions are read as signed 8 bits: every report is announced, but one past the two lines
// or negative writes nothing, and a piece is cut at the end of the second line.
TEST_F(MonitorTest, DialogRendersTheLinesUpToTheFirstZero) {
    RunConnected([&](HWND) {
        struct Step {
            int position;
            const char* piece;
            const char* shown;
        };
        const Step steps[] = {
            {18, "SECOND1", ""},  // the first line still holds zeros
            {0, "FIRST12", "FIRST12"},
            {7, "ABCDEFG", "FIRST12ABCDEFG"},
            {14, "HIJKLMN", "FIRST12ABCDEFGHIJK\r\nLMNOND1"},
            {29, "1234567", "FIRST12ABCDEFGHIJK\r\nLMNOND1"},
            {25, "abcdXYZ", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdXYZ4567"},
            {36, "zzzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdXYZ4567"},
            {-1, "zzzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdXYZ4567"},
            {-128, "zzzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdXYZ4567"},
            {35, "!zzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdXYZ456!"},
            {30, "*******", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdX******"},
            {37, "zzzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdX******"},
            {127, "zzzzzzz", "FIRST12ABCDEFGHIJK\r\nLMNOND1abcdX******"},
        };
        int received = 0;
        for (const Step& step : steps) {
            board.QueueInputText(step.position, step.piece);
            ASSERT_TRUE(WaitForInputStates(++received));
            EXPECT_EQ(RenderedByDialog(), step.shown) << "after position " << step.position;
        }
        EXPECT_EQ(CurrentState()[kInputStateSize - 1], '\0');
    });
}

TEST_F(MonitorTest, UnplugEndsTheProgram) {
    int result = RunConnected([&](HWND) {
        board.QueueInputText(0, "PRESENT");
        ASSERT_TRUE(WaitForInputStates(1));  // the monitor's own handle is open
        board.Unplug();
        ASSERT_TRUE(standin::WaitForMessage(MSG_MONITOR_FAILED, kWaitMs));
        EXPECT_TRUE(standin::DialogEnded());
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(MonitorThreadHandle, nullptr);
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{kDisconnected});
    EXPECT_EQ(Boxes()[0].caption, "Error");
    EXPECT_EQ(Boxes()[0].owner, nullptr);
    EXPECT_EQ(Boxes()[0].type, MB_ICONWARNING | MB_OK);
}

TEST_F(MonitorTest, DisconnectWithAWaitingMonitorReturnsAtOnce) {
    RunConnected([&](HWND) {
        board.QueueInputText(0, "WAITING");
        ASSERT_TRUE(WaitForInputStates(1));  // and now it waits for the next report
        auto start = Clock::now();
        Click(IDC_CONNECT);
        auto elapsed = Clock::now() - start;
        EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kNoBiosNotice}));
        EXPECT_EQ(standin::OpenHandleCount(), 1) << "only StopEvent is left";
    });
}

// However it is stopped, the monitor ends its pending read before its thread ends: the system
// writes a cancelled read's result into the read's record, a local of the thread.
TEST_F(MonitorTest, StopEndsThePendingReadBeforeTheThreadEnds) {
    RunConnected([&](HWND) {
        board.QueueInputText(0, "WAITING");
        ASSERT_TRUE(WaitForInputStates(1));  // and now its next read is pending
        Click(IDC_CONNECT);
        EXPECT_EQ(standin::RunningThreads(), 0) << "Disconnect waited for the thread";
        EXPECT_EQ(standin::ReadsOutlivingTheirThread(), 0) << "after Disconnect";

        Click(IDC_CONNECT);
        board.QueueInputText(0, "AGAIN..");
        ASSERT_TRUE(WaitForInputStates(2));
        Command(IDC_STOP_MONITOR);
        ASSERT_TRUE(Eventually([] { return standin::RunningThreads() == 0; }));
        EXPECT_EQ(standin::ReadsOutlivingTheirThread(), 0) << "after StopMonitor";
    });
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kNoBiosNotice}));
}

TEST_F(MonitorTest, HungThreadIsReportedAndLeftToEnd) {
    standin::SetWaitScale(0.01);
    Lay(0, Header("(C) ", "bios", 65536));
    RunConnected([&](HWND) {
        standin::HangNextMultipleWait();
        board.QueueInputText(0, "HANGING");
        ASSERT_TRUE(WaitForInputStates(1));

        Click(IDC_CONNECT);
        ASSERT_EQ(BoxTexts(), (std::vector<std::string>{kBiosNotice, kNotExiting}));
        EXPECT_EQ(Boxes()[1].caption, "Error");
        EXPECT_EQ(Boxes()[1].owner, nullptr);
        // The sequence went on: handle forgotten, window not connected.
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "Connect to kelm");
        EXPECT_EQ(Status(), "Disconnected.");

        // Let the thread go: it finds StopEvent set and closes its handles.
        standin::ReleaseHungWaits();
        EXPECT_TRUE(Eventually([] { return standin::OpenHandleCount() == 1; }));
    });
}

TEST_F(MonitorTest, NoReadStartsWhileATransferHoldsTheDeviceLock) {
    RunConnected([&](HWND) {
        EnterCriticalSection(&DeviceLock);
        int before = InputReads(board);
        board.QueueInputText(0, "ONE....");
        board.QueueInputText(7, "TWO....");
        board.QueueInputText(14, "THREE..");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // A read started before the lock was taken may complete; no new one starts.
        EXPECT_LE(InputReads(board), before + 1);
        LeaveCriticalSection(&DeviceLock);
        EXPECT_TRUE(Eventually([&] { return InputReads(board) == before + 3; }));
        ASSERT_TRUE(WaitForInputStates(3));
        EXPECT_EQ(CurrentState().substr(0, 18), "ONE....TWO....THRE");
    });
}

// A monitor started after StopMonitor must not be stopped by the event left set, and each
// connect starts from cleared lines.
TEST_F(MonitorTest, ConnectAfterStopMonitorStartsAFreshMonitor) {
    RunConnected([&](HWND) {
        board.QueueInputText(0, "OLDTEXT");
        ASSERT_TRUE(WaitForInputStates(1));
        Command(IDC_STOP_MONITOR);
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        // The old monitor ends by itself: StopEvent and the command channel are left.
        ASSERT_TRUE(Eventually([] { return standin::OpenHandleCount() == 2; }));
        EXPECT_TRUE(IsConnected());

        Click(IDC_CONNECT);  // disconnect: no monitor to wait for
        Click(IDC_CONNECT);
        ASSERT_NE(MonitorThreadHandle, nullptr);
        board.QueueInputText(18, "NEWTEXT");
        EXPECT_TRUE(WaitForInputStates(2));
        EXPECT_EQ(CurrentState(), StateWith(18, "NEWTEXT"));
    });
}

// ------------------------------------------------------------------------------ the routines

// The routines on their own: a window without a procedure (its posted messages are only
// recorded) and a StopEvent of the test's own.
using MonitorRoutinesTest = BoardTest;

TEST_F(MonitorRoutinesTest, OpenFailureIsReportedAndDisconnectFindsNothingToWaitFor) {
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(StopEvent, nullptr);
    std::strcpy(DevicePath, "\\\\?\\hid#vid_03eb&pid_0001#gone");
    HANDLE thread = StartMonitor();
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(standin::WaitForMessage(MSG_MONITOR_FAILED, kWaitMs));
    const standin::PostedRecord failure = standin::DispatchedMessages().back();
    EXPECT_EQ(failure.message, static_cast<UINT>(MSG_MONITOR_FAILED));
    EXPECT_STREQ(reinterpret_cast<const char*>(failure.wParam), "CreateFile failed (Error 2)");

    Disconnect(thread);
    EXPECT_FALSE(IsConnected());
    Disconnect(nullptr);  // a closed channel is left alone
    EXPECT_TRUE(BoxTexts().empty()) << "the thread had ended: nothing to wait for";
    CloseHandle(StopEvent);
    StopEvent = nullptr;
}

}  // namespace
