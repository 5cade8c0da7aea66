// The main dialog: initialisation, the command dispatch, connect and disconnect, closing.
#include "ui/main_dialog.h"

#include <windows.h>

#include <cstring>

#include "catalogue/catalogue_scan.h"
#include "core/disconnect_notice.h"
#include "core/flash_layout.h"
#include "device/command_protocol.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "ui/controls.h"
#include "ui/engineering_panel.h"
#include "ui/flash_menu.h"
#include "ui/menu_commands.h"
#include "ui/resource.h"
#include "ui/status_line.h"

// Set by the connect sequence, back to null after every Disconnect; dialog thread only.
HANDLE MonitorThreadHandle = nullptr;

namespace {

constexpr char kTitle[] = "kelm flash software v1.1  rev. 1";
constexpr char kNotConnectedText[] = "Not connected to kelm.";
constexpr char kConnectedText[] = "Connected.";
constexpr char kDisconnectedText[] = "Disconnected.";
constexpr char kConnectCaption[] = "&Connect to kelm";
constexpr char kReconnectCaption[] = "Connect to kelm";
constexpr char kDisconnectCaption[] = "&Disconnect";
constexpr char kConnectFailedText[] = "Failed to connect to kelm.\n\nTry to re-plug the USB cable";

// The bits of a WM_SYSCOMMAND code that are the command; Windows uses the low four itself.
constexpr WPARAM kSysCommandMask = 0xFFF0;

// The engineering panel's buttons, in the order SetPanelState switches them.
constexpr int kPanelButtons[] = {IDC_PANEL_READ, IDC_PANEL_WRITE,  IDC_PANEL_ERASE,
                                 IDC_PROGRAM,    IDC_UPLOAD,       IDC_BLANK_CHECK,
                                 IDC_VERIFY,     IDC_STOP_MONITOR, IDC_PANEL_RESET};
constexpr int kPanelFields[] = {IDC_PANEL_ADDRESS, IDC_PANEL_DATA, IDC_PANEL_COUNT};
constexpr int kPanelChoices[] = {IDC_PANEL_RADIO_A, IDC_PANEL_RADIO_B, IDC_PANEL_BANK};

// The engineering commands work on bank 0 only, the first half of slot 0.
constexpr int kPanelBank = 0;

// Operations show ownerless error boxes whose message loop keeps the window alive, so a click
// can arrive in the middle of one. The operations are not written to be re-entered: while
// CommandRunning is set, commands are dropped, and a request to end the program (the close box,
// a monitor failure) is remembered in EndRequested and carried out once the command returned.
// DialogEnding is set once EndDialog was called. All three: dialog thread only.
bool CommandRunning = false;
bool EndRequested = false;
bool DialogEnding = false;

void SetControlText(HWND window, int id, const char* text) {
    HWND control = GetDlgItem(window, id);
    // Dialog 101 lacks some of the controls the program writes to (1002, the panel's fields);
    // their texts go nowhere, by design.
    if (control == nullptr) return;
    static_cast<void>(SetWindowTextA(control, text));
}

// Disconnect, forget the monitor and end the dialog: the close box, command 1000 and a monitor
// failure all end the program this way.
void EndProgram(HWND window) {
    Disconnect(MonitorThreadHandle);
    MonitorThreadHandle = nullptr;
    DialogEnding = true;
    static_cast<void>(EndDialog(window, 0));
}

void RunEndRequest(HWND window) {
    if (!EndRequested) return;
    EndRequested = false;
    if (DialogEnding) return;
    CommandRunning = true;
    EndProgram(window);
    CommandRunning = false;
}

void Initialise(HWND window) {
    MainWindow = window;
    CommandRunning = false;
    EndRequested = false;
    DialogEnding = false;
    static_cast<void>(SetWindowTextA(window, kTitle));
    SetPanelState(window, false);
    // The panel's radio pair is not part of dialog 101; where it is, 1006 starts checked.
    static_cast<void>(
        CheckRadioButton(window, IDC_PANEL_RADIO_A, IDC_PANEL_RADIO_B, IDC_PANEL_RADIO_A));
}

void ShowInputState(HWND window) {
    char state[kInputStateSize];
    char text[kInputTextSize];
    CopyInputState(state);
    RenderInputState(state, text);
    SetControlText(window, IDC_INPUT_STATE, text);
}

// Returns whether the command counts as handled.
INT_PTR DispatchCommand(HWND window, int id) {
    if (SlotForButtonId(id) >= 0) {
        OnSlotClick(window, id);
        return FALSE;
    }
    switch (id) {
        case IDC_EXIT:
            EndProgram(window);
            return TRUE;
        case IDC_CONNECT:
            if (IsConnected()) {
                DisconnectFromWindow(window);
            } else {
                Connect(window);
            }
            return TRUE;
        case IDC_PANEL_READ:
            static_cast<void>(ManualRead(window));
            return TRUE;
        case IDC_PANEL_ERASE:
            EraseBlockZero();
            return TRUE;
        case IDC_BLANK_CHECK:
            static_cast<void>(BlankCheck(kPanelBank));
            return TRUE;
        case IDC_PROGRAM:
            static_cast<void>(ProgramSector(kPanelBank));
            return TRUE;
        case IDC_UPLOAD:
            static_cast<void>(UploadSector(kPanelBank));
            return TRUE;
        case IDC_STOP_MONITOR:
            StopMonitor();
            return TRUE;
        case IDC_VERIFY:
            static_cast<void>(VerifySector(kPanelBank));
            return TRUE;
        case IDC_PANEL_RESET:
            PanelReset(window);
            return TRUE;
        case IDC_READ:
            OnReadButton(window);
            return TRUE;
        case IDC_WRITE:
            OnWriteButton(window);
            return TRUE;
        case IDC_ERASE:
            OnEraseButton(window);
            return TRUE;
        case IDC_ABORT:
            OnAbortButton(window);
            return TRUE;
        default:
            // IDOK and IDCANCEL (Enter and Esc) among them: the window closes only through the
            // system close command.
            return FALSE;
    }
}

INT_PTR OnCommand(HWND window, int id) {
    if (CommandRunning || DialogEnding) return FALSE;
    CommandRunning = true;
    INT_PTR handled = DispatchCommand(window, id);
    CommandRunning = false;
    RunEndRequest(window);
    return handled;
}

void OnClose(HWND window) {
    if (DialogEnding) return;
    if (CommandRunning) {
        EndRequested = true;
        return;
    }
    CommandRunning = true;
    EndProgram(window);
    CommandRunning = false;
    RunEndRequest(window);
}

void OnMonitorFailed(HWND window, const char* text) {
    if (DialogEnding) return;
    // A monitor already told to stop can still have seen its read fail first: after a panel
    // reset the board drops off at once. Its report is stale; the window stays open.
    if (MonitorThreadHandle == nullptr) return;
    bool nested = CommandRunning;
    CommandRunning = true;
    if (text != nullptr) ShowError(text);
    if (nested) {
        EndRequested = true;
        return;
    }
    EndProgram(window);
    CommandRunning = false;
    RunEndRequest(window);
}

}  // namespace

void SetPanelState(HWND window, bool on) {
    for (int id : kPanelButtons) EnableControl(window, id, on);
    for (int id : kPanelFields) {
        SetControlText(window, id, "");
        EnableControl(window, id, on);
    }
    if (!on) {
        SetControlText(window, IDC_STATUS, kNotConnectedText);
        SetControlText(window, IDC_CONNECT, kConnectCaption);
    }
    for (int id : kPanelChoices) EnableControl(window, id, on);
}

void Connect(HWND window) {
    if (!OpenBoard()) {
        ShowError(kConnectFailedText);
        EnableControl(window, IDC_FORMAT, false);
        return;
    }
    MonitorThreadHandle = StartMonitor();
    if (MonitorThreadHandle == nullptr) {
        CloseCommandChannel();
        return;
    }
    // The answers are not needed: the two queries only bring the board's status up to date.
    FeatureReport answer = {};
    static_cast<void>(GetStatus(answer));
    static_cast<void>(GetStatus(answer));
    EnableControl(window, IDC_FORMAT, true);
    SetControlText(window, IDC_STATUS, kConnectedText);
    SetControlText(window, IDC_CONNECT, kDisconnectCaption);
    ScanCatalogue(window);
    SetFlashMenuMode(window, MenuMode::Idle);
}

void DisconnectFromWindow(HWND window) {
    // Slot 0 as the last scan saw it; the board is not asked again.
    bool bootable = std::memcmp(HeaderDirectory[0].magic, kMagicBios, kMagicSize) == 0;
    // The notice has only an OK button; whether it could be shown changes nothing.
    static_cast<void>(MessageBoxA(window, bootable ? kBiosNoticeText : kNoBiosText,
                                  bootable ? kBiosNoticeTitle : kNoBiosTitle,
                                  MB_ICONWARNING | MB_OK));
    Disconnect(MonitorThreadHandle);
    MonitorThreadHandle = nullptr;
    SetControlText(window, IDC_CONNECT, kReconnectCaption);
    SetControlText(window, IDC_STATUS, kDisconnectedText);
    DisableFlashMenu(window);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static_cast<void>(lParam);
    switch (message) {
        case WM_INITDIALOG:
            Initialise(window);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(window, LOWORD(wParam));
        case WM_SYSCOMMAND:
            if ((wParam & kSysCommandMask) != SC_CLOSE) return FALSE;
            OnClose(window);
            return TRUE;
        case MSG_INPUT_STATE:
            ShowInputState(window);
            return FALSE;
        case MSG_STATUS_TEXT:
            if (wParam != 0)
                SetControlText(window, IDC_STATUS, reinterpret_cast<const char*>(wParam));
            return FALSE;
        case MSG_MONITOR_FAILED:
            OnMonitorFailed(window, reinterpret_cast<const char*>(wParam));
            return FALSE;
        default:
            return FALSE;
    }
}
