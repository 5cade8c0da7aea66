// Last error per thread, the handle table and the reset.
#include <setupapi.h>

#include <thread>

#include "win32/kernel_fixture.h"

namespace {

using LastErrorTest = KernelTest;

TEST_F(LastErrorTest, IsKeptPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOther = 0;
    std::thread other([&] {
        SetLastError(ERROR_GEN_FAILURE);
        seenByOther = GetLastError();
    });
    other.join();
    EXPECT_EQ(seenByOther, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

using HandleTableTest = KernelTest;

TEST_F(HandleTableTest, CloseHandleFailsForHandlesThatAreNotOpen) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_TRUE(CloseHandle(event));

    const HANDLE bad[] = {event, nullptr, INVALID_HANDLE_VALUE,
                          reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x12345))};
    for (HANDLE handle : bad) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(handle)) << handle;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << handle;
    }
}

TEST_F(HandleTableTest, CountsKernelHandlesButNotDeviceInfoSets) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    GUID hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenHandleCount(), 1);
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 1);

    // A device information set is released by SetupDi only, an event never by it.
    EXPECT_FALSE(CloseHandle(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(standin::OpenHandleCount(), 0);
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
}

using KernelResetTest = KernelTest;

TEST_F(KernelResetTest, ForgetsOpenHandlesWithoutClosingThem) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(standin::OpenHandleCount(), 1);
    standin::Reset();
    EXPECT_EQ(standin::OpenHandleCount(), 0);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_FALSE(CloseHandle(event));
}

}  // namespace
