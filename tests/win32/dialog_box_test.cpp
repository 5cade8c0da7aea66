#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_dialog.h"
#include "user_test.h"
#include "win32/standin.h"

namespace {

constexpr LPARAM kInitParam = 1234;
constexpr UINT kPosted = WM_USER + 100;
constexpr INT_PTR kCancelled = 77;

class DialogBoxTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        module = standin::RegisterModule(kTestDialogRes, kTestDialogResSize);
        ASSERT_NE(module, nullptr);
    }

    INT_PTR Run(int id, std::function<void(HWND)> script, HWND owner = nullptr) {
        standin::SetUserScript(std::move(script));
        return DialogBoxParamA(module, MAKEINTRESOURCEA(id), owner, RecordingProc, kInitParam);
    }

    // A procedure that ends the dialog on Cancel, as most dialogs do.
    static void EndOnCancel() {
        ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, kCancelled);
                return TRUE;
            }
            return FALSE;
        };
    }

    HINSTANCE module = nullptr;
};

TEST_F(DialogBoxTest, InitialisesBeforeShowingThenRunsTheScript) {
    bool visibleDuringInit = true;
    HWND focus = nullptr;
    LPARAM param = 0;
    ProcHandler() = [&](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            visibleDuringInit = IsWindowVisible(GetDlgItem(window, IDC_GO)) != FALSE;
            focus = reinterpret_cast<HWND>(wParam);
            param = lParam;
            return TRUE;
        }
        return FALSE;
    };
    HWND seen = nullptr;
    Run(IDD_EXTENDED, [&](HWND dialog) {
        seen = dialog;
        EXPECT_EQ(standin::CurrentDialog(), dialog);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_GO)));
        EXPECT_EQ(standin::Title(dialog), "Test Box");
        EXPECT_FALSE(standin::Visible(dialog, IDC_HIDDEN));
        EXPECT_FALSE(standin::Enabled(dialog, IDC_OFF));
        EXPECT_EQ(standin::TemplateInfo(dialog).font.typeface, "Tahoma");
        EXPECT_EQ(standin::Controls(dialog)[13].titleOrdinal, IDB_PICTURE);
    });
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(visibleDuringInit);
    EXPECT_NE(focus, nullptr);
    EXPECT_EQ(param, kInitParam);
    EXPECT_EQ(ProcCalls().front().message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(standin::CurrentDialog(), nullptr);
}

TEST_F(DialogBoxTest, FocusGoesToTheFirstVisibleEnabledTabStop) {
    HWND focus = nullptr;
    HWND go = nullptr;
    ProcHandler() = [&](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            focus = reinterpret_cast<HWND>(wParam);
            go = GetDlgItem(window, IDC_GO);
        }
        return FALSE;
    };
    Run(IDD_EXTENDED, nullptr);
    EXPECT_NE(go, nullptr);
    EXPECT_EQ(focus, go);
}

// Without a script the user closes the window at once. The procedure does not handle the close
// command, so the dialog manager turns it into WM_CLOSE and then into Cancel.
TEST_F(DialogBoxTest, UnhandledCloseBecomesCancel) {
    EndOnCancel();
    EXPECT_EQ(Run(IDD_EXTENDED, nullptr), kCancelled);
    std::vector<UINT> messages = ProcMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1], static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(ProcCalls()[1].wParam, static_cast<WPARAM>(SC_CLOSE));
    EXPECT_EQ(messages[2], static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(messages[3], static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(ProcCalls()[3].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_TRUE(standin::DialogEnded());
    EXPECT_EQ(standin::LastDialogResult(), kCancelled);
}

TEST_F(DialogBoxTest, HandledCloseGoesNoFurther) {
    ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_SYSCOMMAND && wParam == SC_CLOSE) {
            EndDialog(window, 0);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(Run(IDD_EXTENDED, nullptr), 0);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND}));
}

// A dialog that ignores every way of closing it would wait for ever; the test gets -1.
TEST_F(DialogBoxTest, DialogThatNeverEndsReturnsMinusOne) {
    EXPECT_EQ(Run(IDD_EXTENDED, [](HWND dialog) { standin::PressEscape(dialog); }), -1);
    EXPECT_FALSE(standin::DialogEnded());
}

// A disabled Cancel button keeps the close box from cancelling, as on Windows.
TEST_F(DialogBoxTest, DisabledCancelButtonStopsTheCloseCommand) {
    EndOnCancel();
    EXPECT_EQ(Run(IDD_CLASSIC, nullptr), -1);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE}));
}

TEST_F(DialogBoxTest, EscapeAndEnterAreCancelAndOk) {
    INT_PTR result = Run(IDD_CLASSIC, [](HWND dialog) {
        standin::PressEnter(dialog);
        standin::PressEscape(dialog);
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        EXPECT_TRUE(standin::Click(dialog, IDCANCEL));
        standin::PressEscape(dialog);
    });
    EXPECT_EQ(result, -1);  // this procedure handles nothing; the cancel button now lets the
                            // close box send Cancel, which it ignores as well
    EXPECT_EQ(ProcCommands(), (std::vector<int>{IDOK, IDCANCEL, IDCANCEL, IDCANCEL, IDCANCEL}));
    // Each command names its button when the dialog has one.
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == WM_COMMAND) {
            EXPECT_NE(call.lParam, 0);
        }
    }
}

TEST_F(DialogBoxTest, ResultIsWhatEndDialogPassed) {
    ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_GO) EndDialog(window, 3);
        return FALSE;
    };
    HWND ended = nullptr;
    INT_PTR result = Run(IDD_EXTENDED, [&](HWND dialog) {
        ended = dialog;
        EXPECT_TRUE(standin::Click(dialog, IDC_GO));
        // After EndDialog the dialog takes no more clicks and drops what is posted to it.
        EXPECT_FALSE(standin::Click(dialog, IDC_GO));
        EXPECT_FALSE(standin::Click(dialog, IDC_CHECK));
        EXPECT_TRUE(PostMessageA(dialog, kPosted, 0, 0));
        EXPECT_EQ(standin::PumpMessages(), 0);
    });
    EXPECT_EQ(result, 3);
    EXPECT_EQ(ProcCommands(), (std::vector<int>{IDC_GO}));
    EXPECT_FALSE(standin::Checked(ended, IDC_CHECK));
    // Once DialogBoxParamA has returned the window is gone; the test can still look at it.
    EXPECT_FALSE(PostMessageA(ended, kPosted, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(SetWindowTextA(GetDlgItem(ended, IDC_STATUS), "late"));
    EXPECT_EQ(standin::Text(ended, IDC_STATUS), "Status");
}

TEST_F(DialogBoxTest, EndingDuringInitialisationSkipsTheScript) {
    ProcHandler() = [](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) EndDialog(window, 9);
        return FALSE;
    };
    bool ran = false;
    EXPECT_EQ(Run(IDD_EXTENDED, [&](HWND) { ran = true; }), 9);
    EXPECT_FALSE(ran);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{WM_INITDIALOG}));
}

TEST_F(DialogBoxTest, ClicksOnlyReachVisibleEnabledButtons) {
    std::vector<bool> namesItsButton;
    ProcHandler() = [&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) != IDCANCEL) {
            namesItsButton.push_back(HIWORD(wParam) == BN_CLICKED &&
                                     GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) ==
                                         LOWORD(wParam));
        }
        return FALSE;
    };
    Run(IDD_EXTENDED, [](HWND dialog) {
        struct Case {
            int id;
            bool reaches;
        };
        const Case cases[] = {
            {IDC_GO, true},     {IDC_HIDDEN, false}, {IDC_OFF, false},        {IDC_STATUS, false},
            {IDC_FRAME, false}, {IDC_FIELD, false},  {IDC_PLAIN_CHECK, true}, {999, false},
        };
        for (const Case& c : cases) EXPECT_EQ(standin::Click(dialog, c.id), c.reaches) << c.id;
        // Enabled and shown at run time, they take clicks.
        EnableWindow(GetDlgItem(dialog, IDC_OFF), TRUE);
        EXPECT_TRUE(standin::Click(dialog, IDC_OFF));
    });
    EXPECT_EQ(ProcCommands(), (std::vector<int>{IDC_GO, IDC_PLAIN_CHECK, IDC_OFF, IDCANCEL}));
    EXPECT_EQ(namesItsButton, (std::vector<bool>{true, true, true}));
}

// An automatic check box has changed its check by the time its parent hears of the click.
TEST_F(DialogBoxTest, AutomaticButtonsChangeTheirCheckBeforeTheCommand) {
    std::vector<UINT> checkAtCommand;
    ProcHandler() = [&](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) != IDCANCEL) {
            checkAtCommand.push_back(IsDlgButtonChecked(window, LOWORD(wParam)));
        }
        return FALSE;
    };
    Run(IDD_EXTENDED, [](HWND dialog) {
        for (int i = 0; i < 2; ++i) standin::Click(dialog, IDC_CHECK);
        for (int i = 0; i < 3; ++i) standin::Click(dialog, IDC_TRISTATE);
        standin::Click(dialog, IDC_PLAIN_CHECK);  // not automatic: the parent decides
    });
    EXPECT_EQ(checkAtCommand, (std::vector<UINT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED,
                                                 BST_INDETERMINATE, BST_UNCHECKED, BST_UNCHECKED}));
}

TEST_F(DialogBoxTest, AutomaticRadioButtonUnchecksItsGroupOnly) {
    Run(IDD_EXTENDED, [](HWND dialog) {
        CheckRadioButton(dialog, IDC_RADIO_A, IDC_RADIO_D, IDC_RADIO_A);
        SendMessageA(GetDlgItem(dialog, IDC_RADIO_D), BM_SETCHECK, BST_CHECKED, 0);
        struct Step {
            int click;
            std::vector<bool> checked;  // A, B, C, D
        };
        const Step steps[] = {
            {IDC_RADIO_B, {false, true, false, true}},
            {IDC_RADIO_C, {false, false, true, true}},
            {IDC_RADIO_C, {false, false, true, true}},
            {IDC_RADIO_A, {true, false, false, true}},
        };
        for (const Step& step : steps) {
            ASSERT_TRUE(standin::Click(dialog, step.click));
            std::vector<bool> checked;
            for (int id : {IDC_RADIO_A, IDC_RADIO_B, IDC_RADIO_C, IDC_RADIO_D}) {
                checked.push_back(standin::Checked(dialog, id));
            }
            EXPECT_EQ(checked, step.checked) << step.click;
        }
    });
}

// Every user action first lets the message loop dispatch what was posted.
TEST_F(DialogBoxTest, UserActionsDispatchPostedMessagesFirst) {
    Run(IDD_EXTENDED, [](HWND dialog) {
        ASSERT_TRUE(PostMessageA(dialog, kPosted, 1, 0));
        standin::Click(dialog, IDC_GO);
        ASSERT_TRUE(PostMessageA(dialog, kPosted, 2, 0));
        standin::Click(dialog, IDC_HIDDEN);  // does nothing, but the loop ran
        ASSERT_TRUE(PostMessageA(dialog, kPosted, 3, 0));
        standin::SetControlText(dialog, IDC_FIELD, "abc");
    });
    std::vector<std::string> order;
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == kPosted) order.push_back("posted " + std::to_string(call.wParam));
        if (call.message == WM_COMMAND)
            order.push_back("command " + std::to_string(LOWORD(call.wParam)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"posted 1", "command 10", "posted 2", "posted 3",
                                               "command 30", "command 2"}));
}

TEST_F(DialogBoxTest, TypingAndPicking) {
    ProcHandler() = [](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            for (const char* item : {"Bank 0", "Bank 1", "Bank 2"}) {
                SendMessageA(GetDlgItem(window, IDC_CHOICE), CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(item));
            }
        }
        return FALSE;
    };
    Run(IDD_EXTENDED, [](HWND dialog) {
        standin::SetControlText(dialog, IDC_FIELD, "0x8000");
        EXPECT_EQ(standin::Text(dialog, IDC_FIELD), "0x8000");
        standin::SetControlText(dialog, IDC_STATUS, "not typed");  // static text takes no typing
        EXPECT_EQ(standin::Text(dialog, IDC_STATUS), "Status");

        HWND choice = GetDlgItem(dialog, IDC_CHOICE);
        standin::SelectComboItem(dialog, IDC_CHOICE, 2);
        EXPECT_EQ(SendMessageA(choice, CB_GETCURSEL, 0, 0), 2);
        standin::SelectComboItem(dialog, IDC_CHOICE, 3);  // no such entry: nothing
        EXPECT_EQ(SendMessageA(choice, CB_GETCURSEL, 0, 0), 2);
        standin::SelectComboItem(dialog, IDC_CHOICE, -1);
        EXPECT_EQ(SendMessageA(choice, CB_GETCURSEL, 0, 0), CB_ERR);
    });
    std::vector<std::pair<int, int>> notifications;
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == WM_COMMAND) {
            notifications.push_back({LOWORD(call.wParam), HIWORD(call.wParam)});
        }
    }
    EXPECT_EQ(notifications,
              (std::vector<std::pair<int, int>>{
                  {IDC_FIELD, EN_CHANGE}, {IDC_CHOICE, CBN_SELCHANGE}, {IDCANCEL, BN_CLICKED}}));
}

TEST_F(DialogBoxTest, TemplatesAreFoundByOrdinalNameOrTheProgramModule) {
    std::vector<std::string> titles;
    standin::SetUserScript([&](HWND dialog) { titles.push_back(standin::Title(dialog)); });
    EXPECT_EQ(DialogBoxParamA(module, IDD_NAMED_TEXT, nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(DialogBoxParamA(module, "named", nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(DialogBoxParamA(module, "#201", nullptr, RecordingProc, 0), -1);
    // The first registered module is the program's own, which a null instance means.
    HINSTANCE other = standin::RegisterModule(nullptr, 0);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_CLASSIC), nullptr, RecordingProc, 0),
              -1);
    EXPECT_EQ(GetModuleHandleA(nullptr), module);
    EXPECT_NE(other, module);
    EXPECT_EQ(titles, (std::vector<std::string>{"By name", "By name", "Old", "Old"}));
}

TEST_F(DialogBoxTest, MissingTemplateFails) {
    struct Case {
        HINSTANCE instance;
        LPCSTR name;
        DWORD error;
    };
    HINSTANCE noDialogs = standin::RegisterModule(nullptr, 0);
    ASSERT_NE(noDialogs, nullptr);
    int notAModule = 0;
    const Case cases[] = {
        {module, MAKEINTRESOURCEA(999), ERROR_RESOURCE_NAME_NOT_FOUND},
        {module, "UNKNOWN", ERROR_RESOURCE_NAME_NOT_FOUND},
        {noDialogs, MAKEINTRESOURCEA(IDD_EXTENDED), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {reinterpret_cast<HINSTANCE>(&notAModule), MAKEINTRESOURCEA(IDD_EXTENDED),
         ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamA(c.instance, c.name, nullptr, RecordingProc, 0), -1);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(ProcCalls().empty());
}

TEST_F(DialogBoxTest, MalformedResourcesAreRefusedAtRegistration) {
    const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(standin::RegisterModule(garbage, sizeof(garbage)), nullptr);
    EXPECT_EQ(standin::RegisterModule(kTestDialogRes, kTestDialogResSize - 5), nullptr);
}

TEST_F(DialogBoxTest, OwnerIsDisabledWhileTheDialogRuns) {
    HWND owner = standin::CreateTestDialog({});
    bool ownerEnabled = true;
    INT_PTR result = Run(
        IDD_EXTENDED, [&](HWND) { ownerEnabled = IsWindowEnabled(owner) != FALSE; }, owner);
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner));

    standin::DestroyTestDialog(owner);
    EXPECT_EQ(Run(IDD_EXTENDED, nullptr, owner), 0);  // an owner that is gone: nothing runs
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// A procedure may show a message box in the middle of a command; the box's loop dispatches
// posted messages and the user may click meanwhile, all on the same thread.
TEST_F(DialogBoxTest, DispatchingIsReentrant) {
    ProcHandler() = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_GO) {
            PostMessageA(window, kPosted, 0, 0);
            MessageBoxA(nullptr, "Error sending CMD_WRITE command.", "Error", MB_OK);
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_CHECK) EndDialog(window, 5);
        return FALSE;
    };
    standin::SetMessageBoxHandler([](const standin::MessageBoxRecord&) {
        EXPECT_TRUE(standin::Click(standin::CurrentDialog(), IDC_CHECK));
        return IDOK;
    });
    EXPECT_EQ(Run(IDD_EXTENDED, [](HWND dialog) { standin::Click(dialog, IDC_GO); }), 5);
    std::vector<std::string> order;
    for (const ProcCall& call : ProcCalls()) {
        if (call.message == kPosted) order.push_back("posted");
        if (call.message == WM_COMMAND) order.push_back(std::to_string(LOWORD(call.wParam)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"10", "posted", "13"}));
}

}  // namespace
