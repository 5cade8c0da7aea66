// Enumerating the HID interfaces through the device installation services, with Windows' size
// checks.
#include <setupapi.h>

#include <cstddef>
#include <memory>
#include <tuple>

#include "win32/kernel_fixture.h"

namespace {

const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD kFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

class SetupDiTest : public KernelTest {
  protected:
    void TearDown() override {
        EXPECT_TRUE(set == INVALID_HANDLE_VALUE || SetupDiDestroyDeviceInfoList(set));
        EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
        KernelTest::TearDown();
    }
    void OpenSet() {
        set = SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, kFlags);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
    }
    bool Enumerate(DWORD index, SP_DEVICE_INTERFACE_DATA* data,
                   DWORD size = sizeof(SP_DEVICE_INTERFACE_DATA)) {
        *data = {};
        data->cbSize = size;
        return SetupDiEnumDeviceInterfaces(set, nullptr, &kHidGuid, index, data) != FALSE;
    }
    // The two-step detail fetch, as the program does it; "" when either step goes wrong.
    std::string PathAt(DWORD index) {
        SP_DEVICE_INTERFACE_DATA data;
        DWORD required = 0;
        if (!Enumerate(index, &data) ||
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return "";
        }
        auto buffer = std::make_unique<uint8_t[]>(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        const bool ok =
            SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr);
        return ok ? detail->DevicePath : "";
    }

    HDEVINFO set = INVALID_HANDLE_VALUE;
};

// The list holds the interfaces present when it was made, in the order added; paths longer than
// MAX_PATH come whole. An interface whose detail fails still answers the size query.
TEST_F(SetupDiTest, EnumeratesPresentInterfacesInOrderAsTheyWereWhenListed) {
    sim::Board unplugged;
    unplugged.Unplug();
    sim::Board plugged;
    standin::HidInterface failing = BoardInterface(nullptr, "failing");
    failing.detailFails = true;
    const std::string longPath = "\\\\?\\hid#" + std::string(300, 'x') + "#{guid}";
    standin::AddHidInterface(BoardInterface(nullptr, "first"));
    standin::AddHidInterface(BoardInterface(&unplugged, "unplugged board"));
    standin::AddHidInterface(BoardInterface(&plugged, "plugged board"));
    standin::AddHidInterface(failing);
    standin::AddHidInterface(BoardInterface(nullptr, longPath));
    OpenSet();
    standin::AddHidInterface(BoardInterface(nullptr, "added later"));
    plugged.Unplug();
    std::vector<std::string> paths;
    SP_DEVICE_INTERFACE_DATA data;
    for (DWORD index = 0; Enumerate(index, &data); ++index) paths.push_back(PathAt(index));
    EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(paths, (std::vector<std::string>{"first", "plugged board", "", longPath}));

    ASSERT_TRUE(Enumerate(2, &data));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_NE(required, 0u);
}

TEST_F(SetupDiTest, RefusesAnotherKindOfListAndAnUnavailableSet) {
    EXPECT_EQ(SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, DIGCF_PRESENT),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kFlags | DIGCF_ALLCLASSES),
              INVALID_HANDLE_VALUE);
    standin::SetDeviceSetUnavailable(true);
    EXPECT_EQ(SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, kFlags), INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
}

// The enumeration takes only this build's record size (28 is the 32-bit record; this build's
// has the 64-bit pointer); the detail fetch wants the 64-bit fixed part and room for the path.
TEST_F(SetupDiTest, EnumerationAndDetailFetchFollowWindowsSizeRules) {
    const std::string path = "\\\\?\\hid#vid_1234&pid_5678#1&2&3&0000";
    standin::AddHidInterface(BoardInterface(nullptr, path));
    OpenSet();
    SP_DEVICE_INTERFACE_DATA data;
    for (DWORD size : {0u, 28u, static_cast<DWORD>(sizeof data) + 4}) {
        EXPECT_FALSE(Enumerate(0, &data, size)) << size;
        EXPECT_EQ(LastError(), ERROR_INVALID_USER_BUFFER) << size;
    }
    ASSERT_TRUE(Enumerate(0, &data));
    const DWORD required = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    ASSERT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 8u);

    std::vector<uint8_t> buffer(required + 16, 0xAA);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    // The record's cbSize (0: no record), the size passed, the error (ERROR_SUCCESS: the fetch
    // succeeds) and the size reported as required.
    const std::tuple<const char*, DWORD, DWORD, long, DWORD> cases[] = {
        {"size query", 0, 0, ERROR_INSUFFICIENT_BUFFER, required},
        {"size without buffer", 0, required, ERROR_INVALID_USER_BUFFER, 0},
        // The 32-bit fixed part, which a 64-bit build must not pass.
        {"cbSize 5", 5, required, ERROR_INVALID_USER_BUFFER, 0},
        {"cbSize 6", 6, required, ERROR_INVALID_USER_BUFFER, 0},
        {"one byte short", 8, required - 1, ERROR_INSUFFICIENT_BUFFER, required},
        {"exact", 8, required, ERROR_SUCCESS, required},
        {"larger", 8, required + 16, ERROR_SUCCESS, required},
    };
    for (const auto& [name, cbSize, size, error, requiredReported] : cases) {
        detail->cbSize = cbSize;
        DWORD reported = 0;
        SetLastError(ERROR_SUCCESS);
        const BOOL ok = SetupDiGetDeviceInterfaceDetailA(set, &data, cbSize ? detail : nullptr,
                                                         size, &reported, nullptr);
        EXPECT_EQ(ok != FALSE, error == ERROR_SUCCESS) << name;
        EXPECT_EQ(LastError(), error) << name;
        if (ok) {
            EXPECT_STREQ(detail->DevicePath, path.c_str()) << name;
        }
        EXPECT_EQ(reported, requiredReported) << name;
    }
}

TEST_F(SetupDiTest, DestroyedListIsGoneAndOnlySetupDiDestroysIt) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    OpenSet();
    EXPECT_EQ(standin::OpenHandleCount(), 1);
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 1);
    EXPECT_FALSE(CloseHandle(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(event));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(event));

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    SP_DEVICE_INTERFACE_DATA data;
    EXPECT_FALSE(Enumerate(0, &data));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    set = INVALID_HANDLE_VALUE;
}

}  // namespace
