// The flash menu's modes and button states, on dialog 101 connected to a laid-out board. How
// DisableFlashMenu leaves the window is seen at a disconnect, in the main dialog's tests.
#include "ui/flash_menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "support/app_fixture.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;

// Slots 0-1 BIOS, 2 ELF, 5 corrupted, 8-10 DOL; the others free.
const std::vector<int> kOccupied = {0, 1, 2, 5, 8, 9, 10};

// The slots first..last in steps, after the ones given first.
std::vector<int> Range(int first, int last, int step = 1, std::vector<int> slots = {}) {
    for (int slot = first; slot <= last; slot += step) slots.push_back(slot);
    return slots;
}

std::vector<int> FreeSlots() {
    std::vector<int> slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (std::count(kOccupied.begin(), kOccupied.end(), slot) == 0) slots.push_back(slot);
    }
    return slots;
}

class FlashMenuTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        Lay(0, Header("(C) ", "bios", 2 * kSlot));
        Lay(2 * kSlot, Header("ELF", "one.elf", kSlot));
        Lay(5 * kSlot, Header("????", "broken", kSlot));
        Lay(8 * kSlot, Header("DOL", "three.dol", 3 * kSlot));
    }

    // Runs the check connected, with the menu in Idle.
    void Connected(std::function<void()> check) {
        RunConnected([check](HWND) { check(); });
    }

    bool On(int id) const { return standin::Enabled(dialog, id); }

    // Write, Read, Erase and Abort: enabled or not.
    std::vector<bool> ActionButtons() const {
        return {On(IDC_WRITE), On(IDC_READ), On(IDC_ERASE), On(IDC_ABORT)};
    }
};

const std::vector<bool> kIdleButtons = {true, true, true, false};
const std::vector<bool> kBusyButtons = {false, false, false, true};

// ------------------------------------------------------------------------------ modes

// Each mode replaces a placement offer and a checked run; Write leaves the enabling alone. An
// unknown mode sets only the action buttons.
TEST_F(FlashMenuTest, SetFlashMenuModeSetsButtonsChecksAndSlots) {
    Connected([&] {
        for (MenuMode mode : {MenuMode::Idle, MenuMode::Write, MenuMode::Read, MenuMode::Erase}) {
            SCOPED_TRACE(static_cast<int>(mode));
            EnablePlacementStarts(dialog, 1, 0);
            HighlightRange(dialog, 3, 2);
            SetFlashMenuMode(dialog, mode);

            EXPECT_EQ(FlashMenuMode, mode);
            EXPECT_EQ(ActionButtons(), mode == MenuMode::Idle ? kIdleButtons : kBusyButtons);
            EXPECT_TRUE(CheckedSlots().empty());
            EXPECT_EQ(EnabledSlots(), mode == MenuMode::Write ? FreeSlots() : kOccupied);
        }

        HighlightApplication(dialog, 8);
        EnablePlacementStarts(dialog, 2, 1);
        const std::vector<int> enabled = EnabledSlots();
        SetFlashMenuMode(dialog, static_cast<MenuMode>(7));
        EXPECT_EQ(static_cast<int>(FlashMenuMode), 7);
        EXPECT_EQ(ActionButtons(), kBusyButtons);
        EXPECT_EQ(CheckedSlots(), Range(8, 10));
        EXPECT_EQ(EnabledSlots(), enabled);
    });
}

TEST_F(FlashMenuTest, IdleOnAnErasedBoardEnablesNoSlot) {
    board.FillFlash(0xFF);
    Connected([&] {
        EXPECT_TRUE(EnabledSlots().empty());
        EXPECT_EQ(ActionButtons(), kIdleButtons);
    });
}

// ------------------------------------------------------------------------------ highlights

// Checks go exactly to the owner's slots, or to the run, replacing the checks before.
TEST_F(FlashMenuTest, HighlightsCheckExactlyTheirSlots) {
    const struct {
        int slot;
        std::vector<int> checked;
    } applications[] = {
        {8, {8, 9, 10}},
        {10, {8, 9, 10}},
        {1, {0, 1}},
        {2, {2}},
        {5, {5}},
        {kNoSlot, {}},
        // A free slot's owner is -1: the key matches every free slot.
        {3, FreeSlots()},
        {32, {}},
        {100000, {}},
    };
    const struct {
        int start, count;
        std::vector<int> checked;
    } runs[] = {
        {3, 4, {3, 4, 5, 6}}, {31, 1, {31}},         {30, 5, {30, 31}},
        {12, 0, {}},          {0, 32, Range(0, 31)}, {29, INT_MAX, {29, 30, 31}},  // no wrap
    };
    Connected([&] {
        for (const auto& c : applications) {
            HighlightRange(dialog, 20, 5);
            HighlightApplication(dialog, c.slot);
            EXPECT_EQ(CheckedSlots(), c.checked) << "application at " << c.slot;
        }
        for (const auto& c : runs) {
            HighlightApplication(dialog, 0);
            HighlightRange(dialog, c.start, c.count);
            EXPECT_EQ(CheckedSlots(), c.checked) << "run " << c.start << ", " << c.count;
        }
    });
}

// ------------------------------------------------------------------------------ enabling

// Placement starts are enabled for every feasible start (free runs 3-4, 6-7, 11-31), checks
// are left alone.
TEST_F(FlashMenuTest, EnablingByUseAndByPlacement) {
    const struct {
        int count, alignMask;
        std::vector<int> starts;
    } placements[] = {
        {1, 0, FreeSlots()},
        {2, 1, Range(12, 30, 2, {6})},
        {2, 0, Range(11, 30, 1, {3, 6})},
        {3, 1, Range(12, 28, 2)},
        {22, 0, {}},
        {0, 1, Range(12, 30, 2, {4, 6})},
    };
    Connected([&] {
        EnableSlotsByUse(dialog, false);
        EXPECT_EQ(EnabledSlots(), FreeSlots());
        EnableSlotsByUse(dialog, true);
        EXPECT_EQ(EnabledSlots(), kOccupied);

        HighlightApplication(dialog, 2);
        for (const auto& c : placements) {
            EnablePlacementStarts(dialog, c.count, c.alignMask);
            EXPECT_EQ(EnabledSlots(), c.starts) << c.count << " slots, mask " << c.alignMask;
            EXPECT_EQ(CheckedSlots(), (std::vector<int>{2}));
        }
    });
}

}  // namespace
