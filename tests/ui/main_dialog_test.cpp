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

using Texts = std::vector<std::string>;

constexpr size_t kSlot = 65536;

constexpr char kConnectFailed[] = "Failed to connect to kelm.\n\nTry to re-plug the USB cable";
constexpr char kBiosNotice[] = "Remember unplugging USB if you want to boot!\n";
constexpr char kNoBiosNotice[] = "No Bios is flashed into KELM!\nNo boot is possible!\n";
constexpr char kStatusReadFailed[] = "Error reading CMD_GET_STATUS response.";
constexpr char kDisconnected[] = "kelm has been disconnected.";

constexpr int kRadioButtons[] = {IDC_RADIO_1, IDC_RADIO_2, IDC_RADIO_3,
                                 IDC_RADIO_4, IDC_RADIO_5, IDC_RADIO_6};
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

class MainDialogTest : public AppTest {
  protected:
    // BIOS in slots 0-1, an ELF image in slot 2, an unknown header in slot 5, the rest erased.
    void LayOutBoard() {
        Lay(0, Header("(C) ", "kelm bios", 131072));
        Lay(2 * kSlot, Header("ELF", "C:\\games\\demo.elf", 65536));
        Lay(5 * kSlot, Header("XYZW", "junk", 65536));
    }

    // The one error box of ShowError: no owner, "Error", warning icon, OK.
    void ExpectErrorBox(const std::string& text) {
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, text);
        EXPECT_EQ(Boxes()[0].caption, "Error");
        EXPECT_EQ(Boxes()[0].owner, nullptr);
        EXPECT_EQ(Boxes()[0].type, static_cast<UINT>(MB_ICONWARNING | MB_OK));
    }

    Texts SlotCaptions() const {
        Texts captions;
        for (int slot = 0; slot < kSlotCount; ++slot) captions.push_back(SlotCaption(slot));
        return captions;
    }

    void ExpectMenuOff() const {
        for (int id : kFlashMenuButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
        for (int id : kPanelButtons) EXPECT_FALSE(standin::Enabled(dialog, id)) << id;
        EXPECT_TRUE(EnabledSlots().empty());
    }
};

// ------------------------------------------------------------------------------ start-up

// Without the library, or with one lacking an entry point: one box, no window, result 0. The
// fixture sees the library released again.
TEST_F(MainDialogTest, StartUpWithoutTheHidLibraryShowsOneBoxAndNoWindow) {
    for (const std::string missing : {"", "HidD_SetFeature"}) {
        SCOPED_TRACE(missing);
        standin::ClearMessageBoxes();
        standin::SetHidLibraryLoadable(!missing.empty());
        if (!missing.empty()) standin::RemoveHidEntryPoint(missing);
        bool windowShown = false;
        EXPECT_EQ(Run([&](HWND) { windowShown = true; }), 0);
        EXPECT_FALSE(windowShown);
        ExpectErrorBox(missing.empty() ? "Failed to load HID.DLL."
                                       : "Couldn't find one or more HID entry points.");
    }
}

TEST_F(MainDialogTest, FirstLookOfTheWindow) {
    Texts captions(kSlotCount, "");
    captions[0] = "BIOS";
    EXPECT_EQ(Run([&](HWND) {
                  EXPECT_EQ(standin::Title(dialog), "kelm flash software v1.1  rev. 1");
                  EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Connect to kelm");
                  EXPECT_EQ(Status(), "Not connected to kelm.");
                  EXPECT_EQ(SlotCaptions(), captions);
                  EXPECT_TRUE(CheckedSlots().empty());
                  ExpectMenuOff();
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
            EXPECT_EQ(SlotMap[slot].state, SlotState::Free) << slot;
            EXPECT_EQ(SlotMap[slot].owner, 0) << slot;
        }
        EXPECT_EQ(HeaderDirectory[0].magic[0], 0);
        // Not connected, so the notice of a disconnect would say there is no BIOS.
        SetFlashMenuMode(dialog, MenuMode::Idle);
        EXPECT_TRUE(EnabledSlots().empty());
    });
}

// ------------------------------------------------------------------------------ connect

TEST_F(MainDialogTest, FailedConnectChangesNothingButTheBoxes) {
    RemoveBoard();
    for (bool deviceSetUnavailable : {false, true}) {
        SCOPED_TRACE(deviceSetUnavailable);
        standin::ClearMessageBoxes();
        standin::SetDeviceSetUnavailable(deviceSetUnavailable);
        Run([&](HWND) {
            const std::string before = Snapshot(dialog);
            Click(IDC_CONNECT);
            EXPECT_EQ(Snapshot(dialog), before);
            EXPECT_FALSE(IsConnected());
            EXPECT_EQ(MonitorThreadHandle, nullptr);
        });
        if (deviceSetUnavailable) {
            EXPECT_EQ(BoxTexts(),
                      (Texts{"Failed to open handle to HID device set.", kConnectFailed}));
        } else {
            ExpectErrorBox(kConnectFailed);
        }
    }
}

TEST_F(MainDialogTest, ConnectQueriesStatusTwiceThenScansAndEntersIdle) {
    LayOutBoard();
    RunConnected([&](HWND) {
        const std::string query = "> GET_STATUS\n< status busy=0 bus=1\n";
        EXPECT_EQ(board.Transcript().rfind(query + query + "> BUS request\n", 0), 0u);
        Texts statuses = standin::TextHistory(dialog, IDC_STATUS);
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Connected."), statuses.end());
        EXPECT_EQ(statuses.back(), "KELM OK!");
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Disconnect");

        Texts captions(kSlotCount, "free");
        captions[0] = "BIOS";
        captions[1] = "...";
        captions[2] = "Appl.";
        captions[5] = "???";
        EXPECT_EQ(SlotCaptions(), captions);
        EXPECT_EQ(EnabledSlots(), (std::vector<int>{0, 1, 2, 5}));
        EXPECT_TRUE(CheckedSlots().empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        for (int id : kFlashMenuButtons) EXPECT_EQ(standin::Enabled(dialog, id), id != IDC_ABORT);
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

// The notice reads slot 0 of the last scan, not the board; it is owned by the window.
TEST_F(MainDialogTest, DisconnectNoticeFollowsSlotZeroOfTheLastScan) {
    const struct {
        const char* magic;  // null: erased
        const char* text;
        const char* title;
    } cases[] = {
        {"(C) ", kBiosNotice, "Note"},      {nullptr, kNoBiosNotice, "Warning"},
        {"ELF", kNoBiosNotice, "Warning"},  {"(C)x", kNoBiosNotice, "Warning"},
        {"(c) ", kNoBiosNotice, "Warning"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.magic) Lay(0, Header(c.magic, "slot zero", 65536));
        RunConnected([&](HWND) {
            board.FillFlash(0xFF);
            standin::ClearMessageBoxes();
            Click(IDC_CONNECT);
            ASSERT_EQ(BoxTexts(), Texts{c.text});
            EXPECT_EQ(Boxes()[0].caption, c.title);
            EXPECT_EQ(Boxes()[0].owner, dialog);
            EXPECT_EQ(Boxes()[0].type, static_cast<UINT>(MB_ICONWARNING | MB_OK));
        });
    }
}

// Captions, checks and the mode stay after a disconnect, the menu is off and the radio group
// cleared; the next connect rewrites the captions, unchecks and enters Idle.
TEST_F(MainDialogTest, DisconnectKeepsTheWindowUntilTheNextConnect) {
    LayOutBoard();
    RunConnected([&](HWND) {
        ClickSlot(1);  // Idle: checks the BIOS run, slots 0 and 1
        ASSERT_EQ(CheckedSlots(), (std::vector<int>{0, 1}));
        const Texts captions = SlotCaptions();
        for (int id : kRadioButtons) {
            SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, BST_CHECKED, 0);
        }

        Click(IDC_CONNECT);
        EXPECT_EQ(SlotCaptions(), captions);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{0, 1}));
        ExpectMenuOff();
        for (int id : kRadioButtons) EXPECT_FALSE(standin::Checked(dialog, id)) << id;
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "Connect to kelm");
        EXPECT_EQ(Status(), "Disconnected.");
        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        // Only StopEvent is left: the channel is closed and the monitor has ended.
        EXPECT_EQ(standin::OpenHandleCount(), 1);
        EXPECT_EQ(BoxTexts(), Texts{kBiosNotice});

        board.FillFlash(0xFF);
        Lay(4 * kSlot, Header("ELF", "other.elf", 3 * kSlot));
        Click(IDC_CONNECT);
        EXPECT_EQ(Status(), "KELM OK!");
        EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Disconnect");
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const char* expected = slot == 4 ? "Appl." : (slot == 5 || slot == 6) ? "..." : "free";
            EXPECT_EQ(SlotCaption(slot), expected) << slot;
        }
        EXPECT_TRUE(CheckedSlots().empty());
        EXPECT_EQ(EnabledSlots(), (std::vector<int>{4, 5, 6}));

        Click(IDC_ERASE);
        Click(IDC_CONNECT);
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
        Click(IDC_CONNECT);
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
    });
}

// ------------------------------------------------------------------------------ closing

// Esc and Enter are ignored, and an input report shows nowhere in dialog 101.
TEST_F(MainDialogTest, EscapeEnterAndInputStatesChangeNothingVisible) {
    LayOutBoard();
    RunConnected([&](HWND) {
        std::string before = Snapshot(dialog);
        standin::PressEscape(dialog);
        standin::PressEnter(dialog);
        board.QueueInputText(0, "ABCDEFG");
        ASSERT_TRUE(standin::WaitForMessage(MSG_INPUT_STATE, 5000));
        EXPECT_FALSE(standin::DialogEnded());
        EXPECT_EQ(Snapshot(dialog), before);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_TRUE(IsConnected());
    });
}

// Closing or the exit command, connected or not: no notice, the monitor stopped, result 0.
TEST_F(MainDialogTest, ClosingEndsWithoutNotice) {
    LayOutBoard();
    for (const auto& [connected, exitCommand] :
         {std::pair{true, false}, {false, false}, {true, true}}) {
        SCOPED_TRACE(std::to_string(connected) + std::to_string(exitCommand));
        auto close = [&](HWND) {
            if (exitCommand) Command(IDC_EXIT);
            if (!exitCommand) standin::CloseWindow(dialog);
            EXPECT_TRUE(standin::DialogEnded());
            EXPECT_FALSE(IsConnected());
            EXPECT_EQ(MonitorThreadHandle, nullptr);
            // StopEvent is closed only once the dialog has returned.
            EXPECT_EQ(standin::OpenHandleCount(), 1);
        };
        EXPECT_EQ(connected ? RunConnected(close) : Run(close), 0);
        EXPECT_EQ(standin::LastDialogResult(), 0);
        EXPECT_TRUE(Boxes().empty());
    }
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
    // Handled, these would disconnect or end the program in the middle of the connect.
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == kStatusReadFailed) {
            Click(IDC_CONNECT);
            Command(IDC_EXIT);
        }
        return IDOK;
    });
    Run([&](HWND) {
        Click(IDC_CONNECT);
        EXPECT_FALSE(standin::DialogEnded());
        EXPECT_EQ(BoxTexts(), Texts{kStatusReadFailed});
        EXPECT_EQ(Status(), "KELM OK!");
        EXPECT_TRUE(IsConnected());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        // Afterwards commands work again.
        Click(IDC_READ);
        EXPECT_EQ(FlashMenuMode, MenuMode::Read);
    });
}

// Closing, or the monitor failing, during the box: the connect runs to its end first (the whole
// catalogue is read), then the program ends; the failure's box is shown at once.
TEST_F(ErrorBoxDuringConnectTest, CloseOrMonitorFailureDuringTheBoxEndsOnceTheConnectIsDone) {
    for (bool monitorFails : {false, true}) {
        SCOPED_TRACE(monitorFails);
        standin::ClearMessageBoxes();
        board.ClearLog();
        board.ClearFaults();
        board.InjectFault(1, sim::Fault::RefuseFeature);
        bool endedDuringBox = true;
        standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
            if (box.text != kStatusReadFailed) return IDOK;
            if (monitorFails) {
                EXPECT_TRUE(PostMessageA(dialog, MSG_MONITOR_FAILED,
                                         reinterpret_cast<WPARAM>(kDisconnected), 0));
                standin::PumpMessages();
            } else {
                standin::CloseWindow(dialog);
            }
            endedDuringBox = standin::DialogEnded();
            return IDOK;
        });
        EXPECT_EQ(Run([&](HWND) {
                      Click(IDC_CONNECT);
                      EXPECT_TRUE(standin::DialogEnded());
                  }),
                  0);
        EXPECT_FALSE(endedDuringBox);
        Texts boxes = {kStatusReadFailed};
        if (monitorFails) boxes.push_back(kDisconnected);
        EXPECT_EQ(BoxTexts(), boxes);
        EXPECT_EQ(board.CountCommands(sim::kCmdRead), 31);
        EXPECT_FALSE(IsConnected());
    }
}

// A click during the monitor failure's own box must not run: the program is about to end.
TEST_F(MainDialogTest, ClickDuringTheMonitorFailureBoxIsIgnored) {
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        if (box.text == kDisconnected) Click(IDC_CONNECT);
        return IDOK;
    });
    RunConnected([&](HWND) {
        ASSERT_TRUE(
            PostMessageA(dialog, MSG_MONITOR_FAILED, reinterpret_cast<WPARAM>(kDisconnected), 0));
        standin::PumpMessages();
        EXPECT_TRUE(standin::DialogEnded());
    });
    EXPECT_EQ(BoxTexts(), Texts{kDisconnected});
}

}  // namespace
