// Erasing an application through the window: the question, one bus request per slot, the
// status texts, and the rescan that shows the slots free.
#include "operations/erase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
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

    // These slots read as erased, every other slot as laid out.
    void ExpectFlash(const std::vector<int>& erased) const {
        const std::vector<uint8_t> flash = board.Flash();
        for (int slot = 0; slot < 32; ++slot) {
            const bool wiped = std::count(erased.begin(), erased.end(), slot) != 0;
            const auto from = flash.begin() + slot * kSlot;
            EXPECT_TRUE(wiped ? std::all_of(from, from + kSlot, [](uint8_t b) { return b == 0xFF; })
                              : std::equal(from, from + kSlot, laid.begin() + slot * kSlot))
                << "slot " << slot << (wiped ? " not erased" : " not as laid");
        }
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

    // What the status line shows while these slots are erased one after the other.
    static std::vector<std::string> TextsFor(const std::vector<int>& slots) {
        std::vector<std::string> texts;
        for (int slot : slots) {
            texts.push_back("Please wait, erasing block: " + std::to_string(slot) + " ");
            texts.push_back("Done !");
        }
        return texts;
    }

    std::vector<uint8_t> laid;
};

// Any answer but Yes sends nothing and keeps the Erase mode with the application checked; the
// next click asks again. A command for a free slot's (disabled) button names no application:
// nothing is asked or sent.
TEST_F(EraseTest, NoOrAFreeSlotSendsNothingAndKeepsEraseMode) {
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        const size_t mark = board.Log().size();
        Erase(6, IDNO);
        EXPECT_EQ(Status(), "three");
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_ABORT));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        AnswerBoxes({IDNO});
        ClickSlot(12);
        EXPECT_EQ(CheckedSlots(), std::vector<int>{12});
        Command(SlotButtonIds[20]);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Erase);
    });
    const std::vector<standin::MessageBoxRecord> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const standin::MessageBoxRecord& box : boxes) {
        EXPECT_EQ(box.owner, window);
        EXPECT_EQ(box.text, kQuestion);
        EXPECT_EQ(box.caption, "Warning");
        EXPECT_EQ(box.type, MB_YESNO | MB_ICONWARNING);
    }
    ExpectFlash({});
}

// A click on any slot erases the whole application from its first slot, each slot under a bus
// request and release of its own, then rescans; a corrupted slot goes alone, even when the slot
// after it is corrupted too.
TEST_F(EraseTest, YesErasesEverySlotOfTheOwnerUnderItsOwnBusRequest) {
    struct Case {
        const char* name;
        int click;
        std::vector<int> slots;
        const char* nextCaption;  // of the slot after the erased ones, if there is one
        bool lastSlots = false;   // a three-slot application laid in 29-31 first
    };
    const std::vector<uint8_t> fixture = laid;
    for (const Case& c :
         {Case{"second slot of three", 5, {4, 5, 6}, "free"}, Case{"corrupted", 10, {10}, "???"},
          Case{"application ending at slot 31", 30, {29, 30, 31}, nullptr, true}}) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        if (c.lastSlots) {
            LayImage(29, kElf, "last", 3 * kSlot, 3, 6);
            laid = board.Flash();
        }
        RunConnected([&](HWND) {
            const size_t mark = board.Log().size();
            Erase(c.click, IDYES);
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            std::vector<std::pair<int, int>> erase;  // code, bank or bus argument, until the scan
            for (size_t i = 0; i < sent.size() && sent[i].code != sim::kCmdRead; ++i) {
                const traffic::SentCommand& command = sent[i];
                if (command.code == sim::kCmdBus)
                    erase.emplace_back(command.code, command.busArgument);
                if (command.code == sim::kCmdErase) erase.emplace_back(command.code, command.bank);
            }
            std::vector<std::pair<int, int>> expected;
            for (int slot : c.slots) {
                expected.insert(expected.end(),
                                {{sim::kCmdBus, 1}, {sim::kCmdErase, slot}, {sim::kCmdBus, 0}});
            }
            expected.emplace_back(sim::kCmdBus, 1);  // the rescan's first read takes the bus
            EXPECT_EQ(erase, expected);
            EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);
            EXPECT_EQ(EraseTexts(), TextsFor(c.slots));
            EXPECT_EQ(Status(), "KELM OK!");
            for (int slot : c.slots) EXPECT_EQ(SlotCaption(slot), "free");
            if (c.nextCaption != nullptr) {
                EXPECT_EQ(SlotCaption(c.slots.back() + 1), c.nextCaption);
            }
            EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
            EXPECT_TRUE(CheckedSlots().empty());
        });
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{kQuestion});
        ExpectFlash(c.slots);
        laid = fixture;
        board.SetFlash(0, laid);
    }
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
    const std::string busy = "Bus busy. Please try again later";
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kQuestion, busy, busy, busy}));
    ExpectFlash({});
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
        EXPECT_EQ(EraseTexts(), TextsFor({4, 5, 6}));
        EXPECT_EQ(SlotCaption(4), "Appl.");
        EXPECT_EQ(SlotCaption(5), "...");
        EXPECT_EQ(SlotCaption(6), "...");
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
    });
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{kQuestion, "Error sending CMD_ERASE command."}));
    ExpectFlash({5, 6});
}

}  // namespace
