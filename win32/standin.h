// Test control of the host's Win32 stand-in.
//
// The program sees only <windows.h>, <setupapi.h>, <commdlg.h> and <hidsdi.h>. Tests use this
// header to set up the world the program runs in (HID interfaces, the HID library, the clock,
// answers to message boxes and file dialogs) and to look at what it did (windows, controls,
// boxes shown, handles left open). Everything here is host-only and never seen by src/.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace standin {

// Puts the whole stand-in back to its start state: no interfaces, HID.DLL loadable with all
// entry points, real clock, default answers, no windows, no recorded boxes. Handles still open
// are reported by OpenHandleCount() before the reset, not closed.
void Reset();

// ---------------------------------------------------------------- HID.DLL
void SetHidLibraryLoadable(bool loadable);
void RemoveHidEntryPoint(const std::string& name);  // e.g. "HidD_SetFeature"
int HidLibraryLoadCount();                           // LoadLibraryA minus FreeLibrary on HID.DLL
std::vector<std::string> HidCalls();                 // names of HidD_* functions called, in order

// ---------------------------------------------------------------- HID interfaces (SetupDi)
struct HidInterface {
    std::string path;           // the device path that the detail fetch returns
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    sim::Board* board = nullptr;  // reports go here; none: writes and fetches fail
    bool refusesOpen = false;     // CreateFileA fails with ERROR_ACCESS_DENIED
    bool detailFails = false;     // the second detail fetch fails
    bool attributesFail = false;  // HidD_GetAttributes fails
};
void SetDeviceSetUnavailable(bool unavailable);  // SetupDiGetClassDevsA fails
void AddHidInterface(const HidInterface& hid);
// The interfaces are enumerated in the order added. A board that is unplugged (or reset)
// disappears from the enumeration, as on Windows.

struct OpenRecord {
    std::string path;
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = 0;
    DWORD flags = 0;
    bool succeeded = false;
};
std::vector<OpenRecord> DeviceOpens();  // every CreateFileA on an interface path, in order
int OpenHandleCount();    // kernel handles of any kind still open (devices, events, threads)
int OpenDeviceInfoSets();  // SetupDi lists not destroyed

// ---------------------------------------------------------------- clock
// With a virtual clock, Sleep advances the clock at once instead of waiting. Timed waits still
// wait in real time, but scaled by the factor (e.g. 0.01 turns 3000 ms into 30 ms).
void SetVirtualClock(bool virtualClock);
void SetWaitScale(double factor);
uint64_t NowMs();                      // the clock Sleep and GetTickCount use
std::vector<DWORD> SleepCalls();       // every Sleep argument, in order

// Makes the next WaitForMultipleObjects of the thread that calls it next never return
// (until Reset), as a thread that hangs would: for the "thread not exiting" case.
void HangNextMultipleWait();

// ---------------------------------------------------------------- windows
// A control of a window that a test builds by hand (the real dialog comes from its template).
struct ControlSpec {
    int id = 0;
    std::string className;  // "BUTTON", "STATIC", "EDIT", "COMBOBOX"
    std::string text;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    std::vector<std::string> items;  // COMBOBOX entries
};
HWND CreateTestDialog(const std::vector<ControlSpec>& controls, DLGPROC proc = nullptr);
void DestroyTestDialog(HWND dialog);

// The module whose resources DialogBoxParamA reads: the compiled .res file's bytes.
HINSTANCE RegisterModule(const uint8_t* resBytes, size_t size);

bool HasControl(HWND dialog, int id);
std::string Text(HWND dialog, int id);  // "" when there is no such control
std::string Title(HWND dialog);
bool Enabled(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Checked(HWND dialog, int id);
DWORD Style(HWND dialog, int id);
DWORD ExStyle(HWND dialog, int id);
std::string ClassName(HWND dialog, int id);
struct Rect {
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units, as in the template
};
Rect Place(HWND dialog, int id);
std::vector<int> ControlIds(HWND dialog);  // in template (tab) order; static controls: -1 or their id
std::vector<std::string> TextHistory(HWND dialog, int id);  // every text set, in order
int RepaintCount(HWND dialog);  // UpdateWindow calls on the dialog
void ClearHistory(HWND dialog);

// ---------------------------------------------------------------- the modal dialog
// DialogBoxParamA creates the dialog, sends WM_INITDIALOG, then calls the user script on the
// caller's thread. The script acts as the user (Click, Close...). When it returns and the
// dialog is still open, the user closes it with the system close command.
void SetUserScript(std::function<void(HWND dialog)> script);
HWND CurrentDialog();        // the dialog running now, or null
INT_PTR LastDialogResult();  // what EndDialog passed
bool DialogEnded();

// User actions. Each first dispatches posted messages, as the message loop would.
// A click on a missing, hidden or disabled control does nothing and returns false; an automatic
// check box or radio button changes its own check before the parent gets WM_COMMAND.
bool Click(HWND dialog, int id);
void PressEscape(HWND dialog);  // WM_COMMAND IDCANCEL
void PressEnter(HWND dialog);   // WM_COMMAND IDOK
void CloseWindow(HWND dialog);  // WM_SYSCOMMAND SC_CLOSE (then IDCANCEL if not handled)
void SetControlText(HWND dialog, int id, const std::string& text);  // the user types
void SelectComboItem(HWND dialog, int id, int index);                // -1: none

// Posted messages (PostMessageA from any thread) are dispatched to the dialog procedure on the
// thread that calls these.
int PumpMessages();  // dispatches what is queued now; returns the count
// Waits (real time, unscaled) until a posted message with this number has been dispatched.
bool WaitForMessage(UINT message, int timeoutMs);
struct PostedRecord {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<PostedRecord> DispatchedMessages();

// ---------------------------------------------------------------- message boxes
struct MessageBoxRecord {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
};
// Called while the box is "open": posted messages have been dispatched first, and the handler
// may click in the window meanwhile (as an ownerless box allows). Returns the button pressed.
// Default: IDOK for MB_OK, IDNO for MB_YESNO, IDCANCEL for MB_OKCANCEL.
void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler);
void QueueMessageBoxAnswers(const std::vector<int>& answers);  // used before the handler
std::vector<MessageBoxRecord> MessageBoxes();
void ClearMessageBoxes();

// ---------------------------------------------------------------- common file dialogs
struct FileDialogRecord {
    bool save = false;
    HWND owner = nullptr;
    std::vector<std::string> filter;  // description, pattern, description, pattern ...
    bool filterIsNull = false;
    std::string initialName;  // what lpstrFile held
    DWORD maxFile = 0;
    DWORD flags = 0;
    DWORD filterIndex = 0;
    bool hasTitle = false;
    bool hasInitialDir = false;
    bool hasDefExt = false;
    DWORD structSize = 0;
};
struct FileDialogAnswer {
    bool cancel = false;
    std::string path;
    DWORD filterIndex = 1;
};
void SetFileDialogHandler(std::function<FileDialogAnswer(const FileDialogRecord&)> handler);
void QueueFileDialogAnswers(const std::vector<FileDialogAnswer>& answers);
std::vector<FileDialogRecord> FileDialogs();

}  // namespace standin
