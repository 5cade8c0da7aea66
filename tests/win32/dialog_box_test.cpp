// Modal dialogs built from the compiled template: initialising, clicks, closing and the
// message loop that runs while a procedure is busy.
#include "test_dialog.h"
#include "user_test.h"

namespace {

constexpr UINT kPosted = WM_USER + 100;
constexpr INT_PTR kCancelled = 77;

class DialogBoxTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        module = standin::RegisterModule(kTestDialogRes, kTestDialogResSize);
        ASSERT_NE(module, nullptr);
    }
    INT_PTR Run(int id, std::function<void(HWND)> script) {
        standin::SetUserScript(std::move(script));
        return DialogBoxParamA(module, MAKEINTRESOURCEA(id), nullptr, RecordingProc, 1234);
    }
    // Ends the dialog on Cancel and on a click of IDC_GO, as most procedures would.
    static void EndOnCancelOrGo() {
        ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(window, kCancelled);
            if (message == WM_COMMAND && LOWORD(wParam) == IDC_GO) EndDialog(window, 3);
            return FALSE;
        };
    }

    HINSTANCE module = nullptr;
};

// The dialog is initialised before it is shown; then the script clicks, and only visible, enabled
// buttons take a click.
TEST_F(DialogBoxTest, InitialisesBeforeShowingThenClicksReachVisibleEnabledButtons) {
    bool visibleDuringInit = true;
    ProcHandler() = [&](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG)
            visibleDuringInit = IsWindowVisible(GetDlgItem(window, IDC_GO));
        return FALSE;
    };
    Run(IDD_EXTENDED, [](HWND dialog) {
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_GO)));
        EXPECT_EQ(standin::CurrentDialog(), dialog);
        const std::pair<int, bool> cases[] = {
            {IDC_GO, true},     {IDC_HIDDEN, false}, {IDC_OFF, false}, {IDC_STATUS, false},
            {IDC_FRAME, false}, {IDC_FIELD, false},  {999, false},     {IDC_PLAIN_CHECK, true}};
        for (const auto& [id, reaches] : cases)
            EXPECT_EQ(standin::Click(dialog, id), reaches) << id;
    });
    EXPECT_FALSE(visibleDuringInit);
    EXPECT_EQ(ProcCalls().at(0).message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(ProcCalls().at(0).lParam, 1234);
    EXPECT_EQ(ProcCommands(), (std::vector<int>{IDC_GO, IDC_PLAIN_CHECK, IDCANCEL}));
    EXPECT_EQ(standin::CurrentDialog(), nullptr);
}

// The user closes the window when the script is done. A procedure that does not handle the
// close command gets WM_CLOSE and then Cancel from the dialog manager; one that ignores even
// that would keep the dialog for ever, and the test gets -1.
TEST_F(DialogBoxTest, UnhandledCloseBecomesCancel) {
    EndOnCancelOrGo();
    EXPECT_EQ(Run(IDD_EXTENDED, nullptr), kCancelled);
    EXPECT_EQ(ProcMessages(),
              (std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND}));
    EXPECT_EQ(ProcCalls()[1].wParam, static_cast<WPARAM>(SC_CLOSE));
    EXPECT_EQ(ProcCalls()[3].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(standin::LastDialogResult(), kCancelled);

    ProcHandler() = nullptr;
    EXPECT_EQ(Run(IDD_EXTENDED, nullptr), -1);
    EXPECT_FALSE(standin::DialogEnded());
    // A disabled Cancel button keeps the close box from cancelling at all.
    EndOnCancelOrGo();
    ProcCalls().clear();
    EXPECT_EQ(Run(IDD_CLASSIC, nullptr), -1);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE}));
}

// An automatic button has changed its check by the time its parent hears of the click; an
// automatic radio button unchecks the others of its group only.
TEST_F(DialogBoxTest, AutomaticButtonsChangeTheirCheckBeforeTheCommand) {
    std::vector<UINT> checkAtCommand;
    ProcHandler() = [&](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) != IDCANCEL) {
            checkAtCommand.push_back(IsDlgButtonChecked(window, LOWORD(wParam)));
        }
        return FALSE;
    };
    std::vector<bool> radios;
    Run(IDD_EXTENDED, [&](HWND dialog) {
        CheckRadioButton(dialog, IDC_RADIO_A, IDC_RADIO_D, IDC_RADIO_A);
        SendMessageA(GetDlgItem(dialog, IDC_RADIO_D), BM_SETCHECK, BST_CHECKED, 0);
        for (int id :
             {IDC_CHECK, IDC_CHECK, IDC_TRISTATE, IDC_TRISTATE, IDC_PLAIN_CHECK, IDC_RADIO_B}) {
            standin::Click(dialog, id);
        }
        for (int id : {IDC_RADIO_A, IDC_RADIO_B, IDC_RADIO_C, IDC_RADIO_D}) {
            radios.push_back(standin::Checked(dialog, id));
        }
    });
    EXPECT_EQ(checkAtCommand, (std::vector<UINT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED,
                                                 BST_INDETERMINATE, BST_UNCHECKED, BST_CHECKED}));
    EXPECT_EQ(radios, (std::vector<bool>{false, true, false, true}));
}

TEST_F(DialogBoxTest, EndedDialogTakesNoClicksAndDropsPostedMessages) {
    EndOnCancelOrGo();
    HWND ended = nullptr;
    EXPECT_EQ(Run(IDD_EXTENDED,
                  [&](HWND dialog) {
                      ended = dialog;
                      EXPECT_TRUE(standin::Click(dialog, IDC_GO));
                      EXPECT_FALSE(standin::Click(dialog, IDC_CHECK));
                      EXPECT_TRUE(PostMessageA(dialog, kPosted, 0, 0));
                      EXPECT_EQ(standin::PumpMessages(), 0);
                  }),
              3);
    EXPECT_EQ(ProcCommands(), (std::vector<int>{IDC_GO}));
    // After DialogBoxParamA the window is gone; the test can still look at it.
    EXPECT_FALSE(PostMessageA(ended, kPosted, 0, 0));
    EXPECT_FALSE(SetWindowTextA(GetDlgItem(ended, IDC_STATUS), "late"));
    EXPECT_EQ(standin::Text(ended, IDC_STATUS), "Status");
}

// Every user action first lets the message loop dispatch what was posted; and a procedure may
// show a message box in the middle of a command, whose loop dispatches posted messages and
// during which the user may click, all on the same thread.
TEST_F(DialogBoxTest, DispatchingIsReentrant) {
    ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_GO) {
            PostMessageA(window, kPosted, 2, 0);
            MessageBoxA(nullptr, "Error sending CMD_WRITE command.", "Error", MB_OK);
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_CHECK) EndDialog(window, 5);
        return FALSE;
    };
    standin::SetMessageBoxHandler([](const standin::MessageBoxRecord&) {
        EXPECT_TRUE(standin::Click(standin::CurrentDialog(), IDC_CHECK));
        return IDOK;
    });
    EXPECT_EQ(Run(IDD_EXTENDED,
                  [](HWND dialog) {
                      PostMessageA(dialog, kPosted, 1, 0);
                      standin::Click(dialog, IDC_GO);
                  }),
              5);
    std::vector<std::string> order;
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == kPosted) order.push_back("posted " + std::to_string(call.wParam));
        if (call.message == WM_COMMAND) order.push_back(std::to_string(LOWORD(call.wParam)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"posted 1", "10", "posted 2", "13"}));
}

TEST_F(DialogBoxTest, TemplateIsFoundByNameOrFailsWithTheReason) {
    std::string title;
    standin::SetUserScript([&](HWND dialog) { title = standin::Title(dialog); });
    // A null instance is the program's own module, the first registered.
    EXPECT_EQ(DialogBoxParamA(nullptr, "named", nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(title, "By name");
    EXPECT_EQ(DialogBoxParamA(module, MAKEINTRESOURCEA(999), nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(standin::RegisterModule(garbage, sizeof(garbage)), nullptr);
}

}  // namespace
