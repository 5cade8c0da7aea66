// Last error per thread, and the handle table with its reset.
#include <thread>

#include "win32/kernel_fixture.h"

namespace {

using LastErrorTest = KernelTest;

TEST_F(LastErrorTest, IsKeptPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    long seenByOther = 0;
    std::thread([&] {
        SetLastError(ERROR_GEN_FAILURE);
        seenByOther = LastError();
    }).join();
    EXPECT_EQ(seenByOther, ERROR_GEN_FAILURE);
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
}

using HandleTableTest = KernelTest;

// Closed, never opened, or forgotten by a reset: CloseHandle fails as Windows does.
TEST_F(HandleTableTest, CloseHandleFailsForHandlesThatAreNotOpen) {
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE forgotten = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(standin::OpenHandleCount(), 1);
    standin::Reset();
    EXPECT_EQ(standin::OpenHandleCount(), 0);
    EXPECT_FALSE(SetEvent(forgotten));
    const HANDLE never = reinterpret_cast<HANDLE>(uintptr_t{0x12345});
    for (HANDLE handle : {closed, forgotten, HANDLE{}, INVALID_HANDLE_VALUE, never}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(handle)) << handle;
        EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE) << handle;
    }
}

}  // namespace
