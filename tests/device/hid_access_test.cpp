#include "device/hid_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <hidsdi.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "win32/standin.h"

namespace {

using Texts = std::vector<std::string>;

constexpr char kBoardPath[] = "\\\\?\\hid#vid_03eb&pid_0001#7&11111111&0&0000#{hid}";
constexpr char kOtherPath[] = "\\\\?\\hid#vid_03eb&pid_0001#7&22222222&0&0000#{hid}";

// Discovery from a clean stand-in: each test places the interfaces itself.
class HidAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        DevicePath[0] = '\0';  // left over from an earlier test otherwise
    }
    void TearDown() override {
        CloseCommandChannel();
        ReleaseHidLibrary();
        EXPECT_EQ(standin::OpenHandleCount(), 0);
        EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
        EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    }

    standin::HidInterface Interface(const std::string& path, sim::Board* board) {
        standin::HidInterface hid;
        hid.path = path;
        hid.vendorId = sim::kVendorId;
        hid.productId = sim::kProductId;
        hid.board = board;
        return hid;
    }
    static Texts OpenedPaths() {
        Texts paths;
        for (const standin::OpenRecord& open : standin::DeviceOpens()) paths.push_back(open.path);
        return paths;
    }
    static Texts BoxTexts() {
        Texts texts;
        for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    sim::Board board;
    sim::Board other;
};

TEST_F(HidAccessTest, FirstBoardInTheEnumerationWinsAndTheSecondIsNeverOpened) {
    standin::AddHidInterface(Interface(kBoardPath, &board));
    standin::AddHidInterface(Interface(kOtherPath, &other));
    ASSERT_TRUE(BindHidLibrary());

    EXPECT_EQ(OpenBoard(), 1);

    EXPECT_TRUE(IsConnected());
    EXPECT_STREQ(DevicePath, kBoardPath);
    ASSERT_EQ(OpenedPaths(), Texts{kBoardPath});
    standin::OpenRecord open = standin::DeviceOpens()[0];
    EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(open.share, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(open.flags, 0u);  // synchronous
    EXPECT_EQ(standin::OpenHandleCount(), 1);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(standin::HidCalls(), (Texts{"HidD_GetHidGuid", "HidD_GetAttributes"}));
    // The records carry this build's sizes (SetupDi refuses others), not the 32-bit 28, 5, 10.
    EXPECT_EQ(standin::HidAttributeSizes(), std::vector<ULONG>{sizeof(HIDD_ATTRIBUTES)});
}

struct NotTheBoard {
    const char* name;
    uint16_t vendorId;
    uint16_t productId;
    bool refusesOpen;
    bool detailFails;
    bool attributesFail;
    bool opened;  // an open is attempted
};

class NotTheBoardTest : public HidAccessTest, public ::testing::WithParamInterface<NotTheBoard> {};

// Passed over without a message; a device that opens is closed again at once.
TEST_P(NotTheBoardTest, IsSkippedSilentlyAndTheBoardBehindItFound) {
    const NotTheBoard& p = GetParam();
    standin::HidInterface hid = Interface(kOtherPath, &other);
    hid.vendorId = p.vendorId;
    hid.productId = p.productId;
    hid.refusesOpen = p.refusesOpen;
    hid.detailFails = p.detailFails;
    hid.attributesFail = p.attributesFail;
    standin::AddHidInterface(hid);
    standin::AddHidInterface(Interface(kBoardPath, &board));
    ASSERT_TRUE(BindHidLibrary());

    EXPECT_EQ(OpenBoard(), 1);

    EXPECT_STREQ(DevicePath, kBoardPath);
    EXPECT_EQ(OpenedPaths(), (p.opened ? Texts{kOtherPath, kBoardPath} : Texts{kBoardPath}));
    EXPECT_EQ(standin::OpenHandleCount(), 1);
    EXPECT_TRUE(BoxTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, NotTheBoardTest,
    ::testing::Values(NotTheBoard{"VendorOnly", 0x03EB, 0x0002, false, false, false, true},
                      NotTheBoard{"ProductOnly", 0x1234, 0x0001, false, false, false, true},
                      NotTheBoard{"AttributesFail", 0x03EB, 0x0001, false, false, true, true},
                      NotTheBoard{"RefusesOpen", 0x03EB, 0x0001, true, false, false, true},
                      NotTheBoard{"DetailFails", 0x03EB, 0x0001, false, true, false, false}),
    [](const ::testing::TestParamInfo<NotTheBoard>& info) { return info.param.name; });

class DevicePathLengthTest : public HidAccessTest,
                             public ::testing::WithParamInterface<std::pair<size_t, bool>> {};

// DevicePath holds 260 characters with the terminator; a longer path must not overrun it.
TEST_P(DevicePathLengthTest, FitsTheStoreOrTheInterfaceIsSkipped) {
    const auto [length, taken] = GetParam();
    std::string path(length, 'p');
    standin::AddHidInterface(Interface(path, &board));
    ASSERT_TRUE(BindHidLibrary());

    EXPECT_EQ(OpenBoard(), taken ? 1 : 0);

    EXPECT_EQ(OpenedPaths(), taken ? Texts{path} : Texts{});
    EXPECT_EQ(std::string(DevicePath), taken ? path : "");
    EXPECT_TRUE(BoxTexts().empty());
}

// Paths shorter than the detail record's padded fixed part must work too.
INSTANTIATE_TEST_SUITE_P(Lengths, DevicePathLengthTest,
                         ::testing::Values(std::make_pair(1, true), std::make_pair(259, true),
                                           std::make_pair(260, false),
                                           std::make_pair(1000, false)));

TEST_F(HidAccessTest, UnavailableDeviceSetIsReported) {
    standin::AddHidInterface(Interface(kBoardPath, &board));
    standin::SetDeviceSetUnavailable(true);
    ASSERT_TRUE(BindHidLibrary());

    EXPECT_EQ(OpenBoard(), 0);

    EXPECT_TRUE(standin::DeviceOpens().empty());
    EXPECT_EQ(BoxTexts(), Texts{"Failed to open handle to HID device set."});
}

TEST_F(HidAccessTest, MissingHidLibraryFailsTheBinding) {
    standin::SetHidLibraryLoadable(false);

    EXPECT_FALSE(BindHidLibrary());
    EXPECT_EQ(BoxTexts(), Texts{"Failed to load HID.DLL."});
}

class MissingEntryPointTest : public HidAccessTest,
                              public ::testing::WithParamInterface<const char*> {};

// HidD_SetFeature is never called, yet a library without it is refused like the others.
TEST_P(MissingEntryPointTest, FailsTheBindingAndReleasesTheLibrary) {
    standin::RemoveHidEntryPoint(GetParam());

    EXPECT_FALSE(BindHidLibrary());

    EXPECT_EQ(BoxTexts(), Texts{"Couldn't find one or more HID entry points."});
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, MissingEntryPointTest,
                         ::testing::Values("HidD_GetHidGuid", "HidD_GetAttributes",
                                           "HidD_SetFeature", "HidD_GetFeature"));

TEST_F(HidAccessTest, CloseCommandChannelClosesOnceAndThenDoesNothing) {
    standin::AddHidInterface(Interface(kBoardPath, &board));
    ASSERT_TRUE(BindHidLibrary());
    ASSERT_EQ(OpenBoard(), 1);

    CloseCommandChannel();
    EXPECT_FALSE(IsConnected());
    EXPECT_EQ(standin::OpenHandleCount(), 0);
    CloseCommandChannel();
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(HidAccessTest, ShowErrorIsAnOwnerlessWarningWithOk) {
    ShowError("Something failed.");

    std::vector<standin::MessageBoxRecord> boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONWARNING);
}

}  // namespace
