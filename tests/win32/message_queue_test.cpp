#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <thread>
#include <vector>

#include "user_test.h"
#include "win32/standin.h"

namespace {

constexpr UINT kInputState = WM_USER + 100;
constexpr UINT kMonitorFailed = WM_USER + 102;
constexpr int kStatus = 1005;

class MessageQueueTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        dialog = standin::CreateTestDialog(
            {Spec(kStatus, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_CENTER)}, RecordingProc);
    }
    HWND dialog = nullptr;
};

TEST_F(MessageQueueTest, PostedMessagesWaitForTheLoopAndKeepTheirOrder) {
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 1, 10));
    ASSERT_TRUE(PostMessageA(dialog, kMonitorFailed, 2, 20));
    EXPECT_TRUE(ProcCalls().empty());
    EXPECT_EQ(standin::PumpMessages(), 2);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{kInputState, kMonitorFailed}));
    std::vector<standin::PostedRecord> dispatched = standin::DispatchedMessages();
    ASSERT_EQ(dispatched.size(), 2u);
    EXPECT_EQ(dispatched[1].window, dialog);
    EXPECT_EQ(dispatched[1].wParam, 2u);
    EXPECT_EQ(dispatched[1].lParam, 20);
    EXPECT_EQ(standin::PumpMessages(), 0);
}

TEST_F(MessageQueueTest, PostedToAControlItIsHandledAsSent) {
    ASSERT_TRUE(PostMessageA(GetDlgItem(dialog, kStatus), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>("Done!")));
    EXPECT_EQ(standin::PumpMessages(), 1);
    EXPECT_EQ(standin::Text(dialog, kStatus), "Done!");
}

TEST_F(MessageQueueTest, PostingToNoWindow) {
    int notAWindow = 0;
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(&notAWindow), kInputState, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    // A null window is the thread's own queue: accepted, and dropped by the loop.
    EXPECT_TRUE(PostMessageA(nullptr, kInputState, 0, 0));
    EXPECT_EQ(standin::PumpMessages(), 0);
    EXPECT_TRUE(standin::DispatchedMessages().empty());
}

TEST_F(MessageQueueTest, MessagesForAWindowDestroyedMeanwhileAreDropped) {
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    standin::DestroyTestDialog(dialog);
    EXPECT_EQ(standin::PumpMessages(), 0);
    EXPECT_TRUE(ProcCalls().empty());
}

// A window that posts to itself while handling a message does not keep one pump going.
TEST_F(MessageQueueTest, PumpDispatchesOnlyWhatWasQueuedWhenItStarted) {
    ProcHandler() = [](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == kInputState) PostMessageA(window, kInputState, 0, 0);
        return FALSE;
    };
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    EXPECT_EQ(standin::PumpMessages(), 1);
    EXPECT_EQ(standin::PumpMessages(), 1);
    EXPECT_EQ(ProcCalls().size(), 2u);
}

TEST_F(MessageQueueTest, WaitForMessageDispatchesWhatAnotherThreadPosts) {
    constexpr int kReports = 200;
    std::thread monitor([this] {
        for (int i = 0; i < kReports; ++i) PostMessageA(dialog, kInputState, i, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessageA(dialog, kMonitorFailed, 0, 0);
    });
    bool arrived = standin::WaitForMessage(kMonitorFailed, 5000);
    monitor.join();
    EXPECT_TRUE(arrived);
    std::vector<UINT> messages = ProcMessages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(kReports + 1));
    for (int i = 0; i < kReports; ++i) {
        ASSERT_EQ(ProcCalls()[i].message, kInputState);
        ASSERT_EQ(ProcCalls()[i].wParam, static_cast<WPARAM>(i)) << "out of order";
    }
    EXPECT_EQ(messages.back(), kMonitorFailed);
}

// Only a dispatch during the wait counts, and the wait gives up after its time.
TEST_F(MessageQueueTest, WaitForMessageTimesOut) {
    ASSERT_TRUE(PostMessageA(dialog, kMonitorFailed, 0, 0));
    EXPECT_EQ(standin::PumpMessages(), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(standin::WaitForMessage(kMonitorFailed, 50));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(5));

    // Other messages go through meanwhile without ending the wait.
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    EXPECT_FALSE(standin::WaitForMessage(kMonitorFailed, 20));
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{kMonitorFailed, kInputState}));
}

TEST_F(MessageQueueTest, ResetEmptiesTheQueue) {
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    ASSERT_EQ(standin::PumpMessages(), 1);
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    standin::Reset();
    EXPECT_EQ(standin::PumpMessages(), 0);
    EXPECT_TRUE(standin::DispatchedMessages().empty());
}

}  // namespace
