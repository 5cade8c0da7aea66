// kelmtool.exe's link to the real board, built here against the Win32 stand-in: the interfaces
// it lists, the reports it carries, and what it says when it cannot.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "hardware_link.h"
#include "sim/board.h"
#include "win32/standin.h"

namespace {

constexpr char kFirstPath[] = "\\\\?\\hid#vid_03eb&pid_0001#1#{hid}";
constexpr char kOtherPath[] = "\\\\?\\hid#vid_046d&pid_c077#2#{hid}";
constexpr char kRefusingPath[] = "\\\\?\\hid#vid_03eb&pid_0001#3#{hid}";
constexpr char kSecondPath[] = "\\\\?\\hid#vid_03eb&pid_0001#4#{hid}";

standin::HidInterface Interface(const char* path, uint16_t vendor, sim::Board* board) {
    standin::HidInterface hid;
    hid.path = path;
    hid.vendorId = vendor;
    hid.productId = kBoardProductId;
    hid.board = board;
    return hid;
}

class Win32LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        standin::AddHidInterface(Interface(kFirstPath, kBoardVendorId, &first));
        standin::AddHidInterface(Interface(kOtherPath, 0x046D, &other));
        standin::HidInterface refusing = Interface(kRefusingPath, kBoardVendorId, &other);
        refusing.refusesOpen = true;
        standin::AddHidInterface(refusing);
        standin::AddHidInterface(Interface(kSecondPath, kBoardVendorId, &second));
    }
    void TearDown() override {
        EXPECT_EQ(standin::OpenHandleCount(), 0);
        EXPECT_EQ(standin::OpenDeviceInfoSets(), 0);
        EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    }

    sim::Board first, second, other;
};

// Only the boards that answer to the board's identity are listed, each opened for overlapped
// reports; an interface that cannot even be asked is passed over.
TEST_F(Win32LinkTest, ListsEveryBoardAndNothingElse) {
    const std::vector<BoardListing> boards = ListHardwareBoards();

    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].path, kFirstPath);
    EXPECT_EQ(boards[1].path, kSecondPath);
    for (const BoardListing& board : boards) {
        EXPECT_TRUE(board.openable) << board.problem;
        EXPECT_EQ(board.serial, "");  // the stand-in's HID.DLL has no serial-number entry
    }
}

TEST_F(Win32LinkTest, CarriesReportsBothWays) {
    std::unique_ptr<BoardLink> link;
    ASSERT_TRUE(OpenHardwareBoard(kSecondPath, link).ok());

    uint8_t status[kReportSize] = {};
    status[kCommandByte] = CMD_GET_STATUS;
    ASSERT_TRUE(link->WriteReport(status));
    uint8_t answer[kReportSize] = {};
    ASSERT_TRUE(link->GetFeature(answer));
    EXPECT_EQ(answer[kBusStateByte], kBusReleased);
    EXPECT_EQ(second.ExchangeCount(), 2u);
    EXPECT_EQ(first.ExchangeCount(), 0u);

    // An input report comes padded to its full size; none within the time is a timeout.
    uint8_t input[kInputReportSize] = {};
    second.QueueInputText(7, "kelm");
    ASSERT_EQ(link->ReadInput(input, 1000), InputRead::Report);
    EXPECT_EQ(input[kInputPositionByte], 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(input + kInputTextByte), 4), "kelm");
    EXPECT_EQ(link->ReadInput(input, 0), InputRead::Timeout);

    second.Unplug();
    EXPECT_FALSE(link->WriteReport(status));
    link.reset();
}

TEST_F(Win32LinkTest, SaysWhyABoardCannotBeOpened) {
    const struct {
        const char* name;
        const char* path;
        bool libraryLoadable;
        const char* removedEntry;
        std::string said;
    } cases[] = {
        {"another device", kOtherPath, true, "",
         std::string(kOtherPath) + " is not a kelm board (vendor 0x03EB, product 0x0001)"},
        {"held elsewhere", kRefusingPath, true, "",
         std::string("cannot open ") + kRefusingPath +
             ": access denied (another program may hold the board)"},
        {"no such path", "\\\\?\\gone", true, "", "cannot open \\\\?\\gone: system error 2"},
        {"no HID.DLL", kFirstPath, false, "", "cannot load HID.DLL: system error 126"},
        {"an entry point missing", kFirstPath, true, "HidD_SetFeature",
         "HID.DLL lacks one of HidD_GetHidGuid, HidD_GetAttributes, HidD_SetFeature and "
         "HidD_GetFeature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::SetHidLibraryLoadable(c.libraryLoadable);
        if (*c.removedEntry != '\0') standin::RemoveHidEntryPoint(c.removedEntry);
        std::unique_ptr<BoardLink> link;
        const Outcome opened = OpenHardwareBoard(c.path, link);
        EXPECT_EQ(opened.code(), ExitCode::NoBoard);
        EXPECT_EQ(opened.message(), c.said);
        EXPECT_EQ(link, nullptr);
        if (!c.libraryLoadable) {
            EXPECT_TRUE(ListHardwareBoards().empty());
        }
    }
}

}  // namespace
