// The flash menu's modes and button states, on dialog 101 connected to a laid-out board.
#include "ui/flash_menu.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "support/app_fixture.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kDol[4] = {'D', 'O', 'L', '\0'};
const char kUnknown[4] = {'?', '?', '?', '?'};

constexpr int kRadioButtons[] = {IDC_RADIO_1, IDC_RADIO_2, IDC_RADIO_3,
                                 IDC_RADIO_4, IDC_RADIO_5, IDC_RADIO_6};

// Slots 0-1 BIOS, 2 ELF, 5 corrupted, 8-10 DOL; the others free.
const std::vector<int> kOccupied = {0, 1, 2, 5, 8, 9, 10};

std::vector<int> Range(int first, int last, int step = 1) {
    std::vector<int> slots;
    for (int slot = first; slot <= last; slot += step) slots.push_back(slot);
    return slots;
}

std::vector<int> FreeSlots() {
    std::vector<int> slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        bool occupied = false;
        for (int used : kOccupied) occupied = occupied || used == slot;
        if (!occupied) slots.push_back(slot);
    }
    return slots;
}

class FlashMenuTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        Lay(0, Header(kBios, "bios", 2 * kSlot));
        Lay(2 * kSlot, Header(kElf, "one.elf", kSlot));
        Lay(5 * kSlot, Header(kUnknown, "broken", kSlot));
        Lay(8 * kSlot, Header(kDol, "three.dol", 3 * kSlot));
    }

    // Runs the check connected, with the menu in Idle.
    void Connected(std::function<void()> check) {
        RunConnected([check](HWND) { check(); });
    }

    bool On(int id) const { return standin::Enabled(dialog, id); }

    void ExpectActionButtons(bool write, bool read, bool erase, bool abort) const {
        EXPECT_EQ(On(IDC_WRITE), write);
        EXPECT_EQ(On(IDC_READ), read);
        EXPECT_EQ(On(IDC_ERASE), erase);
        EXPECT_EQ(On(IDC_ABORT), abort);
    }
};

// ------------------------------------------------------------------------------ modes

struct ModeCase {
    const char* name;
    MenuMode mode;
    bool idleButtons;  // Write, Read, Erase enabled and Abort disabled
};

class SetModeTest : public FlashMenuTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SetModeTest, ButtonsChecksAndEnabledSlots) {
    Connected([&] {
        // Start from states the mode must replace: a placement offer and a checked run.
        EnablePlacementStarts(dialog, 1, 0);
        HighlightRange(dialog, 3, 2);
        SetFlashMenuMode(dialog, GetParam().mode);

        EXPECT_EQ(FlashMenuMode, GetParam().mode);
        bool idle = GetParam().idleButtons;
        ExpectActionButtons(idle, idle, idle, !idle);
        EXPECT_TRUE(CheckedSlots().empty());
        if (GetParam().mode == MenuMode::Write) {
            EXPECT_EQ(EnabledSlots(), FreeSlots()) << "Write leaves the enabling alone";
        } else {
            EXPECT_EQ(EnabledSlots(), kOccupied);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(EachMode, SetModeTest,
                         ::testing::Values(ModeCase{"Idle", MenuMode::Idle, true},
                                           ModeCase{"Write", MenuMode::Write, false},
                                           ModeCase{"Read", MenuMode::Read, false},
                                           ModeCase{"Erase", MenuMode::Erase, false}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                             return info.param.name;
                         });

TEST_F(FlashMenuTest, UnknownModeSetsOnlyTheActionButtons) {
    Connected([&] {
        HighlightApplication(dialog, 8);
        EnablePlacementStarts(dialog, 2, 1);
        std::vector<int> enabled = EnabledSlots();
        SetFlashMenuMode(dialog, static_cast<MenuMode>(7));
        EXPECT_EQ(static_cast<int>(FlashMenuMode), 7);
        ExpectActionButtons(false, false, false, true);
        EXPECT_EQ(CheckedSlots(), Range(8, 10));
        EXPECT_EQ(EnabledSlots(), enabled);
    });
}

TEST_F(FlashMenuTest, IdleOnAnErasedBoardEnablesNoSlot) {
    board.FillFlash(0xFF);
    Connected([&] {
        EXPECT_TRUE(EnabledSlots().empty());
        ExpectActionButtons(true, true, true, false);
    });
}

// ------------------------------------------------------------------------------ highlights

struct HighlightCase {
    const char* name;
    int slot;
    std::vector<int> checked;
};

class HighlightApplicationTest : public FlashMenuTest,
                                 public ::testing::WithParamInterface<HighlightCase> {};

TEST_P(HighlightApplicationTest, ChecksExactlyTheOwnersSlots) {
    Connected([&] {
        HighlightRange(dialog, 20, 5);  // checks that must go
        HighlightApplication(dialog, GetParam().slot);
        EXPECT_EQ(CheckedSlots(), GetParam().checked);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Slots, HighlightApplicationTest,
    ::testing::Values(
        HighlightCase{"Head", 8, {8, 9, 10}}, HighlightCase{"Continuation", 10, {8, 9, 10}},
        HighlightCase{"BiosContinuation", 1, {0, 1}}, HighlightCase{"SingleSlot", 2, {2}},
        HighlightCase{"Corrupted", 5, {5}}, HighlightCase{"NoSlot", kNoSlot, {}},
        // A free slot's owner is -1: the key matches every free slot.
        HighlightCase{"FreeSlot", 3, FreeSlots()}, HighlightCase{"PastTheLastSlot", 32, {}},
        HighlightCase{"FarOutside", 100000, {}}),
    [](const ::testing::TestParamInfo<HighlightCase>& info) { return info.param.name; });

struct RangeCase {
    const char* name;
    int start;
    int count;
    std::vector<int> checked;
};

class HighlightRangeTest : public FlashMenuTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(HighlightRangeTest, ChecksExactlyTheRun) {
    Connected([&] {
        HighlightApplication(dialog, 0);
        HighlightRange(dialog, GetParam().start, GetParam().count);
        EXPECT_EQ(CheckedSlots(), GetParam().checked);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Runs, HighlightRangeTest,
    ::testing::Values(RangeCase{"Middle", 3, 4, {3, 4, 5, 6}}, RangeCase{"One", 31, 1, {31}},
                      RangeCase{"ClippedAtTheEnd", 30, 5, {30, 31}}, RangeCase{"Empty", 12, 0, {}},
                      RangeCase{"Everything", 0, 32, Range(0, 31)},
                      RangeCase{"HugeCountDoesNotWrap", 29, INT_MAX, {29, 30, 31}}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return info.param.name; });

// ------------------------------------------------------------------------------ enabling

TEST_F(FlashMenuTest, EnableSlotsByUse) {
    Connected([&] {
        EnableSlotsByUse(dialog, false);
        EXPECT_EQ(EnabledSlots(), FreeSlots());
        EnableSlotsByUse(dialog, true);
        EXPECT_EQ(EnabledSlots(), kOccupied);
    });
}

struct PlacementCase {
    const char* name;
    int count;
    int alignMask;
    std::vector<int> starts;
};

class PlacementStartsTest : public FlashMenuTest,
                            public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementStartsTest, EnablesEveryFeasibleStartAndLeavesChecks) {
    Connected([&] {
        HighlightApplication(dialog, 2);
        EnablePlacementStarts(dialog, GetParam().count, GetParam().alignMask);
        EXPECT_EQ(EnabledSlots(), GetParam().starts);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{2}));
    });
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Images, PlacementStartsTest,
    ::testing::Values(PlacementCase{"OneSlotAnywhere", 1, 0, FreeSlots()},
                      // Free runs: 3-4, 6-7, 11-31.
                      PlacementCase{"TwoSlotsAligned", 2, 1, Concat({6}, Range(12, 30, 2))},
                      PlacementCase{"TwoSlotsAnyStart", 2, 0, Concat({3, 6}, Range(11, 30))},
                      PlacementCase{"ThreeSlotsAligned", 3, 1, Range(12, 28, 2)},
                      PlacementCase{"TooLarge", 22, 0, {}},
                      PlacementCase{
                          "ZeroSlots", 0, 1, {4, 6, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30}}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

// ------------------------------------------------------------------------------ disabling

TEST_F(FlashMenuTest, DisableKeepsCaptionsChecksAndModeAndClearsTheRadioGroup) {
    Connected([&] {
        SetFlashMenuMode(dialog, MenuMode::Read);
        HighlightApplication(dialog, 9);
        for (int id : kRadioButtons) {
            SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, BST_CHECKED, 0);
        }
        std::vector<std::string> captions;
        for (int slot = 0; slot < kSlotCount; ++slot) captions.push_back(SlotCaption(slot));

        DisableFlashMenu(dialog);
        EXPECT_TRUE(EnabledSlots().empty());
        ExpectActionButtons(false, false, false, false);
        EXPECT_FALSE(On(IDC_FORMAT));
        EXPECT_EQ(CheckedSlots(), Range(8, 10));
        for (int slot = 0; slot < kSlotCount; ++slot) EXPECT_EQ(SlotCaption(slot), captions[slot]);
        for (int id : kRadioButtons) EXPECT_FALSE(standin::Checked(dialog, id)) << id;
        EXPECT_EQ(FlashMenuMode, MenuMode::Read);

        // The next mode change unchecks everything again.
        SetFlashMenuMode(dialog, MenuMode::Idle);
        EXPECT_TRUE(CheckedSlots().empty());
    });
}

}  // namespace
