#include "catalogue/placement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "catalogue/flash_layout.h"

namespace {

constexpr int32_t kAnySlot = 0;
constexpr int32_t kEvenSlot = 1;

// Lays out the slot map from a 32-character picture: '.' free, 'U' used, 'C' corrupted.
void SetMap(const std::string& picture) {
    ASSERT_EQ(picture.size(), static_cast<size_t>(kSlotCount));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        switch (picture[slot]) {
            case '.':
                SlotMap[slot] = {Free, -1};
                break;
            case 'U':
                SlotMap[slot] = {Used, slot};
                break;
            case 'C':
                SlotMap[slot] = {Corrupted, slot};
                break;
            default:
                FAIL() << "bad picture character " << picture[slot];
        }
    }
}

std::vector<int> FeasibleStarts(int32_t count, int32_t alignMask) {
    std::vector<int> starts;
    for (int start = 0; start < kSlotCount; ++start) {
        if (CanPlace(start, count, alignMask)) starts.push_back(start);
    }
    return starts;
}

std::vector<int> Range(int from, int to, int step) {
    std::vector<int> slots;
    for (int slot = from; slot <= to; slot += step) slots.push_back(slot);
    return slots;
}

class PlacementTest : public ::testing::Test {
  protected:
    void TearDown() override { SetMap(std::string(kSlotCount, '.')); }
};

const std::string kEmpty = "................................";

TEST_F(PlacementTest, FeasibleStartsOnLaidOutFlash) {
    const struct {
        const char* what;
        std::string map;
        int32_t count;
        int32_t alignMask;
        std::vector<int> starts;
    } cases[] = {
        {"empty, three-slot BIOS: slot 30 would need slot 32", kEmpty, 3, kEvenSlot,
         Range(0, 28, 2)},
        {"empty, one-slot ELF", kEmpty, 1, kAnySlot, Range(0, 31, 1)},
        {"empty, whole flash", kEmpty, 32, kEvenSlot, {0}},
        {"empty, one slot more than the flash", kEmpty, 33, kAnySlot, {}},
        {"slots 0-3 used, two-slot VGC: odd 5 never offered", "UUUU............................", 2,
         kEvenSlot, Range(4, 30, 2)},
        {"free 6 and 7 between used, two-slot DOL",
         "UUUUUU..UUUUUUUUUUUUUUUUUUUUUUUU",
         2,
         kAnySlot,
         {6}},
        {"corrupted slots block like used ones",
         "UU..C.C.UUUUUUUUUUUUUUUUUUUUUUUU",
         2,
         kAnySlot,
         {2}},
        {"single free slots between corrupted ones",
         "UU..C.C.UUUUUUUUUUUUUUUUUUUUUUUU",
         1,
         kAnySlot,
         {2, 3, 5, 7}},
        {"count 0: every free aligned slot", "UU.U.C..........................", 0, kEvenSlot,
         Range(2, 30, 2)},
        {"count 0: every free slot", "U.U.............................", 0, kAnySlot,
         [] {
             std::vector<int> s = {1};
             for (int i = 3; i < 32; ++i) s.push_back(i);
             return s;
         }()},
        {"full flash", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU", 1, kAnySlot, {}},
        {"free runs shorter than the image", "...U..U...C..U...U..C...U...U...", 4, kAnySlot, {}},
        {"last slot alone", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU.", 1, kAnySlot, {31}},
        {"last slot alone is odd", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU.", 1, kEvenSlot, {}},
    };
    for (const auto& c : cases) {
        SetMap(c.map);
        EXPECT_EQ(FeasibleStarts(c.count, c.alignMask), c.starts) << c.what;
        const int first = c.starts.empty() ? -1 : c.starts.front();
        EXPECT_EQ(FirstPlace(c.count, c.alignMask), first) << c.what;
    }
}

TEST_F(PlacementTest, CountsBeyondTheFlashNeverPass) {
    SetMap(kEmpty);
    // A slot count that did not fit in 32 bits may arrive negative; it must not pass as empty.
    for (int32_t count : {33, 1000, INT32_MAX, -1, -2, INT32_MIN}) {
        EXPECT_EQ(FeasibleStarts(count, kAnySlot), std::vector<int>{}) << count;
        EXPECT_EQ(FirstPlace(count, kAnySlot), -1) << count;
    }
}

TEST_F(PlacementTest, StartsOutsideTheFlashNeverPass) {
    SetMap(kEmpty);
    for (int32_t start : {-1, 32, 33, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(CanPlace(start, 1, kAnySlot), 0) << start;
        EXPECT_EQ(CanPlace(start, 0, kAnySlot), 0) << start;
    }
}

}  // namespace
