// Controls of a hand-built dialog: texts, enabling, checks and combo box selection.
#include "user_test.h"

namespace {

// kRadioOutside lies outside the range of the two radio buttons; kAbsent is no control.
constexpr int kStatus = 1005, kButton = 1001, kOffButton = 1004, kCheck = 1061, kCombo = 1020;
constexpr int kRadioFirst = 1006, kRadioSecond = 1007, kRadioOutside = 1009, kAbsent = 1014;

class WindowsModelTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        const DWORD shown = WS_CHILD | WS_VISIBLE;
        dialog = standin::CreateTestDialog({
            {kStatus, "STATIC", "Hello", shown | SS_CENTER, 0, {}},
            {kButton, "Button", "&Connect", shown, 0, {}},
            {kOffButton, "BUTTON", "&Write", shown | WS_DISABLED, 0, {}},
            {kCheck, "BUTTON", "Boot", shown | BS_AUTOCHECKBOX, 0, {}},
            {kRadioFirst, "BUTTON", "", shown | BS_AUTORADIOBUTTON | WS_GROUP, 0, {}},
            {kRadioSecond, "BUTTON", "", shown | BS_AUTORADIOBUTTON, 0, {}},
            {kRadioOutside, "BUTTON", "", shown | BS_RADIOBUTTON, 0, {}},
            {kCombo, "COMBOBOX", "", shown, 0, {"Bank 0", "Bank 1"}},
        });
    }
    HWND Item(int id) { return GetDlgItem(dialog, id); }

    HWND dialog = nullptr;
};

// Setting the text of a control that the window does not contain has no effect.
TEST_F(WindowsModelTest, TextsOfMissingControlsChangeNothingOthersAreRecorded) {
    EXPECT_EQ(Item(kAbsent), nullptr);
    EXPECT_FALSE(SetWindowTextA(Item(kAbsent), "Done!"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(SetDlgItemTextA(dialog, kAbsent, "Done!"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    for (int id : standin::ControlIds(dialog))
        EXPECT_TRUE(standin::TextHistory(dialog, id).empty());
    EXPECT_EQ(standin::Title(dialog), "");

    EXPECT_TRUE(SetWindowTextA(Item(kStatus), "Connected."));
    EXPECT_TRUE(SetDlgItemTextA(dialog, kStatus, "KELM OK!"));
    // Without history texts still change but go unrecorded.
    standin::SetHistoryKept(false);
    EXPECT_TRUE(SetWindowTextA(Item(kStatus), "Done!"));
    EXPECT_EQ(standin::Text(dialog, kStatus), "Done!");
    EXPECT_EQ(standin::TextHistory(dialog, kStatus),
              (std::vector<std::string>{"Connected.", "KELM OK!"}));
}

// As GetWindowTextA, so WM_GETTEXT; a missing control's text is "".
TEST_F(WindowsModelTest, GetWindowTextCopiesAtMostSizeMinusOneAndAZero) {
    const struct {
        int size;
        int copied;
        const char* buffer;
    } cases[] = {{0, 0, "########"}, {-1, 0, "########"}, {1, 0, ""},
                 {2, 1, "H"},        {5, 4, "Hell"},      {6, 5, "Hello"}};
    for (const auto& c : cases) {
        char buffer[9] = "########";
        EXPECT_EQ(GetWindowTextA(Item(kStatus), buffer, c.size), c.copied) << c.size;
        EXPECT_STREQ(buffer, c.buffer) << c.size;
        char viaMessage[9] = "########";
        EXPECT_EQ(SendMessageA(Item(kStatus), WM_GETTEXT, static_cast<WPARAM>(c.size),
                               reinterpret_cast<LPARAM>(viaMessage)),
                  c.copied);
        EXPECT_STREQ(viaMessage, c.buffer) << c.size;
    }
    char buffer[8] = "stale";
    EXPECT_EQ(GetDlgItemTextA(dialog, kAbsent, buffer, sizeof(buffer)), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(WindowsModelTest, EnableWindowAnswersWhetherItWasDisabled) {
    // kOffButton starts disabled.
    const BOOL steps[][3] = {// enable, was disabled, enabled after
                             {TRUE, TRUE, TRUE},
                             {TRUE, FALSE, TRUE},
                             {FALSE, FALSE, FALSE},
                             {FALSE, TRUE, FALSE}};
    for (const auto& step : steps) {
        EXPECT_EQ(EnableWindow(Item(kOffButton), step[0]), step[1]);
        EXPECT_EQ(IsWindowEnabled(Item(kOffButton)), step[2]);
    }
}

TEST_F(WindowsModelTest, ChecksStickToCheckBoxesAndRadioButtonsOnly) {
    SendMessageA(Item(kRadioOutside), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(Item(kButton), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageA(Item(kButton), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(CheckRadioButton(dialog, kRadioFirst, kRadioSecond, kRadioSecond));
    EXPECT_TRUE(CheckRadioButton(dialog, kRadioFirst, kRadioSecond, kRadioFirst));
    // Identifiers the window lacks change nothing.
    EXPECT_TRUE(CheckRadioButton(dialog, 2000, 2001, 2000));
    std::vector<UINT> checks;
    for (int id : {kRadioFirst, kRadioSecond, kRadioOutside, kCheck, kAbsent}) {
        checks.push_back(IsDlgButtonChecked(dialog, id));
    }
    EXPECT_EQ(checks, (std::vector<UINT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED,
                                         BST_UNCHECKED}));
}

TEST_F(WindowsModelTest, ComboBoxSelection) {
    HWND combo = Item(kCombo);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Bank 2")), 2);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
    const LRESULT steps[][3] = {// index, answer, selection afterwards
                                {1, 1, 1},
                                {3, CB_ERR, CB_ERR},  // past the end clears the selection
                                {2, 2, 2},
                                {-1, CB_ERR, CB_ERR}};
    for (const auto& step : steps) {
        EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(step[0]), 0), step[1]);
        EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), step[2]);
    }
}

}  // namespace
