// The main window as the user meets it: start-up, the first look, connect, disconnect, closing,
// the private messages and what happens when commands arrive during an operation's error box.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;
constexpr UINT kErrorBox = MB_ICONWARNING | MB_OK;

constexpr char kTitle[] = "kelm flash software v1.1  rev. 1";
constexpr char kConnectFailed[] = "Failed to connect to kelm.\n\nTry to re-plug the USB cable";
constexpr char kNoDeviceSet[] = "Failed to open handle to HID device set.";
constexpr char kBiosNotice[] = "Remember unplugging USB if you want to boot!\n";
constexpr char kNoBiosNotice[] = "No Bios is flashed into KELM!\nNo boot is possible!\n";
constexpr char kStatusReadFailed[] = "Error reading CMD_GET_STATUS response.";

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kUnknown[4] = {'X', 'Y', 'Z', 'W'};

constexpr int kFlashMenuButtons[] = {IDC_WRITE, IDC_READ, IDC_ERASE, IDC_ABORT, IDC_FORMAT};
constexpr int kPanelButtons[] = {IDC_PANEL_READ, IDC_PANEL_WRITE, IDC_PANEL_ERASE,  IDC_BLANK_CHECK,
                                 IDC_PROGRAM,    IDC_UPLOAD,      IDC_STOP_MONITOR, IDC_VERIFY};

// Every control's text, enabled state and check, to tell "nothing changed" at a glance.
std::string Snapshot(HWND dialog) {
    std::ostringstream out;
    out << standin::Title(dialog) << "\n";
    for (const standin::ControlInfo& control : standin::Controls(dialog)) {
        out << control.id << " '" << control.text << "' "
            << ((control.style & WS_DISABLED) ? "off" : "on") << " " << control.check << "\n";
    }
    return out.str();
}

// The command lines of the board's transcript ("> ..."), data runs left out.
std::vector<std::string> CommandLines(const std::string& transcript) {
    std::vector<std::string> lines;
    std::istringstream in(transcript);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("> ", 0) == 0 && line.rfind("> data", 0) != 0) lines.push_back(line);
    }
    return lines;
}

class MainDialogTest : public AppTest {
  protected:
    // BIOS in slots 0-1, an ELF image in slot 2, an unknown header in slot 5, the rest erased.
    void LayOutBoard() {
        Lay(0, Header(kBios, "kelm bios", 131072));
        Lay(2 * kSlot, Header(kElf, "C:\\games\\demo.elf", 65536));
        Lay(5 * kSlot, Header(kUnknown, "junk", 65536));
    }

    void ExpectErrorBox(const standin::MessageBoxRecord& box, const std::string& text) {
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.type, kErrorBox);
    }

    std::vector<std::string> SlotCaptions() const {
        std::vector<std::string> captions;
        for (int slot = 0; slot < kSlotCount; ++slot) captions.push_back(SlotCaption(slot));
        return captions;
    }
};

// ------------------------------------------------------------------------------ start-up

TEST_F(MainDialogTest, WithoutHidLibraryOneBoxAndNoWindow) {
    standin::SetHidLibraryLoadable(false);
    bool windowShown = false;
    EXPECT_EQ(Run([&](HWND) { windowShown = true; }), 0);
    EXPECT_FALSE(windowShown);
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectErrorBox(Boxes()[0], "Failed to load HID.DLL.");
}

class MissingEntryPointTest : public MainDialogTest,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingEntryPointTest, OneBoxAndNoWindow) {
    standin::RemoveHidEntryPoint(GetParam());
    bool windowShown = false;
    EXPECT_EQ(Run([&](HWND) { windowShown = true; }), 0);
    EXPECT_FALSE(windowShown);
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectErrorBox(Boxes()[0], "Couldn't find one or more HID entry points.");
    // TearDown: the library was released again.
}

INSTANTIATE_TEST_SUITE_P(EachEntryPoint, MissingEntryPointTest,
                         ::testing::Values("HidD_GetHidGuid", "HidD_GetAttributes",
                                           "HidD_SetFeature", "HidD_GetFeature"));

TEST_F(MainDialogTest, FirstLookOfTheWindow) {
    EXPECT_EQ(Run([&](HWND) {
                  EXPECT_EQ(standin::Title(dialog), kTitle);
                  EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Connect to kelm");
                  EXPECT_EQ(Status(), "Not connected to kelm.");
                  EXPECT_EQ(SlotCaption(0), "BIOS");
                  for (int slot = 1; slot < kSlotCount; ++slot) EXPECT_EQ(SlotCaption(slot), "");
                  EXPECT_TRUE(EnabledSlots().empty());
                  EXPECT_TRUE(CheckedSlots().empty());
                  for (int id : kFlashMenuButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
                  for (int id : kPanelButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
                  EXPECT_TRUE(standin::Enabled(dialog, IDC_CONNECT));
                  EXPECT_FALSE(IsConnected());
                  EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
                  EXPECT_EQ(MonitorThreadHandle, nullptr);
              }),
              0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(board.ExchangeCount(), 0u);
}

// A run must not inherit the catalogue, the menu mode or the monitor of an earlier one.
TEST_F(MainDialogTest, EverySessionStartsFromTheLoadedState) {
    LayOutBoard();
    RunConnected([&](HWND) { Click(IDC_READ); });
    ASSERT_EQ(FlashMenuMode, MenuMode::Read);
    Run([&](HWND) {
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            EXPECT_EQ(SlotMap[slot].state, Free) << slot;
            EXPECT_EQ(SlotMap[slot].owner, 0) << slot;
        }
        EXPECT_EQ(HeaderDirectory[0].magic[0], 0);
        // Not connected, so the notice of a disconnect would say there is no BIOS.
        SetFlashMenuMode(dialog, MenuMode::Idle);
        EXPECT_TRUE(EnabledSlots().empty());
    });
}

// ------------------------------------------------------------------------------ connect

TEST_F(MainDialogTest, ConnectWithoutBoardChangesNothingButTheBox) {
    RemoveBoard();
    Run([&](HWND) {
        std::string before = Snapshot(dialog);
        Click(IDC_CONNECT);
        ASSERT_EQ(Boxes().size(), 1u);
        ExpectErrorBox(Boxes()[0], kConnectFailed);
        EXPECT_EQ(Snapshot(dialog), before);
        EXPECT_FALSE(standin::Enabled(dialog, IDC_FORMAT));
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(MonitorThreadHandle, nullptr);
    });
}

TEST_F(MainDialogTest, ConnectWithDeviceSetUnavailableShowsBothBoxesInOrder) {
    standin::SetDeviceSetUnavailable(true);
    Run([&](HWND) {
        Click(IDC_CONNECT);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kNoDeviceSet, kConnectFailed}));
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Connect to kelm");
        EXPECT_EQ(Status(), "Not connected to kelm.");
    });
}

TEST_F(MainDialogTest, ConnectQueriesStatusTwiceThenScansAndEntersIdle) {
    LayOutBoard();
    RunConnected([&](HWND) {
        std::vector<std::string> commands = CommandLines(board.Transcript());
        ASSERT_GE(commands.size(), 3u);
        EXPECT_EQ(commands[0], "> GET_STATUS");
        EXPECT_EQ(commands[1], "> GET_STATUS");
        EXPECT_EQ(commands[2], "> BUS request") << "the scan follows the two queries";

        std::vector<std::string> statuses = standin::TextHistory(dialog, IDC_STATUS);
        auto connected = std::find(statuses.begin(), statuses.end(), "Connected.");
        EXPECT_NE(connected, statuses.end());
        EXPECT_EQ(statuses.back(), "KELM OK!");
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Disconnect");

        EXPECT_EQ(SlotCaption(0), "BIOS");
        EXPECT_EQ(SlotCaption(1), "...");
        EXPECT_EQ(SlotCaption(2), "Appl.");
        EXPECT_EQ(SlotCaption(5), "???");
        EXPECT_EQ(SlotCaption(31), "free");
        EXPECT_EQ(EnabledSlots(), (std::vector<int>{0, 1, 2, 5}));
        EXPECT_TRUE(CheckedSlots().empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_WRITE));
        EXPECT_TRUE(standin::Enabled(dialog, IDC_READ));
        EXPECT_TRUE(standin::Enabled(dialog, IDC_ERASE));
        EXPECT_FALSE(standin::Enabled(dialog, IDC_ABORT));
        EXPECT_TRUE(standin::Enabled(dialog, IDC_FORMAT));
        for (int id : kPanelButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
        EXPECT_TRUE(IsConnected());
        EXPECT_NE(MonitorThreadHandle, nullptr);
        EXPECT_TRUE(Boxes().empty());
    });
    // The monitor opened a handle of its own, overlapped, on the same path.
    std::vector<standin::OpenRecord> opens = standin::DeviceOpens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].flags, 0u);
    EXPECT_EQ(opens[1].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(opens[1].path, opens[0].path);
    EXPECT_EQ(opens[1].access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(opens[1].share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
}

// ------------------------------------------------------------------------------ disconnect

struct NoticeCase {
    const char* name;
    std::vector<uint8_t> slot0;  // empty: erased
    const char* text;
    const char* title;
};

class DisconnectNoticeTest : public MainDialogTest,
                             public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(DisconnectNoticeTest, NoticeFollowsSlotZeroOfTheLastScan) {
    if (!GetParam().slot0.empty()) Lay(0, GetParam().slot0);
    RunConnected([&](HWND) {
        // The notice reads the last scan, not the board.
        board.FillFlash(0xFF);
        standin::ClearMessageBoxes();
        Click(IDC_CONNECT);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, GetParam().text);
        EXPECT_EQ(Boxes()[0].caption, GetParam().title);
        EXPECT_EQ(Boxes()[0].owner, dialog);
        EXPECT_EQ(Boxes()[0].type, MB_ICONWARNING | MB_OK);
    });
}

std::vector<uint8_t> WithMagic(const char (&magic)[5]) {
    std::vector<uint8_t> header = AppTest::Header(magic, "slot zero", 65536);
    return header;
}

INSTANTIATE_TEST_SUITE_P(
    SlotZero, DisconnectNoticeTest,
    ::testing::Values(NoticeCase{"Bios", WithMagic("(C) "), kBiosNotice, "Note"},
                      NoticeCase{"Erased", {}, kNoBiosNotice, "Warning"},
                      NoticeCase{"Application", WithMagic("ELF\0"), kNoBiosNotice, "Warning"},
                      NoticeCase{"MagicWithoutBlank", WithMagic("(C)x"), kNoBiosNotice, "Warning"},
                      NoticeCase{"LowerCase", WithMagic("(c) "), kNoBiosNotice, "Warning"}),
    [](const ::testing::TestParamInfo<NoticeCase>& info) { return info.param.name; });

TEST_F(MainDialogTest, DisconnectKeepsCaptionsAndChecksAndDisablesTheMenu) {
    LayOutBoard();
    RunConnected([&](HWND) {
        ClickSlot(1);  // Idle: checks the BIOS run, slots 0 and 1
        ASSERT_EQ(CheckedSlots(), (std::vector<int>{0, 1}));
        std::vector<std::string> captions = SlotCaptions();

        Click(IDC_CONNECT);
        EXPECT_EQ(SlotCaptions(), captions);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{0, 1}));
        EXPECT_TRUE(EnabledSlots().empty());
        for (int id : kFlashMenuButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "Connect to kelm");
        EXPECT_EQ(Status(), "Disconnected.");
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        // Only StopEvent is left: the channel is closed and the monitor has ended.
        EXPECT_EQ(standin::OpenHandleCount(), 1);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kBiosNotice}));
    });
}

TEST_F(MainDialogTest, DisconnectKeepsTheModeUntilTheNextConnect) {
    LayOutBoard();
    RunConnected([&](HWND) {
        Click(IDC_ERASE);
        Click(IDC_CONNECT);
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
        Click(IDC_CONNECT);
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
    });
}

TEST_F(MainDialogTest, ReconnectRewritesCaptionsAndUnchecks) {
    LayOutBoard();
    RunConnected([&](HWND) {
        ClickSlot(2);
        Click(IDC_CONNECT);
        ASSERT_EQ(CheckedSlots(), (std::vector<int>{2}));

        board.FillFlash(0xFF);
        Lay(4 * kSlot, Header(kElf, "other.elf", 3 * kSlot));
        Click(IDC_CONNECT);
        EXPECT_EQ(Status(), "KELM OK!");
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Disconnect");
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const char* expected = slot == 4 ? "Appl." : (slot == 5 || slot == 6) ? "..." : "free";
            EXPECT_EQ(SlotCaption(slot), expected) << slot;
        }
        EXPECT_TRUE(CheckedSlots().empty());
        EXPECT_EQ(EnabledSlots(), (std::vector<int>{4, 5, 6}));
    });
}

// ------------------------------------------------------------------------------ closing

TEST_F(MainDialogTest, EscapeAndEnterAreIgnored) {
    LayOutBoard();
    RunConnected([&](HWND) {
        std::string before = Snapshot(dialog);
        standin::PressEscape(dialog);
        standin::PressEnter(dialog);
        EXPECT_FALSE(standin::DialogEnded());
        EXPECT_EQ(Snapshot(dialog), before);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_TRUE(IsConnected());
    });
}

TEST_F(MainDialogTest, ClosingWhileConnectedStopsEverythingWithoutNotice) {
    LayOutBoard();
    int result = RunConnected([&](HWND) {
        standin::CloseWindow(dialog);
        EXPECT_TRUE(standin::DialogEnded());
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        // StopEvent is closed only once the dialog has returned.
        EXPECT_EQ(standin::OpenHandleCount(), 1);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(standin::LastDialogResult(), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(MainDialogTest, ClosingWhileNotConnectedShowsNothing) {
    EXPECT_EQ(Run([&](HWND) {
                  standin::CloseWindow(dialog);
                  EXPECT_TRUE(standin::DialogEnded());
              }),
              0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(standin::LastDialogResult(), 0);
}

TEST_F(MainDialogTest, ExitCommandEndsLikeClosing) {
    RunConnected([&](HWND) {
        Command(IDC_EXIT);
        EXPECT_TRUE(standin::DialogEnded());
        EXPECT_FALSE(IsConnected());
    });
    EXPECT_TRUE(Boxes().empty());
}

// ------------------------------------------------------------------------------ private messages

TEST_F(MainDialogTest, StatusTextMessageSetsTheStatusLine) {
    static const char text[] = "hello from elsewhere";
    Run([&](HWND) {
        ASSERT_TRUE(PostMessageA(dialog, MSG_STATUS_TEXT, reinterpret_cast<WPARAM>(text), 0));
        standin::PumpMessages();
        EXPECT_EQ(Status(), text);
        // A message without text leaves the line alone.
        ASSERT_TRUE(PostMessageA(dialog, MSG_STATUS_TEXT, 0, 0));
        standin::PumpMessages();
        EXPECT_EQ(Status(), text);
    });
}

TEST_F(MainDialogTest, InputStateMessageChangesNothingVisible) {
    RunConnected([&](HWND) {
        std::string before = Snapshot(dialog);
        board.QueueInputText(0, "ABCDEFG");
        ASSERT_TRUE(standin::WaitForMessage(MSG_INPUT_STATE, 5000));
        EXPECT_EQ(Snapshot(dialog), before);
    });
}

// ------------------------------------------------------------------------------ re-entrancy
//
// The first exchange of a connect is the CMD_GET_STATUS report, the second its answer: refusing
// that answer puts an error box up in the middle of the connect, with the monitor running.

class ErrorBoxDuringConnectTest : public MainDialogTest {
  protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        LayOutBoard();
        board.InjectFault(1, sim::Fault::RefuseFeature);
    }
};

TEST_F(ErrorBoxDuringConnectTest, ClickDuringTheBoxIsIgnored) {
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == kStatusReadFailed) {
            EXPECT_TRUE(IsConnected());
            // Handled, these would disconnect or end the program in the middle of the connect.
            Click(IDC_CONNECT);
            Command(IDC_EXIT);
        }
        return IDOK;
    });
    Run([&](HWND) {
        Click(IDC_CONNECT);
        EXPECT_FALSE(standin::DialogEnded());
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kStatusReadFailed}));
        EXPECT_EQ(Status(), "KELM OK!");
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Disconnect");
        EXPECT_TRUE(IsConnected());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        // Afterwards commands work again.
        Click(IDC_READ);
        EXPECT_EQ(FlashMenuMode, MenuMode::Read);
    });
}

TEST_F(ErrorBoxDuringConnectTest, CloseDuringTheBoxEndsOnceTheConnectIsDone) {
    bool endedDuringBox = true;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == kStatusReadFailed) {
            standin::CloseWindow(dialog);
            endedDuringBox = standin::DialogEnded();
        }
        return IDOK;
    });
    int result = Run([&](HWND) {
        Click(IDC_CONNECT);
        EXPECT_TRUE(standin::DialogEnded());
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(endedDuringBox);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kStatusReadFailed}));
    // The connect ran to its end first: the whole catalogue was read.
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 31);
    EXPECT_FALSE(IsConnected());
}

TEST_F(ErrorBoxDuringConnectTest, MonitorFailureDuringTheBoxIsShownAtOnceAndEndsAfter) {
    static const char failure[] = "kelm has been disconnected.";
    bool endedDuringBox = true;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == kStatusReadFailed) {
            EXPECT_TRUE(
                PostMessageA(dialog, MSG_MONITOR_FAILED, reinterpret_cast<WPARAM>(failure), 0));
            standin::PumpMessages();
            endedDuringBox = standin::DialogEnded();
        }
        return IDOK;
    });
    Run([&](HWND) {
        Click(IDC_CONNECT);
        EXPECT_TRUE(standin::DialogEnded());
    });
    EXPECT_FALSE(endedDuringBox);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kStatusReadFailed, failure}));
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 31);
    EXPECT_FALSE(IsConnected());
}

TEST_F(MainDialogTest, MonitorFailureOutsideACommandEndsAtOnce) {
    static const char failure[] = "CreateFile failed (Error 5)";
    RunConnected([&](HWND) {
        ASSERT_TRUE(PostMessageA(dialog, MSG_MONITOR_FAILED, reinterpret_cast<WPARAM>(failure), 0));
        standin::PumpMessages();
        EXPECT_TRUE(standin::DialogEnded());
        EXPECT_FALSE(IsConnected());
    });
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectErrorBox(Boxes()[0], failure);
}

// A click during the monitor failure's own box must not run: the program is about to end.
TEST_F(MainDialogTest, ClickDuringTheMonitorFailureBoxIsIgnored) {
    static const char failure[] = "kelm has been disconnected.";
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == failure) Click(IDC_CONNECT);
        return IDOK;
    });
    RunConnected([&](HWND) {
        ASSERT_TRUE(PostMessageA(dialog, MSG_MONITOR_FAILED, reinterpret_cast<WPARAM>(failure), 0));
        standin::PumpMessages();
        EXPECT_TRUE(standin::DialogEnded());
    });
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{failure}));
}

}  // namespace
