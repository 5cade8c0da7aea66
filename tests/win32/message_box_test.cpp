// Message boxes: their answers, their record, and the message loop they run while open.
#include "user_test.h"

namespace {

constexpr UINT kPosted = WM_USER + 100;
constexpr int kButton = 1057;

class MessageBoxTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        dialog = standin::CreateTestDialog(
            {{kButton, "BUTTON", "Write", WS_CHILD | WS_VISIBLE, 0, {}}}, RecordingProc);
    }
    HWND dialog = nullptr;
};

TEST_F(MessageBoxTest, AnswersQueueThenHandlerThenHowTheBoxIsDismissed) {
    const std::pair<UINT, int> defaults[] = {{MB_OK | MB_ICONWARNING, IDOK},
                                             {MB_OKCANCEL, IDCANCEL},
                                             {MB_YESNO | MB_ICONQUESTION, IDNO},
                                             {MB_YESNOCANCEL, IDCANCEL}};
    for (const auto& [type, answer] : defaults)
        EXPECT_EQ(MessageBoxA(nullptr, "", "", type), answer);

    standin::QueueMessageBoxAnswers({IDYES, IDNO});
    standin::SetMessageBoxHandler([](const standin::MessageBoxRecord&) { return IDYES; });
    std::vector<int> answers;
    for (int i = 0; i < 3; ++i) answers.push_back(MessageBoxA(dialog, "Erase?", "Erase", MB_YESNO));
    EXPECT_EQ(answers, (std::vector<int>{IDYES, IDNO, IDYES}));

    std::vector<standin::MessageBoxRecord> boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 7u);
    EXPECT_EQ(boxes[6].owner, dialog);
    EXPECT_EQ(boxes[6].text, "Erase?");
    EXPECT_EQ(boxes[6].caption, "Erase");
    EXPECT_EQ(boxes[6].type, MB_YESNO);
}

// The box runs its own message loop: posted messages are dispatched before it is answered. An
// ownerless box leaves the window enabled, so the user may click in it meanwhile; a box that the
// window owns disables it until it is dismissed.
TEST_F(MessageBoxTest, LoopRunsAndOnlyAnOwnedBoxDisablesItsOwner) {
    for (bool owned : {false, true}) {
        ProcCalls().clear();
        ASSERT_TRUE(PostMessageA(dialog, kPosted, 0, 0));
        bool clicked = false;
        std::vector<UINT> seenBeforeClick;
        standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
            seenBeforeClick = ProcMessages();
            clicked = standin::Click(dialog, kButton);
            return IDOK;
        });
        MessageBoxA(owned ? dialog : nullptr, "Error sending CMD_READ command.", "Error", MB_OK);
        EXPECT_EQ(seenBeforeClick, (std::vector<UINT>{kPosted})) << owned;
        EXPECT_EQ(clicked, !owned);
        EXPECT_EQ(ProcCommands().size(), owned ? 0u : 1u);
        EXPECT_TRUE(IsWindowEnabled(dialog));
    }
}

TEST_F(MessageBoxTest, AnInvalidOwnerShowsNothing) {
    standin::DestroyTestDialog(dialog);
    EXPECT_EQ(MessageBoxA(dialog, "text", "caption", MB_OK), 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

using MessageBoxDeathTest = MessageBoxTest;

// An answer that the box cannot give is a bug of the test, not something to go on with.
TEST_F(MessageBoxDeathTest, AnswerThatIsNoButtonOfTheBoxAborts) {
    for (const auto& [type, answer] : {std::pair<UINT, int>{MB_OK, IDYES}, {MB_YESNO, IDOK}}) {
        EXPECT_DEATH(
            {
                standin::QueueMessageBoxAnswers({answer});
                MessageBoxA(nullptr, "Erase?", "Erase", type);
            },
            "not a button of the box");
    }
}

}  // namespace
