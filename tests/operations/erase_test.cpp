// Erasing an application through the window: the question, one bus request per slot, the
// status texts, and the rescan that shows the slots free.
#include "operations/erase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "operations/operation_checks.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;
const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kBios[4] = {'(', 'C', ')', ' '};
constexpr char kQuestion[] = "Do you really want to erase the\nselected application?\n";

class EraseTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        // BIOS in 0-1, a three-slot application in 4-6, two corrupted slots 10 and 11, and a
        // one-slot application in 12; the rest of every run holds data.
        LayImage(0, kBios, "bios", 2 * kSlot, 2, 1);
        LayImage(4, kElf, "three", 3 * kSlot, 3, 2);
        LayImage(10, "BAD!", "junk", kSlot, 1, 3);
        LayImage(11, "BAD?", "junk", kSlot, 1, 4);
        LayImage(12, kElf, "one", kSlot, 1, 5);
        laid = board.Flash();
    }

    void LayImage(int slot, const char magic[4], const std::string& name, uint32_t size, int slots,
                  uint32_t seed) {
        Lay(slot * kSlot, Header(magic, name, size));
        Lay(slot * kSlot + 256, Pattern(slots * kSlot - 256, seed));
    }

    // Erase pressed, the question answered, the slot clicked.
    void Erase(int slot, int answer) {
        Click(IDC_ERASE);
        AnswerBoxes({answer});
        ClickSlot(slot);
    }

    bool SlotsErased(int first, int count) const {
        const std::vector<uint8_t> flash = board.Flash();
        return std::all_of(flash.begin() + first * kSlot, flash.begin() + (first + count) * kSlot,
                           [](uint8_t b) { return b == 0xFF; });
    }
    bool SlotsAsLaid(int first, int count) const {
        const std::vector<uint8_t> flash = board.Flash();
        return std::equal(flash.begin() + first * kSlot, flash.begin() + (first + count) * kSlot,
                          laid.begin() + first * kSlot);
    }

    // Status texts from the erase's first on, up to (not including) the rescan's.
    std::vector<std::string> EraseTexts() const {
        std::vector<std::string> texts;
        bool started = false;
        for (const std::string& text : standin::TextHistory(dialog, IDC_STATUS)) {
            if (text.rfind("Please wait, erasing block: ", 0) == 0) started = true;
            if (started && text.rfind("Please wait, reading flash", 0) == 0) break;
            if (started) texts.push_back(text);
        }
        return texts;
    }

    std::vector<uint8_t> laid;
};

TEST_F(EraseTest, ConfirmationBoxIsOwnedByTheWindow) {
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        Erase(4, IDNO);
        EXPECT_EQ(Status(), "three");
    });
    const std::vector<standin::MessageBoxRecord> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(boxes[0].text, kQuestion);
    EXPECT_EQ(boxes[0].caption, "Warning");
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONWARNING);
}

// A click on any slot erases the whole application from its first slot, one bus request and
// release per slot, then rescans.
TEST_F(EraseTest, ErasesEverySlotOfTheApplicationUnderItsOwnBusRequest) {
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        Erase(5, IDYES);
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        std::vector<std::pair<int, int>> erase;  // code, bank or bus argument, until the scan
        for (const traffic::SentCommand& command : sent) {
            if (command.code == sim::kCmdRead) break;
            if (command.code == sim::kCmdBus) erase.emplace_back(command.code, command.busArgument);
            if (command.code == sim::kCmdErase) erase.emplace_back(command.code, command.bank);
        }
        const std::vector<std::pair<int, int>>
            expected = {{sim::kCmdBus, 1}, {sim::kCmdErase, 4}, {sim::kCmdBus, 0},
                        {sim::kCmdBus, 1}, {sim::kCmdErase, 5}, {sim::kCmdBus, 0},
                        {sim::kCmdBus, 1}, {sim::kCmdErase, 6}, {sim::kCmdBus, 0},
                        {sim::kCmdBus, 1}};  // the last: the rescan's first read takes the bus
        EXPECT_EQ(erase, expected);
        EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);
        EXPECT_EQ(EraseTexts(),
                  (std::vector<std::string>{"Please wait, erasing block: 4 ", "Done !",
                                            "Please wait, erasing block: 5 ", "Done !",
                                            "Please wait, erasing block: 6 ", "Done !"}));
        EXPECT_EQ(Status(), "KELM OK!");
        for (int slot = 4; slot <= 6; ++slot) EXPECT_EQ(SlotCaption(slot), "free");
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(CheckedSlots().empty());
    });
    EXPECT_TRUE(SlotsErased(4, 3));
    EXPECT_TRUE(SlotsAsLaid(0, 4));
    EXPECT_TRUE(SlotsAsLaid(7, 25));
}

// Slots 7-31 are filled so that the rescan after the erase stays short.
TEST_F(EraseTest, TranscriptOfAnErase) {
    LayImage(7, kElf, "rest", 25 * kSlot, 25, 6);
    RunConnected([&](HWND) {
        Click(IDC_ERASE);
        board.ClearLog();
        AnswerBoxes({IDYES});
        ClickSlot(6);
        traffic::ExpectGoldenTranscript(board.Transcript(), "erase_three_slots.txt");
    });
}

TEST_F(EraseTest, CorruptedSlotIsErasedAlone) {
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        Erase(10, IDYES);
        EXPECT_EQ(traffic::Count(traffic::Commands(board, mark), sim::kCmdErase), 1);
        EXPECT_EQ(SlotCaption(10), "free");
        EXPECT_EQ(SlotCaption(11), "???");
    });
    EXPECT_TRUE(SlotsErased(10, 1));
    EXPECT_TRUE(SlotsAsLaid(0, 10));
    EXPECT_TRUE(SlotsAsLaid(11, 21));
}

TEST_F(EraseTest, NoSendsNothingAndKeepsEraseMode) {
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        Erase(6, IDNO);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_ABORT));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        // The next click asks again.
        AnswerBoxes({IDNO});
        ClickSlot(12);
        EXPECT_EQ(CheckedSlots(), std::vector<int>{12});
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
    });
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_TRUE(SlotsAsLaid(0, 32));
}

// A command for a free slot's (disabled) button names no application: nothing is asked or sent.
TEST_F(EraseTest, FreeSlotCommandErasesNothing) {
    RunConnected([&](HWND) {
        Click(IDC_ERASE);
        const size_t mark = board.Log().size();
        Command(SlotButtonIds[20]);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
    });
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(SlotsAsLaid(0, 32));
}

// With the bus refused, each slot shows its own message and keeps its bytes; the menu still
// ends in Idle after a rescan.
TEST_F(EraseTest, RefusedBusForEverySlotErasesNothing) {
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        board.ScriptBusStates({sim::kBusHeldByOther, sim::kBusHeldByOther, sim::kBusHeldByOther});
        Erase(4, IDYES);
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::Count(sent, sim::kCmdErase), 0);
        EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);
        EXPECT_TRUE(EraseTexts().empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_EQ(SlotCaption(4), "Appl.");
    });
    std::vector<std::string> texts;
    for (const standin::MessageBoxRecord& box : Boxes()) texts.push_back(box.text);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], kQuestion);
    for (size_t i = 1; i < texts.size(); ++i)
        EXPECT_EQ(texts[i], "Bus busy. Please try again later");
    EXPECT_TRUE(SlotsAsLaid(0, 32));
}

// An erase command that does not go out leaves the head, which still claims its whole run
// after the rescan, although the later slots were erased.
TEST_F(EraseTest, FailedEraseCommandGoesOnWithTheNextSlot) {
    RunConnected([&](HWND) {
        Click(IDC_ERASE);
        // Bus request of slot 4 (3 exchanges), then its CMD_ERASE.
        board.InjectFault(board.ExchangeCount() + 3, sim::Fault::FailWrite);
        AnswerBoxes({IDYES});
        ClickSlot(4);
        EXPECT_EQ(EraseTexts(),
                  (std::vector<std::string>{"Please wait, erasing block: 4 ", "Done !",
                                            "Please wait, erasing block: 5 ", "Done !",
                                            "Please wait, erasing block: 6 ", "Done !"}));
        EXPECT_EQ(SlotCaption(4), "Appl.");
        EXPECT_EQ(SlotCaption(5), "...");
        EXPECT_EQ(SlotCaption(6), "...");
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
    });
    const std::vector<standin::MessageBoxRecord> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Error sending CMD_ERASE command.");
    EXPECT_TRUE(SlotsAsLaid(4, 1));
    EXPECT_TRUE(SlotsErased(5, 2));
}

}  // namespace
