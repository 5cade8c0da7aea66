// kelm-e2e-driver.exe: drives a running kelm window from outside, as a user would, under the
// same Wine (or on Windows). It finds the window by its title, reads and clicks its controls by
// identifier, answers message boxes and fills the common file dialogs, and saves screenshots.
//
//   kelm-e2e-driver.exe SHOTS-FOLDER STEP ARGS... [STEP ARGS...]...
//
// Steps (a control is a number or one of the names in kControlNames, or slot0 ... slot31):
//   window                  wait for the kelm window
//   click CONTROL           the control must be visible and enabled; then it is clicked
//   text CONTROL TEXT       wait until the control shows TEXT (in TEXT, and in the text of a
//                           box, "\n" stands for a line break and "\\" for a backslash)
//   passes CONTROL PREFIX   wait until the control shows a text that starts with PREFIX
//   enabled CONTROL 0|1     the control is disabled / enabled
//   slots A,B,C...          the 32 slot captions ("free*26" stands for 26 times "free")
//   offered 0101...         which of the 32 slot buttons are enabled
//   await TITLE             wait for a message box or file dialog titled TITLE (for a shot)
//   box TITLE TEXT BUTTON   wait for a message box, check its text, press yes/no/ok
//   open FILTER PATH        in the open-file dialog, choose filter FILTER (1...) and PATH
//   save PATH               in the save-file dialog, give PATH
//   shot NAME               save SHOTS-FOLDER\NAME.png
//   command ID              send the window a command that no control of it sends
//   close                   close the window as its close box does
//   gone                    wait until the program has ended
//   layout FILE             the window and its controls, in template order, are as FILE lists
//                           them (the format is the one of LayoutLines; '#' starts a comment)
//   nowindow                there is no kelm window (a program that stopped at a box)
//   ended                   wait until the program has ended, no kelm window appearing meanwhile
//   dump                    list the program's windows and their controls
//   run COMMAND-LINE        start a program that inherits the driver's standard handles, and
//                           wait for it to end with exit code 0 (the runner's own test)
// It prints one line per step and stops with exit code 1 at the first mismatch, after listing
// the program's windows and saving a screenshot named failed.png.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/screenshot.h"
#include "ui/resource.h"

namespace {

constexpr char kWindowTitle[] = "kelm flash software v1.1  rev. 1";
constexpr char kDialogClass[] = "#32770";
constexpr DWORD kWaitMs = 30000;
constexpr DWORD kStartWaitMs = 90000;  // a first start of Wine on a busy machine takes a while
constexpr DWORD kPollMs = 20;
constexpr DWORD kFastPollMs = 2;  // catching a countdown text that lasts a few milliseconds

// Controls of the common dialogs. Message box text: the static with id 0xFFFF; the file name:
// the edit edt1 (Wine) or the combo box cmb13 (Windows); the file types: cmb1.
constexpr int kMessageTextId = 0xFFFF;
constexpr int kFileNameEditId = 0x480;
constexpr int kFileNameComboId = 0x47C;
constexpr int kFileTypeComboId = 0x470;

struct ControlName {
    const char* name;
    int id;
};
constexpr ControlName kControlNames[] = {
    {"connect", IDC_CONNECT}, {"status", IDC_STATUS}, {"write", IDC_WRITE},
    {"read", IDC_READ},       {"erase", IDC_ERASE},   {"abort", IDC_ABORT},
};
constexpr int kSlotIds[32] = {
    IDC_SLOT_0,  IDC_SLOT_1,  IDC_SLOT_2,  IDC_SLOT_3,  IDC_SLOT_4,  IDC_SLOT_5,  IDC_SLOT_6,
    IDC_SLOT_7,  IDC_SLOT_8,  IDC_SLOT_9,  IDC_SLOT_10, IDC_SLOT_11, IDC_SLOT_12, IDC_SLOT_13,
    IDC_SLOT_14, IDC_SLOT_15, IDC_SLOT_16, IDC_SLOT_17, IDC_SLOT_18, IDC_SLOT_19, IDC_SLOT_20,
    IDC_SLOT_21, IDC_SLOT_22, IDC_SLOT_23, IDC_SLOT_24, IDC_SLOT_25, IDC_SLOT_26, IDC_SLOT_27,
    IDC_SLOT_28, IDC_SLOT_29, IDC_SLOT_30, IDC_SLOT_31};

// The driver is single-threaded; these are set by the "window" step.
HWND MainWindow = nullptr;
DWORD KelmProcess = 0;
std::string ShotsFolder;
DWORD StartTick = 0;

void Log(const char* format, const std::string& a = "", const std::string& b = "") {
    std::printf("[%6.2fs] ", (GetTickCount() - StartTick) / 1000.0);
    std::printf(format, a.c_str(), b.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// Shows line breaks as \n, so that a log line stays one line.
std::string Visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            char code[8];
            std::snprintf(code, sizeof(code), "\\x%02x", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return "\"" + out + "\"";
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Another process's window text comes from the window manager's copy, without a message, so it
// can be read while kelm is busy in a transfer.
std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

bool WaitUntil(const std::function<bool()>& done, DWORD pollMs = kPollMs, DWORD limitMs = kWaitMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs) {
            return false;
        }
        Sleep(pollMs);
    }
    return true;
}

std::vector<HWND> ProcessWindows() {
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } search{KelmProcess, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == s->process && IsWindowVisible(window)) {
                s->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A dialog of kelm's other than the main window: a message box or a file dialog. Before the
// main window is known (a box instead of a window), any dialog on the display will do.
HWND FindDialog(const std::function<bool(HWND)>& wanted) {
    if (MainWindow == nullptr) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, kDialogClass, nullptr)) != nullptr) {
            if (IsWindowVisible(window) && wanted(window)) return window;
        }
        return nullptr;
    }
    for (HWND window : ProcessWindows()) {
        if (window != MainWindow && ClassOf(window) == kDialogClass && wanted(window)) {
            return window;
        }
    }
    return nullptr;
}

void Dump() {
    for (HWND window : ProcessWindows()) {
        std::printf("  window %p class %s title %s\n", static_cast<void*>(window),
                    ClassOf(window).c_str(), Visible(TextOf(window)).c_str());
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            RECT rect = {};
            GetWindowRect(child, &rect);
            std::printf("    id %5d %-14s %s%s at %ld,%ld %ldx%ld %s\n", GetDlgCtrlID(child),
                        ClassOf(child).c_str(), IsWindowVisible(child) ? "shown" : "hidden",
                        IsWindowEnabled(child) ? "" : " disabled", rect.left, rect.top,
                        rect.right - rect.left, rect.bottom - rect.top,
                        Visible(TextOf(child)).c_str());
        }
    }
    std::fflush(stdout);
}

// Before the main window is there, the picture shows whatever dialog the program has up.
bool Shot(const std::string& name) {
    std::string problem;
    const std::string path = ShotsFolder + "\\" + name + ".png";
    HWND subject = MainWindow;
    if (subject == nullptr) {
        WaitUntil([&] {
            subject = FindDialog([](HWND) { return true; });
            return subject != nullptr;
        });
    }
    if (subject == nullptr || !SaveWindowShot(subject, path, problem)) {
        Log("screenshot %s failed: %s", name, problem);
        return false;
    }
    Log("screenshot %s", path);
    return true;
}

[[noreturn]] void Fail(const std::string& what) {
    Log("FAILED: %s", what);
    if (MainWindow != nullptr && IsWindow(MainWindow)) {
        Dump();
        Shot("failed");
    }
    std::exit(1);
}

int ControlId(const std::string& name) {
    for (const ControlName& control : kControlNames) {
        if (name == control.name) return control.id;
    }
    if (name.compare(0, 4, "slot") == 0) {
        const int slot = std::atoi(name.c_str() + 4);
        if (slot >= 0 && slot < 32) return kSlotIds[slot];
    }
    const int id = std::atoi(name.c_str());
    if (id <= 0) Fail("unknown control " + name);
    return id;
}

HWND Control(const std::string& name) {
    HWND control = GetDlgItem(MainWindow, ControlId(name));
    if (control == nullptr) Fail("the window has no control " + name);
    return control;
}

// Clicking as the mouse does: the button takes the press and release and tells its owner.
void Press(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

std::vector<std::string> ExpandList(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(start, end - start);
        const size_t star = item.rfind('*');
        int count = 1;
        if (star != std::string::npos && star + 1 < item.size()) {
            count = std::atoi(item.c_str() + star + 1);
            item.erase(star);
        }
        for (int i = 0; i < count; ++i) items.push_back(item);
        start = end + 1;
    }
    return items;
}

// ---- steps

void StepWindow() {
    if (!WaitUntil(
            [] {
                MainWindow = FindWindowA(kDialogClass, kWindowTitle);
                return MainWindow != nullptr && IsWindowVisible(MainWindow);
            },
            kPollMs, kStartWaitMs))
        Fail(std::string("no window titled ") + Visible(kWindowTitle));
    GetWindowThreadProcessId(MainWindow, &KelmProcess);
    Log("found the window %s", Visible(kWindowTitle));
}

void StepClick(const std::string& name) {
    HWND control = Control(name);
    if (!WaitUntil([&] { return IsWindowVisible(control) && IsWindowEnabled(control); }))
        Fail(name + " is not there to click (hidden or disabled)");
    Press(control);
    Log("clicked %s %s", name, Visible(TextOf(control)));
}

void StepText(const std::string& name, const std::string& text, bool prefix) {
    HWND control = Control(name);
    const std::string wanted = Unescape(text);
    std::string seen;
    const bool found = WaitUntil(
        [&] {
            seen = TextOf(control);
            return prefix ? seen.compare(0, wanted.size(), wanted) == 0 : seen == wanted;
        },
        prefix ? kFastPollMs : kPollMs);
    if (!found) Fail(name + " shows " + Visible(seen) + ", not " + Visible(wanted));
    Log(prefix ? "%s passed %s" : "%s shows %s", name, Visible(seen));
}

// The checks below wait for what they expect, since the window changes in several steps (the
// status line before the buttons); a mismatch that outlasts the wait is reported.
void StepEnabled(const std::string& name, const std::string& state) {
    HWND control = Control(name);
    const bool wanted = state == "1";
    if (!WaitUntil([&] { return (IsWindowEnabled(control) != FALSE) == wanted; }))
        Fail(name + (wanted ? " is disabled" : " is enabled") + ", expected otherwise");
    Log("%s is %s", name, wanted ? "enabled" : "disabled");
}

std::string SlotCaptions() {
    std::string seen;
    for (int slot = 0; slot < 32; ++slot) {
        seen += (slot ? "," : "") + TextOf(GetDlgItem(MainWindow, kSlotIds[slot]));
    }
    return seen;
}

void StepSlots(const std::string& list) {
    const std::vector<std::string> wanted = ExpandList(list);
    if (wanted.size() != 32) Fail("the slot list does not name 32 slots: " + list);
    std::string expected;
    for (const std::string& caption : wanted) expected += (expected.empty() ? "" : ",") + caption;
    std::string seen;
    if (!WaitUntil([&] { return (seen = SlotCaptions()) == expected; }))
        Fail("the slots read " + seen + ", not " + expected);
    Log("slot captions %s", seen);
}

std::string EnabledSlots() {
    std::string seen;
    for (int slot = 0; slot < 32; ++slot) {
        seen += IsWindowEnabled(GetDlgItem(MainWindow, kSlotIds[slot])) ? '1' : '0';
    }
    return seen;
}

void StepOffered(const std::string& mask) {
    if (mask.size() != 32) Fail("the offer mask does not have 32 digits: " + mask);
    std::string seen;
    if (!WaitUntil([&] { return (seen = EnabledSlots()) == mask; }))
        Fail("enabled slot buttons " + seen + ", expected " + mask);
    Log("enabled slot buttons %s", seen);
}

HWND BoxText(HWND box) {
    HWND text = GetDlgItem(box, kMessageTextId);
    return text != nullptr ? text : box;
}

HWND AwaitDialog(const std::string& title) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] {
            dialog = FindDialog([&](HWND w) { return TextOf(w) == title; });
            return dialog != nullptr;
        }))
        Fail("no dialog titled " + Visible(title));
    if (MainWindow == nullptr) GetWindowThreadProcessId(dialog, &KelmProcess);
    return dialog;
}

void StepAwait(const std::string& title) {
    AwaitDialog(title);
    Log("a dialog titled %s is up", Visible(title));
}

void StepBox(const std::string& title, const std::string& text, const std::string& button) {
    HWND box = AwaitDialog(title);
    const std::string wanted = Unescape(text);
    const std::string seen = TextOf(BoxText(box));
    if (seen != wanted) Fail("the box says " + Visible(seen) + ", not " + Visible(wanted));
    const int id = button == "yes" ? IDYES : button == "no" ? IDNO : IDOK;
    HWND press = GetDlgItem(box, id);
    if (press == nullptr) Fail("the box has no " + button + " button");
    Log("box %s says %s", Visible(title), Visible(seen));
    Press(press);
    if (!WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }))
        Fail("the box did not close");
    Log("answered %s", button);
}

HWND WaitForFileDialog() {
    HWND dialog = nullptr;
    if (!WaitUntil([&] {
            dialog = FindDialog([](HWND w) { return GetDlgItem(w, kFileTypeComboId) != nullptr; });
            return dialog != nullptr;
        }))
        Fail("no file dialog");
    return dialog;
}

void FillFileDialog(HWND dialog, const std::string& path) {
    HWND name = GetDlgItem(dialog, kFileNameEditId);
    if (name == nullptr) name = GetDlgItem(dialog, kFileNameComboId);
    if (name == nullptr) Fail("the file dialog has no file name field");
    if (!SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str())))
        Fail("the file name could not be typed");
    Log("typed the file name %s", Visible(path));
    Press(GetDlgItem(dialog, IDOK));
    if (!WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        Fail("the file dialog did not close");
    Log("the file dialog %s closed", Visible(TextOf(dialog)));
}

void StepOpen(const std::string& filter, const std::string& path) {
    HWND dialog = WaitForFileDialog();
    Log("file dialog %s", Visible(TextOf(dialog)));
    HWND types = GetDlgItem(dialog, kFileTypeComboId);
    const int index = std::atoi(filter.c_str()) - 1;
    if (SendMessageA(types, CB_SETCURSEL, index, 0) != index)
        Fail("the file dialog has no filter " + filter);
    // Choosing with the mouse also tells the dialog, which takes the filter from that: Windows
    // on the change, Wine on the end of the selection.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeComboId, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(types));
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeComboId, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(types));
    Log("chose the filter %s", filter);
    FillFileDialog(dialog, path);
}

void StepSave(const std::string& path) {
    HWND dialog = WaitForFileDialog();
    Log("file dialog %s", Visible(TextOf(dialog)));
    FillFileDialog(dialog, path);
}

void StepCommand(const std::string& id) {
    PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(ControlId(id), 0), 0);
    Log("sent the command %s", id);
}

void StepClose() {
    PostMessageA(MainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    Log("closed the window%s", "");
}

void StepGone() {
    if (!WaitUntil([] { return !IsWindow(MainWindow); })) Fail("the window is still there");
    MainWindow = nullptr;
    Log("the window is gone");
}

// The pixels of a control's edge, back in dialog units: base units are whole pixels, and the
// dialog manager scales x by base / 4 and y by base / 8 with MulDiv's rounding.
// Without known base units, or for an edge off the grid, it stays in pixels.
std::string DialogUnits(int pixels, int base, int divisor) {
    for (int units = 0; base > 0 && units <= 1000; ++units) {
        if (MulDiv(units, base, divisor) == pixels) return std::to_string(units);
    }
    return std::to_string(pixels) + "px";
}

// The window, then each control in template order (which is the order of the child windows):
//   window TITLE WIDTHxHEIGHT STYLE EXSTYLE
//   ID CLASS X,Y WIDTHxHEIGHT shown|hidden enabled|disabled checked|unchecked|- STYLE EXSTYLE TEXT
// Places and sizes in dialog units, styles in hex, texts quoted as Visible does.
std::vector<std::string> LayoutLines() {
    RECT client = {};
    GetClientRect(MainWindow, &client);
    int baseX = 0;
    int baseY = 0;
    for (int base = 1; base <= 100; ++base) {  // the client area is 286 x 250 units
        if (MulDiv(286, base, 4) == client.right) baseX = base;
        if (MulDiv(250, base, 8) == client.bottom) baseY = base;
    }
    char line[512];
    std::vector<std::string> lines;
    std::snprintf(line, sizeof(line), "window %s %sx%s %08lx %08lx",
                  Visible(TextOf(MainWindow)).c_str(), DialogUnits(client.right, baseX, 4).c_str(),
                  DialogUnits(client.bottom, baseY, 8).c_str(),
                  static_cast<unsigned long>(GetWindowLongA(MainWindow, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongA(MainWindow, GWL_EXSTYLE)));
    lines.push_back(line);
    for (HWND child = GetWindow(MainWindow, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, MainWindow, reinterpret_cast<POINT*>(&rect), 2);
        const std::string kind = ClassOf(child);
        const char* check = "-";
        if (kind == "Button") {
            DWORD_PTR state = 0;
            // A hung program must not hang the driver.
            if (!SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kWaitMs, &state)) {
                check = "?";
            } else {
                check = state == BST_CHECKED ? "checked" : "unchecked";
            }
        }
        std::snprintf(line, sizeof(line), "%d %s %s,%s %sx%s %s %s %s %08lx %08lx %s",
                      static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), kind.c_str(),
                      DialogUnits(rect.left, baseX, 4).c_str(),
                      DialogUnits(rect.top, baseY, 8).c_str(),
                      DialogUnits(rect.right - rect.left, baseX, 4).c_str(),
                      DialogUnits(rect.bottom - rect.top, baseY, 8).c_str(),
                      IsWindowVisible(child) ? "shown" : "hidden",
                      IsWindowEnabled(child) ? "enabled" : "disabled", check,
                      static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE)),
                      Visible(TextOf(child)).c_str());
        lines.push_back(line);
    }
    return lines;
}

void StepLayout(const std::string& file) {
    std::ifstream in(file);
    if (!in) Fail("cannot read " + file);
    std::vector<std::string> wanted;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') wanted.push_back(line);
    }
    // The window may still be settling (a box just closed): the last look is the one reported.
    std::vector<std::string> seen;
    if (!WaitUntil([&] { return (seen = LayoutLines()) == wanted; })) {
        for (size_t i = 0; i < wanted.size() || i < seen.size(); ++i) {
            const std::string want = i < wanted.size() ? wanted[i] : "(nothing)";
            const std::string got = i < seen.size() ? seen[i] : "(nothing)";
            if (want != got)
                std::printf("  expected %s\n  seen     %s\n", want.c_str(), got.c_str());
        }
        Fail("the window differs from " + file);
    }
    Log("the window and its %s controls are as %s lists them", std::to_string(seen.size() - 1),
        file);
}

bool KelmWindowExists() { return FindWindowA(kDialogClass, kWindowTitle) != nullptr; }

void StepNoWindow() {
    if (KelmWindowExists()) Fail("there is a kelm window");
    Log("there is no kelm window%s", "");
}

void StepEnded() {
    if (KelmProcess == 0) Fail("no program seen to wait for");
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, KelmProcess);
    // No such process any more is an end; any other refusal would leave nothing to watch.
    if (process == nullptr && GetLastError() != ERROR_INVALID_PARAMETER)
        Fail("the program cannot be watched");
    bool appeared = false;
    const bool ended = WaitUntil([&] {
        appeared = appeared || KelmWindowExists();
        return appeared || process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    });
    if (process != nullptr) CloseHandle(process);
    if (appeared) Fail("a kelm window appeared");
    if (!ended) Fail("the program is still running");
    MainWindow = nullptr;
    Log("the program has ended%s", "");
}

// Whatever the program leaves running holds the driver's output as well, as Wine's own
// processes do when the driver is the program that starts them.
void StepRun(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION program = {};
    std::string line = commandLine;
    std::string problem;
    DWORD code = 0;
    bool inheritable = true;
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        inheritable =
            inheritable && (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
                            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT));
    }
    if (!inheritable) {
        problem = "a standard handle cannot be made inheritable";
    } else if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &program)) {
        problem = "cannot start " + commandLine;
    } else if (WaitForSingleObject(program.hProcess, kWaitMs) != WAIT_OBJECT_0) {
        problem = commandLine + " did not end";
    } else if (!GetExitCodeProcess(program.hProcess, &code)) {
        problem = "no exit code of " + commandLine;
    } else if (code != 0) {
        problem = commandLine + " ended with exit code " + std::to_string(code);
    }
    if (program.hThread != nullptr && !CloseHandle(program.hThread) && problem.empty())
        problem = "cannot close the program's thread";
    if (program.hProcess != nullptr && !CloseHandle(program.hProcess) && problem.empty())
        problem = "cannot close the program";
    if (!problem.empty()) Fail(problem);
    Log("ran %s", commandLine);
}

}  // namespace

int main(int argc, char** argv) {
    StartTick = GetTickCount();
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelm-e2e-driver SHOTS-FOLDER STEP ARGS...\n");
        return 2;
    }
    ShotsFolder = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    size_t at = 0;
    auto take = [&](const std::string& step) -> std::string {
        if (at >= args.size()) Fail("step " + step + " lacks an argument");
        return args[at++];
    };
    while (at < args.size()) {
        const std::string step = args[at++];
        // A box or a screenshot may come before there is any window (a demo that cannot start).
        if (step != "window" && step != "box" && step != "await" && step != "shot" &&
            step != "nowindow" && step != "ended" && step != "run" && MainWindow == nullptr) {
            StepWindow();
        }
        if (step == "window") {
            StepWindow();
        } else if (step == "click") {
            StepClick(take(step));
        } else if (step == "text" || step == "passes") {
            const std::string name = take(step);
            StepText(name, take(step), step == "passes");
        } else if (step == "enabled") {
            const std::string name = take(step);
            StepEnabled(name, take(step));
        } else if (step == "slots") {
            StepSlots(take(step));
        } else if (step == "offered") {
            StepOffered(take(step));
        } else if (step == "await") {
            StepAwait(take(step));
        } else if (step == "box") {
            const std::string title = take(step);
            const std::string text = take(step);
            StepBox(title, text, take(step));
        } else if (step == "open") {
            const std::string filter = take(step);
            StepOpen(filter, take(step));
        } else if (step == "save") {
            StepSave(take(step));
        } else if (step == "shot") {
            if (!Shot(take(step))) Fail("no screenshot");
        } else if (step == "command") {
            StepCommand(take(step));
        } else if (step == "close") {
            StepClose();
        } else if (step == "gone") {
            StepGone();
        } else if (step == "layout") {
            StepLayout(take(step));
        } else if (step == "nowindow") {
            StepNoWindow();
        } else if (step == "ended") {
            StepEnded();
        } else if (step == "dump") {
            Dump();
        } else if (step == "run") {
            StepRun(take(step));
        } else {
            Fail("unknown step " + step);
        }
    }
    Log("all steps passed");
    return 0;
}
