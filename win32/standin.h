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

// While false, the HidD_* calls and the texts set are not recorded (HidCalls,
// HidAttributeSizes and TextHistory stay as they were). Reset() turns it back on. For long
// benchmark runs, whose time and memory would otherwise be the record's.
void SetHistoryKept(bool kept);

// ---------------------------------------------------------------- HID.DLL
void SetHidLibraryLoadable(bool loadable);
void RemoveHidEntryPoint(const std::string& name);  // e.g. "HidD_SetFeature"
int HidLibraryLoadCount();                          // LoadLibraryA minus FreeLibrary on HID.DLL
std::vector<std::string> HidCalls();                // names of HidD_* functions called, in order
// The Size field that the caller had set in each HidD_GetAttributes call, in order. Windows
// accepts any value and sets it to sizeof(HIDD_ATTRIBUTES).
std::vector<ULONG> HidAttributeSizes();

// ---------------------------------------------------------------- HID interfaces (SetupDi)
struct HidInterface {
    std::string path;  // the device path that the detail fetch returns
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
int OpenHandleCount();  // kernel handles of any kind still open (devices, events, threads)
// Reads that a thread of CreateThread left pending, or cancelled but not yet completed, when
// its routine returned. They complete as the thread ends, writing records that the routine no
// longer owns when they were its locals. Reset() sets the count back to 0.
int ReadsOutlivingTheirThread();
int OpenDeviceInfoSets();  // SetupDi lists not destroyed

// ---------------------------------------------------------------- clock
// With a virtual clock, Sleep advances the clock at once instead of waiting. Timed waits still
// wait in real time, but scaled by the factor (e.g. 0.01 turns 3000 ms into 30 ms).
void SetVirtualClock(bool virtualClock);
void SetWaitScale(double factor);
uint64_t NowMs();                 // the clock Sleep and GetTickCount use
std::vector<DWORD> SleepCalls();  // every Sleep argument, in order

// Makes the next WaitForMultipleObjects of the thread that calls it next never return
// (until Reset), as a thread that hangs would: for the "thread not exiting" case.
void HangNextMultipleWait();
// Lets a wait hung by HangNextMultipleWait go on as a normal wait, without a Reset; a hang that
// no wait has reached yet is called off.
void ReleaseHungWaits();
// Threads of CreateThread whose routine has not ended yet, their handles closed or not. Reset()
// does not change it: a thread of an earlier test still counts until it ends.
int RunningThreads();

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
// Check marks stick only to check boxes and radio buttons (BS_CHECKBOX, BS_AUTOCHECKBOX,
// BS_RADIOBUTTON, BS_AUTORADIOBUTTON, the 3-state kinds), as on Windows: a plain "BUTTON" of the
// default style is a push button and ignores BM_SETCHECK.
HWND CreateTestDialog(const std::vector<ControlSpec>& controls, DLGPROC proc = nullptr);
void DestroyTestDialog(HWND dialog);

// The module whose resources DialogBoxParamA reads: the compiled .res file's bytes (copied).
// Null when the bytes are not a well-formed .res file. The first module registered after Reset
// is the program's own: GetModuleHandleA(NULL) answers it, and DialogBoxParamA with a null
// instance reads it.
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
std::vector<int> ControlIds(
    HWND dialog);  // in template (tab) order; static controls: -1 or their id
std::vector<std::string> TextHistory(HWND dialog, int id);  // every text set, in order
int RepaintCount(HWND dialog);                              // UpdateWindow calls on the dialog
void ClearHistory(HWND dialog);  // the text histories of its controls and its repaint count

// The dialog as its template describes it. A hand-built test dialog has an empty one.
struct DialogFont {
    std::string typeface;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
};
struct DialogInfo {
    bool extended = false;  // DLGTEMPLATEEX rather than DLGTEMPLATE
    DWORD helpId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    Rect place;
    std::string menu;         // "" none, "#n" an ordinal, else the name
    std::string windowClass;  // "" the standard dialog class, "#n" an atom, else the name
    std::string caption;      // the template's caption; Title() is the current one
    bool hasFont = false;     // DS_SETFONT
    DialogFont font;
};
DialogInfo TemplateInfo(HWND dialog);

// Every control in template (tab) order, with its current state; the one way to tell apart the
// controls that share the identifier -1.
struct ControlInfo {
    int id = 0;
    std::string className;  // "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX", or
                            // the template's own class name
    std::string text;
    int titleOrdinal = 0;  // a title given as a resource ordinal (an SS_BITMAP's image), else 0
    DWORD style = 0;       // WS_VISIBLE and WS_DISABLED follow the current state
    DWORD exStyle = 0;
    DWORD helpId = 0;
    Rect place;
    int check = BST_UNCHECKED;
};
std::vector<ControlInfo> Controls(HWND dialog);

// ---------------------------------------------------------------- the modal dialog
// DialogBoxParamA creates the dialog, sends WM_INITDIALOG, then calls the user script on the
// caller's thread. The script acts as the user (Click, Close...). When it returns and the
// dialog is still open, the user closes it with the system close command.
void SetUserScript(std::function<void(HWND dialog)> script);
HWND CurrentDialog();        // the dialog running now, or null
INT_PTR LastDialogResult();  // what EndDialog passed
bool DialogEnded();

// If the dialog has not ended when the script returns and the close command does not end it
// either, DialogBoxParamA returns -1 instead of waiting for ever.
//
// User actions. Each first dispatches posted messages, as the message loop would. Nothing
// happens in a dialog that has ended or that is disabled (an owned message box or file dialog
// is open).
// A click on a missing, hidden or disabled control, or on one that is not a button (static
// text, group box, edit field), does nothing and returns false; an automatic check box or radio
// button changes its own check before the parent gets WM_COMMAND(MAKEWPARAM(id, BN_CLICKED)).
bool Click(HWND dialog, int id);
void PressEscape(HWND dialog);  // WM_COMMAND IDCANCEL
void PressEnter(HWND dialog);   // WM_COMMAND IDOK
// WM_SYSCOMMAND SC_CLOSE; when the procedure returns FALSE the dialog manager sends WM_CLOSE,
// and when that too returns FALSE, WM_COMMAND IDCANCEL (unless an IDCANCEL button is disabled).
void CloseWindow(HWND dialog);
// The user types into an edit field or combo box (EN_CHANGE / CBN_EDITCHANGE follow).
void SetControlText(HWND dialog, int id, const std::string& text);
// The user picks a combo box entry (CBN_SELCHANGE follows); -1 clears the selection silently.
void SelectComboItem(HWND dialog, int id, int index);

// Posted messages (PostMessageA from any thread) are dispatched to the dialog procedure on the
// thread that calls these.
// Dispatches what is queued now; returns how many reached a window. Messages for a window that
// has been destroyed, or for a dialog that has ended, are dropped.
int PumpMessages();
// Dispatches posted messages while waiting (real time, unscaled) until one with this number has
// been dispatched during the call; false on time-out.
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
// may click in the window meanwhile (as an ownerless box allows; an owned box disables its owner
// while it is open). Returns the button pressed.
// Default: IDOK for MB_OK, IDNO for MB_YESNO, IDCANCEL for MB_OKCANCEL and the other kinds with
// a Cancel button, IDABORT for MB_ABORTRETRYIGNORE. An answer that is not a button of the box
// is a bug of the test: the program aborts with a message.
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
// Every call is recorded, also those refused for their lStructSize. The dialog answers with the
// queued answers first, then the handler, else Cancel. A filter index outside the filter's pairs
// is a bug of the test: the program aborts with a message.
struct FileDialogAnswer {
    bool cancel = false;
    std::string path;
    DWORD filterIndex = 1;
};
void SetFileDialogHandler(std::function<FileDialogAnswer(const FileDialogRecord&)> handler);
void QueueFileDialogAnswers(const std::vector<FileDialogAnswer>& answers);
std::vector<FileDialogRecord> FileDialogs();

}  // namespace standin
