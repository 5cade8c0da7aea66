// The flash menu's action buttons and slot clicks through the window: the texts, the
// highlights, the modes, and which operation a click starts.
#include "ui/menu_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "operations/write_image.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;
constexpr int kDolFilter = 2;
constexpr int kElfFilter = 3;

class MenuCommandsTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        PendingImage = PendingImageState{};
        // BIOS in 0-1, an application in 4-6, a corrupted slot 10; the rest free.
        Lay(0, Header("(C) ", "C:\\kelm\\bios.gcb", 2 * kSlot));
        Lay(4 * kSlot, Header("ELF", "C:\\games\\three.elf", 3 * kSlot));
        Lay(10 * kSlot, Header("ABCD", "ignored", kSlot));
    }

    bool ActionButtonsIdle() const {
        return standin::Enabled(dialog, IDC_WRITE) && standin::Enabled(dialog, IDC_READ) &&
               standin::Enabled(dialog, IDC_ERASE) && !standin::Enabled(dialog, IDC_ABORT);
    }
    bool ActionButtonsBusy() const {
        return !standin::Enabled(dialog, IDC_WRITE) && !standin::Enabled(dialog, IDC_READ) &&
               !standin::Enabled(dialog, IDC_ERASE) && standin::Enabled(dialog, IDC_ABORT);
    }
};

const std::vector<int> kOccupied = {0, 1, 4, 5, 6, 10};

// In Idle a click only names the slot and checks its application; nothing is sent. The
// push-like check box toggles itself, but the click sets the highlight regardless, so a second
// click on the same slot leaves it checked. Identifiers between the slot buttons belong to no
// slot and change nothing.
TEST_F(MenuCommandsTest, IdleClickNamesAndHighlights) {
    const std::string three = "C:\\games\\three.elf";
    const struct {
        int slot;
        std::string status;
        std::vector<int> checked;
    } cases[] = {
        {5, three, {4, 5, 6}},  // a continuation slot names its head
        {4, three, {4, 5, 6}},     {4, three, {4, 5, 6}},
        {6, three, {4, 5, 6}},     {0, "C:\\kelm\\bios.gcb", {0, 1}},
        {10, "(CORRUPTED)", {10}},
    };
    RunConnected([&](HWND) {
        const uint64_t exchanges = board.ExchangeCount();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.slot);
            ASSERT_TRUE(ClickSlot(c.slot));
            EXPECT_EQ(Status(), c.status);
            EXPECT_EQ(CheckedSlots(), c.checked);
            EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        }
        for (int id : {1026, 1030, 1031, 1032, 1042, 1088, 1105}) {
            OnSlotClick(dialog, id);
            EXPECT_EQ(Status(), "(CORRUPTED)") << id;
            EXPECT_EQ(CheckedSlots(), (std::vector<int>{10})) << id;
        }
        EXPECT_EQ(board.ExchangeCount(), exchanges);
    });
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(FileDialogs().empty());
}

// The name ends at its zero byte, and at byte 247 when it has none: the reserved word and the
// size after it are never shown.
TEST_F(MenuCommandsTest, NameIsShownUpToItsZeroAndNeverPastByte247) {
    struct Case {
        const char* name;
        std::vector<uint8_t> field;  // bytes 4-247
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"243 characters and a zero", std::vector<uint8_t>(243, 'n'), std::string(243, 'n')},
        {"no zero at all", std::vector<uint8_t>(244, 'x'), std::string(244, 'x')},
        {"text after the zero", {'a', 'b', 0, 'c', 'd'}, "ab"},
        {"empty", {0, 'z'}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> header = Header("ELF", "", kSlot);
        std::fill(header.begin() + 4, header.begin() + 248, 0);
        std::copy(c.field.begin(), c.field.end(), header.begin() + 4);
        header[248] = 'R';  // reserved word: visible if the name ran over
        header[249] = 'R';
        header[250] = 'R';
        header[251] = 'R';
        Lay(20 * kSlot, header);
        RunConnected([&](HWND) {
            ASSERT_TRUE(ClickSlot(20));
            EXPECT_EQ(Status(), c.shown);
        });
    }
}

// Each action button enters its mode with its prompt (Read has none) and enables the slots it
// may act on; Abort returns to the Idle enabling with nothing checked and leaves the prompt.
TEST_F(MenuCommandsTest, ActionButtonsEnterTheirModesAndAbortRestoresIdle) {
    const std::string path = TempPath("one.elf");
    WriteFileBytes(path, Pattern(10, 2));
    std::vector<int> free;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (std::count(kOccupied.begin(), kOccupied.end(), slot) == 0) free.push_back(slot);
    }
    const struct {
        int button;
        MenuMode mode;
        const char* prompt;
        std::vector<int> enabled;
    } cases[] = {
        {IDC_READ, MenuMode::Read, "KELM OK!", kOccupied},
        {IDC_ERASE, MenuMode::Erase, "select application to erase!", kOccupied},
        {IDC_WRITE, MenuMode::Write, "select place to write!", free},
    };
    RunConnected([&](HWND) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.prompt);
            if (c.mode == MenuMode::Write) AnswerOpen(path, kElfFilter);
            ASSERT_TRUE(Click(c.button));
            EXPECT_EQ(FlashMenuMode, c.mode);
            EXPECT_EQ(Status(), c.prompt);
            EXPECT_TRUE(ActionButtonsBusy());
            EXPECT_EQ(EnabledSlots(), c.enabled);

            ASSERT_TRUE(Click(IDC_ABORT));
            EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
            EXPECT_TRUE(ActionButtonsIdle());
            EXPECT_EQ(EnabledSlots(), kOccupied);
            EXPECT_TRUE(CheckedSlots().empty());
            EXPECT_EQ(Status(), c.prompt);
        }
    });
}

// In Write mode the click marks the run from the clicked slot itself and names a free slot;
// a write that stops there keeps that mark.
TEST_F(MenuCommandsTest, WriteClickMarksTheRunFromTheClickedSlot) {
    const std::string path = TempPath("two.dol");
    WriteFileBytes(path, Pattern(65281, 1));
    RunConnected([&](HWND) {
        AnswerOpen(path, kDolFilter);
        ASSERT_TRUE(Click(IDC_WRITE));
        EXPECT_TRUE(ActionButtonsBusy());
        EXPECT_TRUE(CheckedSlots().empty());
        std::remove(path.c_str());  // the write stops at the file and stays in Write mode
        ASSERT_TRUE(ClickSlot(7));
        EXPECT_EQ(FlashMenuMode, MenuMode::Write);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{7, 8}));
        const std::vector<std::string> texts = standin::TextHistory(dialog, IDC_STATUS);
        EXPECT_EQ(texts.back(), "(empty block)");
        ASSERT_TRUE(ClickSlot(2));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{2, 3}));
    });
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>(2, "Failed to open file!")));
}

}  // namespace
