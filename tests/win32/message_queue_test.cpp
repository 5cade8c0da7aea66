// Posted messages: from any thread, dispatched in order on the thread that pumps or waits.
#include <chrono>
#include <thread>

#include "user_test.h"

namespace {

constexpr UINT kInputState = WM_USER + 100;
constexpr UINT kMonitorFailed = WM_USER + 102;

class MessageQueueTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        dialog = standin::CreateTestDialog({}, RecordingProc);
    }
    HWND dialog = nullptr;
};

// The monitor thread posts while the main thread waits and dispatches.
TEST_F(MessageQueueTest, WaitDispatchesWhatAnotherThreadPostsInOrder) {
    constexpr int kReports = 200;
    std::thread monitor([this] {
        for (int i = 0; i < kReports; ++i) PostMessageA(dialog, kInputState, i, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessageA(dialog, kMonitorFailed, 0, 0);
    });
    bool arrived = standin::WaitForMessage(kMonitorFailed, 5000);
    monitor.join();
    EXPECT_TRUE(arrived);
    ASSERT_EQ(ProcCalls().size(), static_cast<size_t>(kReports + 1));
    for (int i = 0; i < kReports; ++i) ASSERT_EQ(ProcCalls()[i].wParam, static_cast<WPARAM>(i));
    // Only a dispatch during the wait counts.
    EXPECT_FALSE(standin::WaitForMessage(kMonitorFailed, 30));
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
}

TEST_F(MessageQueueTest, MessagesForAWindowThatIsGoneAreRefusedOrDropped) {
    ASSERT_TRUE(PostMessageA(dialog, kInputState, 0, 0));
    standin::DestroyTestDialog(dialog);
    EXPECT_FALSE(PostMessageA(dialog, kInputState, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(standin::PumpMessages(), 0);
    EXPECT_TRUE(ProcCalls().empty());
}

}  // namespace
