#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "user_test.h"
#include "win32/standin.h"

namespace {

constexpr UINT kPosted = WM_USER + 100;
constexpr int kButton = 1057;

class MessageBoxTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        dialog = standin::CreateTestDialog(
            {Spec(kButton, "BUTTON", "Write", WS_CHILD | WS_VISIBLE | WS_TABSTOP)}, RecordingProc);
    }
    HWND dialog = nullptr;
};

TEST_F(MessageBoxTest, DefaultAnswerIsHowTheBoxIsDismissed) {
    struct Case {
        UINT type;
        int answer;
    };
    const Case cases[] = {
        {MB_OK | MB_ICONWARNING, IDOK},     {MB_OKCANCEL, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDNO}, {MB_YESNOCANCEL, IDCANCEL},
        {MB_RETRYCANCEL, IDCANCEL},         {MB_ABORTRETRYIGNORE, IDABORT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", c.type), c.answer) << c.type;
    }
    EXPECT_EQ(standin::MessageBoxes().size(), std::size(cases));
}

TEST_F(MessageBoxTest, RecordsOwnerTextCaptionAndType) {
    MessageBoxA(dialog, "Remember unplugging USB if you want to boot!\n", "Note",
                MB_OK | MB_ICONWARNING);
    MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
    std::vector<standin::MessageBoxRecord> boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, dialog);
    EXPECT_EQ(boxes[0].text, "Remember unplugging USB if you want to boot!\n");
    EXPECT_EQ(boxes[0].caption, "Note");
    EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONWARNING);
    // Windows captions a box that has none "Error".
    EXPECT_EQ(boxes[1].owner, nullptr);
    EXPECT_EQ(boxes[1].text, "");
    EXPECT_EQ(boxes[1].caption, "Error");

    standin::ClearMessageBoxes();
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(MessageBoxTest, QueuedAnswersComeBeforeTheHandler) {
    std::vector<std::string> asked;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        asked.push_back(box.text);
        return IDYES;
    });
    standin::QueueMessageBoxAnswers({IDNO, IDYES});
    standin::QueueMessageBoxAnswers({IDNO});
    std::vector<int> answers;
    for (const char* text : {"1", "2", "3", "4"}) {
        answers.push_back(MessageBoxA(dialog, text, "Erase", MB_YESNO));
    }
    EXPECT_EQ(answers, (std::vector<int>{IDNO, IDYES, IDNO, IDYES}));
    EXPECT_EQ(asked, (std::vector<std::string>{"4"}));
}

// The box runs its own message loop: posted messages reach the window while it is open.
TEST_F(MessageBoxTest, DispatchesPostedMessagesBeforeItIsAnswered) {
    ASSERT_TRUE(PostMessageA(dialog, kPosted, 1, 2));
    size_t seenByHandler = 0;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
        seenByHandler = ProcCalls().size();
        return IDOK;
    });
    MessageBoxA(nullptr, "Error sending CMD_READ command.", "Error", MB_OK | MB_ICONWARNING);
    EXPECT_EQ(seenByHandler, 1u);
    EXPECT_EQ(ProcMessages(), (std::vector<UINT>{kPosted}));
    EXPECT_EQ(standin::PumpMessages(), 0);
}

// An ownerless box leaves the window enabled, so the user can click in it meanwhile; a box the
// window owns disables it until it is dismissed.
TEST_F(MessageBoxTest, OnlyAnOwnedBoxDisablesItsOwner) {
    struct Case {
        bool owned;
        bool clickWorks;
    };
    for (const Case& c : {Case{false, true}, Case{true, false}}) {
        ProcCalls().clear();
        bool clicked = !c.clickWorks;
        bool enabledMeanwhile = !c.clickWorks;
        standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
            enabledMeanwhile = IsWindowEnabled(dialog) != FALSE;
            clicked = standin::Click(dialog, kButton);
            return IDOK;
        });
        MessageBoxA(c.owned ? dialog : nullptr, "text", "Error", MB_OK);
        EXPECT_EQ(clicked, c.clickWorks) << c.owned;
        EXPECT_EQ(enabledMeanwhile, c.clickWorks) << c.owned;
        EXPECT_EQ(ProcCommands().size(), c.clickWorks ? 1u : 0u) << c.owned;
        EXPECT_TRUE(IsWindowEnabled(dialog)) << c.owned;
    }
}

TEST_F(MessageBoxTest, OwnedByAControlDisablesTheDialog) {
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
        EXPECT_FALSE(IsWindowEnabled(dialog));
        return IDOK;
    });
    MessageBoxA(GetDlgItem(dialog, kButton), "text", "caption", MB_OK);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kButton)));
}

TEST_F(MessageBoxTest, ADisabledOwnerStaysDisabled) {
    EnableWindow(dialog, FALSE);
    MessageBoxA(dialog, "text", "caption", MB_OK);
    EXPECT_FALSE(IsWindowEnabled(dialog));
}

// Boxes inside boxes: the handler may cause another box, as a click during a box can.
TEST_F(MessageBoxTest, NestedBoxesAnswerInOrder) {
    ProcHandler() = [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND) MessageBoxA(nullptr, "inner", "Error", MB_OK);
        return TRUE;
    };
    std::vector<std::string> order;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord& box) {
        order.push_back(box.text + " asked");
        if (box.text == "outer") standin::Click(dialog, kButton);
        order.push_back(box.text + " answered");
        return IDOK;
    });
    MessageBoxA(nullptr, "outer", "Error", MB_OK);
    EXPECT_EQ(order, (std::vector<std::string>{"outer asked", "inner asked", "inner answered",
                                               "outer answered"}));
}

TEST_F(MessageBoxTest, AnInvalidOwnerShowsNothing) {
    HWND gone = standin::CreateTestDialog({});
    standin::DestroyTestDialog(gone);
    EXPECT_EQ(MessageBoxA(gone, "text", "caption", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(MessageBoxTest, AnUnknownKindOfBoxFails) {
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 0x0000000Fu), 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(MessageBoxTest, ResetForgetsBoxesAnswersAndHandler) {
    standin::SetMessageBoxHandler([](const standin::MessageBoxRecord&) { return IDOK; });
    MessageBoxA(nullptr, "text", "caption", MB_OK | MB_ICONERROR);
    standin::QueueMessageBoxAnswers({IDYES});
    standin::Reset();
    EXPECT_TRUE(standin::MessageBoxes().empty());
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_YESNO), IDNO);
}

using MessageBoxDeathTest = MessageBoxTest;

// An answer that the box cannot give is a bug of the test, not something to go on with.
TEST_F(MessageBoxDeathTest, AnswerThatIsNoButtonOfTheBoxAborts) {
    struct Case {
        UINT type;
        int answer;
    };
    for (const Case& c : {Case{MB_OK, IDYES}, Case{MB_YESNO, IDOK}, Case{MB_OKCANCEL, IDNO}}) {
        EXPECT_DEATH(
            {
                standin::QueueMessageBoxAnswers({c.answer});
                MessageBoxA(nullptr, "Erase?", "Erase", c.type);
            },
            "not a button of the box")
            << c.type;
    }
}

}  // namespace
