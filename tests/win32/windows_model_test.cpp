#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "user_test.h"
#include "win32/standin.h"

namespace {

constexpr int kStatus = 1005;
constexpr int kButton = 1001;
constexpr int kHiddenButton = 1003;
constexpr int kOffButton = 1004;
constexpr int kCheck = 1061;
constexpr int kRadioFirst = 1006;
constexpr int kRadioSecond = 1007;
constexpr int kRadioOutside = 1009;
constexpr int kCombo = 1020;
constexpr int kAbsent = 1014;

class WindowsModelTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        const DWORD shown = WS_CHILD | WS_VISIBLE;
        dialog = standin::CreateTestDialog(
            {
                Spec(kStatus, "STATIC", "Not connected", shown | SS_CENTER),
                Spec(kButton, "Button", "&Connect", shown | WS_TABSTOP),
                Spec(kHiddenButton, "BUTTON", "&Read", WS_CHILD),
                Spec(kOffButton, "BUTTON", "&Write", shown | WS_DISABLED),
                Spec(kCheck, "BUTTON", "Boot", shown | BS_AUTOCHECKBOX),
                Spec(kRadioFirst, "BUTTON", "", shown | BS_AUTORADIOBUTTON | WS_GROUP),
                Spec(kRadioSecond, "BUTTON", "", shown | BS_AUTORADIOBUTTON),
                Spec(kRadioOutside, "BUTTON", "", shown | BS_RADIOBUTTON),
                Spec(kCombo, "COMBOBOX", "", shown, {"Bank 0", "Bank 1"}),
            },
            RecordingProc);
    }
    HWND Item(int id) { return GetDlgItem(dialog, id); }

    HWND dialog = nullptr;
};

TEST_F(WindowsModelTest, GetDlgItemFindsControlsAndOnlyThem) {
    HWND status = Item(kStatus);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(GetDlgCtrlID(status), kStatus);
    EXPECT_NE(Item(kButton), status);

    SetLastError(0);
    EXPECT_EQ(Item(kAbsent), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    // A dialog is no control of anything.
    EXPECT_EQ(GetDlgCtrlID(dialog), 0);
    EXPECT_EQ(GetDlgItem(nullptr, kStatus), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowsModelTest, PredefinedClassNamesAreCapitalised) {
    EXPECT_EQ(standin::ClassName(dialog, kButton), "BUTTON");
    EXPECT_EQ(standin::ClassName(dialog, kCombo), "COMBOBOX");
    EXPECT_EQ(standin::ControlIds(dialog),
              (std::vector<int>{kStatus, kButton, kHiddenButton, kOffButton, kCheck, kRadioFirst,
                                kRadioSecond, kRadioOutside, kCombo}));
}

// Setting the text of a control that the window does not contain has no effect.
TEST_F(WindowsModelTest, SettingTextOfAMissingControlChangesNothing) {
    SetLastError(0);
    EXPECT_FALSE(SetWindowTextA(Item(kAbsent), "Done!"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(SetDlgItemTextA(dialog, kAbsent, "Done!"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    for (int id : standin::ControlIds(dialog)) {
        EXPECT_TRUE(standin::TextHistory(dialog, id).empty()) << id;
    }
    EXPECT_EQ(standin::Title(dialog), "");
    EXPECT_EQ(standin::Text(dialog, kAbsent), "");
}

TEST_F(WindowsModelTest, TextIsKeptWithItsHistory) {
    EXPECT_TRUE(SetWindowTextA(Item(kStatus), "Connected."));
    EXPECT_TRUE(SetDlgItemTextA(dialog, kStatus, "KELM OK!"));
    EXPECT_TRUE(SetWindowTextA(Item(kStatus), nullptr));
    EXPECT_EQ(SendMessageA(Item(kStatus), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Done!")), TRUE);
    EXPECT_EQ(standin::Text(dialog, kStatus), "Done!");
    EXPECT_EQ(standin::TextHistory(dialog, kStatus),
              (std::vector<std::string>{"Connected.", "KELM OK!", "", "Done!"}));
    EXPECT_TRUE(SetWindowTextA(dialog, "kelm flash software"));
    EXPECT_EQ(standin::Title(dialog), "kelm flash software");

    standin::ClearHistory(dialog);
    EXPECT_TRUE(standin::TextHistory(dialog, kStatus).empty());
    EXPECT_EQ(standin::Text(dialog, kStatus), "Done!");
}

TEST_F(WindowsModelTest, GetWindowTextCopiesAtMostSizeMinusOneAndAZero) {
    ASSERT_TRUE(SetWindowTextA(Item(kStatus), "Hello"));
    struct Case {
        int size;
        int copied;
        const char* buffer;
    };
    const Case cases[] = {
        {0, 0, "########"},  // nothing written, not even the zero
        {-1, 0, "########"}, {1, 0, ""},      {2, 1, "H"},
        {5, 4, "Hell"},      {6, 5, "Hello"}, {8, 5, "Hello"},
    };
    for (const Case& c : cases) {
        char buffer[9] = "########";
        EXPECT_EQ(GetWindowTextA(Item(kStatus), buffer, c.size), c.copied) << c.size;
        EXPECT_STREQ(buffer, c.buffer) << c.size;
        char viaDialog[9] = "########";
        EXPECT_EQ(GetDlgItemTextA(dialog, kStatus, viaDialog, c.size), static_cast<UINT>(c.copied))
            << c.size;
        EXPECT_STREQ(viaDialog, c.buffer) << c.size;
        char viaMessage[9] = "########";
        EXPECT_EQ(SendMessageA(Item(kStatus), WM_GETTEXT, static_cast<WPARAM>(c.size),
                               reinterpret_cast<LPARAM>(viaMessage)),
                  c.copied)
            << c.size;
        EXPECT_STREQ(viaMessage, c.buffer) << c.size;
    }
}

TEST_F(WindowsModelTest, GetTextOfNothingGivesAnEmptyText) {
    char buffer[8] = "stale";
    EXPECT_EQ(GetWindowTextA(nullptr, buffer, sizeof(buffer)), 0);
    EXPECT_STREQ(buffer, "");
    std::strcpy(buffer, "stale");
    EXPECT_EQ(GetDlgItemTextA(dialog, kAbsent, buffer, sizeof(buffer)), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(WindowsModelTest, EnableWindowAnswersWhetherItWasDisabled) {
    struct Step {
        BOOL enable;
        BOOL wasDisabled;
        bool enabledAfter;
    };
    // kOffButton starts disabled.
    const Step steps[] = {
        {TRUE, TRUE, true}, {TRUE, FALSE, true}, {FALSE, FALSE, false}, {FALSE, TRUE, false}};
    for (const Step& step : steps) {
        EXPECT_EQ(EnableWindow(Item(kOffButton), step.enable), step.wasDisabled);
        EXPECT_EQ(IsWindowEnabled(Item(kOffButton)) != FALSE, step.enabledAfter);
        EXPECT_EQ(standin::Enabled(dialog, kOffButton), step.enabledAfter);
        EXPECT_EQ((standin::Style(dialog, kOffButton) & WS_DISABLED) == 0, step.enabledAfter);
    }
    EXPECT_FALSE(EnableWindow(nullptr, TRUE));
    EXPECT_FALSE(IsWindowEnabled(nullptr));
}

TEST_F(WindowsModelTest, VisibilityFollowsTheStyleOfWindowAndParent) {
    EXPECT_TRUE(IsWindowVisible(Item(kButton)));
    EXPECT_FALSE(IsWindowVisible(Item(kHiddenButton)));
    EXPECT_FALSE(standin::Visible(dialog, kHiddenButton));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowVisible(nullptr));
}

TEST_F(WindowsModelTest, CheckRadioButtonChecksOneOfThePresentIds) {
    SendMessageA(Item(kRadioOutside), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(CheckRadioButton(dialog, kRadioFirst, kRadioSecond, kRadioSecond));
    EXPECT_EQ(IsDlgButtonChecked(dialog, kRadioFirst), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dialog, kRadioSecond), static_cast<UINT>(BST_CHECKED));
    EXPECT_TRUE(CheckRadioButton(dialog, kRadioFirst, kRadioSecond, kRadioFirst));
    EXPECT_TRUE(standin::Checked(dialog, kRadioFirst));
    EXPECT_FALSE(standin::Checked(dialog, kRadioSecond));
    // Outside the range nothing changes.
    EXPECT_TRUE(standin::Checked(dialog, kRadioOutside));
    // A range of identifiers the window does not have changes nothing either.
    EXPECT_TRUE(CheckRadioButton(dialog, 2000, 2001, 2000));
    EXPECT_TRUE(standin::Checked(dialog, kRadioFirst));
    EXPECT_FALSE(CheckRadioButton(nullptr, kRadioFirst, kRadioSecond, kRadioFirst));
}

TEST_F(WindowsModelTest, OnlyCheckBoxesAndRadioButtonsKeepACheck) {
    struct Case {
        int id;
        bool keeps;
    };
    const Case cases[] = {{kButton, false},    {kStatus, false},      {kCheck, true},
                          {kRadioFirst, true}, {kRadioOutside, true}, {kCombo, false}};
    for (const Case& c : cases) {
        SendMessageA(Item(c.id), BM_SETCHECK, BST_CHECKED, 0);
        UINT expected = c.keeps ? BST_CHECKED : BST_UNCHECKED;
        EXPECT_EQ(SendMessageA(Item(c.id), BM_GETCHECK, 0, 0), static_cast<LRESULT>(expected))
            << c.id;
        EXPECT_EQ(IsDlgButtonChecked(dialog, c.id), expected) << c.id;
        SendMessageA(Item(c.id), BM_SETCHECK, BST_UNCHECKED, 0);
        EXPECT_EQ(IsDlgButtonChecked(dialog, c.id), static_cast<UINT>(BST_UNCHECKED)) << c.id;
    }
    EXPECT_EQ(IsDlgButtonChecked(dialog, kAbsent), static_cast<UINT>(BST_UNCHECKED));
}

TEST_F(WindowsModelTest, ComboBoxMessages) {
    HWND combo = Item(kCombo);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Bank 2")), 2);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
    struct Step {
        WPARAM index;
        LRESULT answer;
        LRESULT selection;
        const char* text;
    };
    const Step steps[] = {
        {1, 1, 1, "Bank 1"},
        {3, CB_ERR, CB_ERR, ""},  // past the end clears the selection
        {2, 2, 2, "Bank 2"},
        {static_cast<WPARAM>(-1), CB_ERR, CB_ERR, ""},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, step.index, 0), step.answer);
        EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), step.selection);
        EXPECT_EQ(standin::Text(dialog, kCombo), step.text);
    }
    // Combo box messages mean nothing to a button.
    EXPECT_EQ(SendMessageA(Item(kButton), CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST_F(WindowsModelTest, SendMessageToTheDialogReachesItsProcedure) {
    ProcHandler() = [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
        return message == WM_USER + 7 ? 42 : FALSE;
    };
    EXPECT_EQ(SendMessageA(dialog, WM_USER + 7, 1, 2), 42);
    // Unhandled WM_SETTEXT falls to the dialog manager, which sets the title.
    SendMessageA(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Title"));
    EXPECT_EQ(standin::Title(dialog), "Title");
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{WM_USER + 7, WM_SETTEXT}));
    EXPECT_EQ(SendMessageA(nullptr, WM_USER + 7, 0, 0), 0);
}

TEST_F(WindowsModelTest, UpdateWindowCountsRepaintsOfThatWindow) {
    EXPECT_TRUE(UpdateWindow(dialog));
    EXPECT_TRUE(UpdateWindow(dialog));
    EXPECT_TRUE(UpdateWindow(Item(kStatus)));
    EXPECT_EQ(standin::RepaintCount(dialog), 2);
    standin::ClearHistory(dialog);
    EXPECT_EQ(standin::RepaintCount(dialog), 0);
    EXPECT_FALSE(UpdateWindow(nullptr));
}

TEST_F(WindowsModelTest, DestroyedDialogNoLongerAnswersButCanBeInspected) {
    HWND status = Item(kStatus);
    ASSERT_TRUE(SetWindowTextA(status, "Disconnected."));
    standin::DestroyTestDialog(dialog);
    EXPECT_FALSE(SetWindowTextA(status, "late"));
    EXPECT_EQ(GetDlgItem(dialog, kStatus), nullptr);
    EXPECT_FALSE(PostMessageA(dialog, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(standin::Text(dialog, kStatus), "Disconnected.");
}

TEST_F(WindowsModelTest, ResetForgetsEveryWindow) {
    standin::Reset();
    EXPECT_EQ(GetDlgItem(dialog, kStatus), nullptr);
    EXPECT_FALSE(standin::HasControl(dialog, kStatus));
    EXPECT_TRUE(standin::ControlIds(dialog).empty());
}

TEST_F(WindowsModelTest, ControlsReportTheCurrentState) {
    EnableWindow(Item(kOffButton), TRUE);
    CheckRadioButton(dialog, kRadioFirst, kRadioSecond, kRadioSecond);
    std::vector<standin::ControlInfo> controls = standin::Controls(dialog);
    ASSERT_EQ(controls.size(), 9u);
    EXPECT_EQ(controls[3].id, kOffButton);
    EXPECT_EQ(controls[3].style & WS_DISABLED, 0u);
    EXPECT_EQ(controls[6].check, BST_CHECKED);
    EXPECT_EQ(controls[1].text, "&Connect");
    // A hand-built dialog has no template.
    EXPECT_FALSE(standin::TemplateInfo(dialog).hasFont);
}

}  // namespace
