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
const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kBios[4] = {'(', 'C', ')', ' '};
constexpr int kDolFilter = 2;

class MenuCommandsTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        PendingImage = PendingImageState{};
        // BIOS in 0-1, an application in 4-6, a corrupted slot 10; the rest free.
        Lay(0, Header(kBios, "C:\\kelm\\bios.gcb", 2 * kSlot));
        Lay(4 * kSlot, Header(kElf, "C:\\games\\three.elf", 3 * kSlot));
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

// In Idle a click only names the slot and checks its application; nothing is sent.
TEST_F(MenuCommandsTest, IdleClickNamesAndHighlights) {
    struct Case {
        int slot;
        std::string status;
        std::vector<int> checked;
    };
    const std::vector<Case> cases = {
        {5, "C:\\games\\three.elf", {4, 5, 6}},  // a continuation slot names its head
        {4, "C:\\games\\three.elf", {4, 5, 6}},
        {1, "C:\\kelm\\bios.gcb", {0, 1}},
        {10, "(CORRUPTED)", {10}},
    };
    RunConnected([&](HWND) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.slot);
            const uint64_t exchanges = board.ExchangeCount();
            ASSERT_TRUE(ClickSlot(c.slot));
            EXPECT_EQ(Status(), c.status);
            EXPECT_EQ(CheckedSlots(), c.checked);
            EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
            EXPECT_EQ(board.ExchangeCount(), exchanges);
        }
    });
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(FileDialogs().empty());
}

// The push-like check box toggles itself; the click sets the highlight regardless, so a second
// click on the same slot leaves it checked.
TEST_F(MenuCommandsTest, HighlightOverridesTheButtonsOwnToggle) {
    RunConnected([&](HWND) {
        ASSERT_TRUE(ClickSlot(4));
        ASSERT_TRUE(ClickSlot(4));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        ASSERT_TRUE(ClickSlot(6));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        ASSERT_TRUE(ClickSlot(0));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{0, 1}));
    });
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
        std::vector<uint8_t> header = Header(kElf, "", kSlot);
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

TEST_F(MenuCommandsTest, ReadAndEraseEnterTheirModes) {
    RunConnected([&](HWND) {
        ASSERT_TRUE(Click(IDC_READ));
        EXPECT_EQ(FlashMenuMode, MenuMode::Read);
        EXPECT_EQ(Status(), "KELM OK!");  // Read shows no prompt
        EXPECT_TRUE(ActionButtonsBusy());
        EXPECT_EQ(EnabledSlots(), kOccupied);

        ASSERT_TRUE(Click(IDC_ABORT));
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(ActionButtonsIdle());

        ASSERT_TRUE(Click(IDC_ERASE));
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
        EXPECT_EQ(Status(), "select application to erase!");
        EXPECT_TRUE(ActionButtonsBusy());
        EXPECT_EQ(EnabledSlots(), kOccupied);
        ASSERT_TRUE(Click(IDC_ABORT));
        EXPECT_EQ(Status(), "select application to erase!");  // Abort leaves the text
    });
}

// A Read click hands the owner of the clicked slot to the backup; an Erase click to the erase.
TEST_F(MenuCommandsTest, ReadAndEraseClicksActOnTheOwner) {
    const std::string path = TempPath("owner.gcb");
    RunConnected([&](HWND) {
        ASSERT_TRUE(Click(IDC_READ));
        AnswerSave(path);
        ASSERT_TRUE(ClickSlot(6));
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);

        ASSERT_TRUE(Click(IDC_ERASE));
        AnswerBoxes({IDNO});
        ASSERT_TRUE(ClickSlot(5));
        EXPECT_EQ(Status(), "C:\\games\\three.elf");
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
    });
    const std::vector<uint8_t> saved = ReadFileBytes(path);
    ASSERT_EQ(saved.size(), 3 * kSlot);
    EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 256),
              Header(kElf, "C:\\games\\three.elf", 3 * kSlot));
    ASSERT_EQ(BoxTexts().size(), 1u);
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

// Abort after a file was chosen: the Idle enabling, nothing checked, the prompt kept.
TEST_F(MenuCommandsTest, AbortInWriteModeRestoresIdle) {
    const std::string path = TempPath("one.elf");
    WriteFileBytes(path, Pattern(10, 2));
    RunConnected([&](HWND) {
        AnswerOpen(path, 3);
        ASSERT_TRUE(Click(IDC_WRITE));
        EXPECT_EQ(Status(), "select place to write!");
        std::vector<int> free;
        for (int s = 0; s < 32; ++s) {
            if (s != 0 && s != 1 && (s < 4 || s > 6) && s != 10) free.push_back(s);
        }
        EXPECT_EQ(EnabledSlots(), free);
        ASSERT_TRUE(Click(IDC_ABORT));
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(ActionButtonsIdle());
        EXPECT_EQ(EnabledSlots(), kOccupied);
        EXPECT_TRUE(CheckedSlots().empty());
        EXPECT_EQ(Status(), "select place to write!");
    });
}

// Identifiers between the slot buttons belong to no slot.
TEST_F(MenuCommandsTest, IdentifiersOfNoSlotAreIgnored) {
    RunConnected([&](HWND) {
        ASSERT_TRUE(ClickSlot(4));
        for (int id : {1026, 1030, 1031, 1032, 1042, 1088, 1105}) {
            SCOPED_TRACE(id);
            OnSlotClick(dialog, id);
            EXPECT_EQ(Status(), "C:\\games\\three.elf");
            EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        }
    });
}

}  // namespace
