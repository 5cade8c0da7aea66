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

Texts BoxTexts() {
    Texts texts;
    for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) texts.push_back(box.text);
    return texts;
}

standin::HidInterface Kelm(const std::string& path, sim::Board* board) {
    standin::HidInterface hid;
    hid.path = path;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = board;
    return hid;
}

class HidAccessTest : public ::testing::Test {
  protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { Release(); }

    void Fresh() {
        standin::Reset();
        DevicePath[0] = '\0';  // left over from an earlier test otherwise
    }
    // Closing twice must be harmless: TearDown closes again after the last case.
    void Release() {
        CloseCommandChannel();
        EXPECT_FALSE(IsConnected());
        ReleaseHidLibrary();
        EXPECT_EQ(standin::OpenHandleCount(), 0);
        EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
        EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    }

    sim::Board board;
    sim::Board other;
};

// An interface in front of the board's: taken when it is a kelm, else passed over silently.
TEST_F(HidAccessTest, FirstBoardIsTakenAndEveryOtherInterfacePassedOverSilently) {
    const struct {
        const char* name;
        uint16_t vendorId, productId;
        bool refusesOpen, detailFails, attributesFail;
        size_t pathLength;  // 0: an ordinary path
        bool opened, taken;
        size_t attributeFetches;
    } cases[] = {
        {"a second board is never opened", 0x03EB, 0x0001, false, false, false, 0, true, true, 1},
        {"vendor only", 0x03EB, 0x0002, false, false, false, 0, true, false, 2},
        {"product only", 0x1234, 0x0001, false, false, false, 0, true, false, 2},
        {"attributes fail", 0x03EB, 0x0001, false, false, true, 0, true, false, 2},
        {"refuses to open", 0x03EB, 0x0001, true, false, false, 0, true, false, 1},
        {"detail fails", 0x03EB, 0x0001, false, true, false, 0, false, false, 1},
        // DevicePath holds 260 characters with the terminator; a longer path must not overrun it,
        // and one shorter than the detail record's padded fixed part must work too.
        {"path of 1", 0x03EB, 0x0001, false, false, false, 1, true, true, 1},
        {"path of 259", 0x03EB, 0x0001, false, false, false, 259, true, true, 1},
        {"path of 260", 0x03EB, 0x0001, false, false, false, 260, false, false, 1},
        {"path of 1000", 0x03EB, 0x0001, false, false, false, 1000, false, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        standin::HidInterface front = Kelm(kOtherPath, &other);
        front.vendorId = c.vendorId;
        front.productId = c.productId;
        front.refusesOpen = c.refusesOpen;
        front.detailFails = c.detailFails;
        front.attributesFail = c.attributesFail;
        if (c.pathLength != 0) front.path.assign(c.pathLength, 'p');
        standin::AddHidInterface(front);
        standin::AddHidInterface(Kelm(kBoardPath, &board));
        ASSERT_TRUE(BindHidLibrary());

        EXPECT_EQ(OpenBoard(), 1);

        Texts expected;
        if (c.opened) expected.push_back(front.path);
        if (!c.taken) expected.push_back(kBoardPath);
        Texts opened;
        for (const standin::OpenRecord& open : standin::DeviceOpens()) {
            opened.push_back(open.path);
            EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE);
            EXPECT_EQ(open.share, FILE_SHARE_READ | FILE_SHARE_WRITE);
            EXPECT_EQ(open.flags, 0u);  // synchronous
        }
        EXPECT_EQ(opened, expected);
        EXPECT_TRUE(IsConnected());
        EXPECT_EQ(std::string(DevicePath), c.taken ? front.path : kBoardPath);
        EXPECT_EQ(standin::OpenHandleCount(), 1);
        // The records carry this build's sizes (SetupDi refuses others), not the 32-bit 28, 5, 10.
        EXPECT_EQ(standin::HidAttributeSizes(),
                  std::vector<ULONG>(c.attributeFetches, sizeof(HIDD_ATTRIBUTES)));
        EXPECT_TRUE(BoxTexts().empty());
        Release();
    }
}

TEST_F(HidAccessTest, UnavailableDeviceSetIsReported) {
    standin::AddHidInterface(Kelm(kBoardPath, &board));
    standin::SetDeviceSetUnavailable(true);
    ASSERT_TRUE(BindHidLibrary());

    EXPECT_EQ(OpenBoard(), 0);

    EXPECT_TRUE(standin::DeviceOpens().empty());
    EXPECT_EQ(std::string(DevicePath), "");
    EXPECT_EQ(BoxTexts(), Texts{"Failed to open handle to HID device set."});
}

// No library, or one without an entry point: HidD_SetFeature is never called, yet a library
// without it is refused like the others.
TEST_F(HidAccessTest, BindingFailsWithOneErrorBoxAndReleasesTheLibrary) {
    for (const std::string missing :
         {"", "HidD_GetHidGuid", "HidD_GetAttributes", "HidD_SetFeature", "HidD_GetFeature"}) {
        SCOPED_TRACE(missing);
        Fresh();
        if (missing.empty()) standin::SetHidLibraryLoadable(false);
        if (!missing.empty()) standin::RemoveHidEntryPoint(missing);

        EXPECT_FALSE(BindHidLibrary());

        EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
        const std::vector<standin::MessageBoxRecord> boxes = standin::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, missing.empty() ? "Failed to load HID.DLL."
                                                 : "Couldn't find one or more HID entry points.");
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONWARNING);
    }
}

}  // namespace
