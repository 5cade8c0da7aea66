#include "catalogue/placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"

namespace {

constexpr int32_t kAnySlot = 0;
constexpr int32_t kEvenSlot = 1;
const std::string kEmpty(kSlotCount, '.');

// Lays out the slot map from a 32-character picture: '.' free, 'U' used, 'C' corrupted.
void SetMap(const std::string& picture) {
    ASSERT_EQ(picture.size(), static_cast<size_t>(kSlotCount));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const char c = picture[slot];
        SlotMap[slot] = c == '.'
                            ? SlotEntry{SlotState::Free, -1}
                            : SlotEntry{c == 'U' ? SlotState::Used : SlotState::Corrupted, slot};
    }
}

std::vector<int> FeasibleStarts(int32_t count, int32_t alignMask) {
    std::vector<int> starts;
    for (int start = 0; start < kSlotCount; ++start) {
        if (CanPlace(start, count, alignMask)) starts.push_back(start);
    }
    return starts;
}

// The slots from..to in steps, after the ones given first.
std::vector<int> Range(int from, int to, int step, std::vector<int> slots = {}) {
    for (int slot = from; slot <= to; slot += step) slots.push_back(slot);
    return slots;
}

TEST(Placement, FeasibleStartsOnLaidOutFlash) {
    const struct {
        const char* what;
        std::string map;
        int32_t count;
        int32_t alignMask;
        std::vector<int> starts;
    } cases[] = {
        {"three-slot BIOS: slot 30 would need 32", kEmpty, 3, kEvenSlot, Range(0, 28, 2)},
        {"one-slot ELF", kEmpty, 1, kAnySlot, Range(0, 31, 1)},
        {"whole flash", kEmpty, 32, kEvenSlot, {0}},
        {"one slot more than the flash", kEmpty, 33, kAnySlot, {}},
        {"odd 5 never offered", "UUUU............................", 2, kEvenSlot, Range(4, 30, 2)},
        {"free 6, 7 between used", "UUUUUU..UUUUUUUUUUUUUUUUUUUUUUUU", 2, kAnySlot, {6}},
        {"corrupted blocks like used", "UU..C.C.UUUUUUUUUUUUUUUUUUUUUUUU", 2, kAnySlot, {2}},
        {"single free slots", "UU..C.C.UUUUUUUUUUUUUUUUUUUUUUUU", 1, kAnySlot, {2, 3, 5, 7}},
        {"count 0, aligned", "UU.U.C..........................", 0, kEvenSlot, Range(2, 30, 2)},
        {"count 0", "U.U.............................", 0, kAnySlot, Range(3, 31, 1, {1})},
        {"full flash", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU", 1, kAnySlot, {}},
        {"runs too short", "...U..U...C..U...U..C...U...U...", 4, kAnySlot, {}},
        {"last slot alone", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU.", 1, kAnySlot, {31}},
        {"last slot alone is odd", "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU.", 1, kEvenSlot, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetMap(c.map);
        EXPECT_EQ(FeasibleStarts(c.count, c.alignMask), c.starts);
        EXPECT_EQ(FirstPlace(c.count, c.alignMask), c.starts.empty() ? -1 : c.starts.front());
    }
}

// A slot count that did not fit in 32 bits may arrive negative; it must not pass as empty.
TEST(Placement, CountsAndStartsOutsideTheFlashNeverPass) {
    SetMap(kEmpty);
    for (int32_t count : {33, 1000, INT32_MAX, -1, -2, INT32_MIN}) {
        EXPECT_EQ(FeasibleStarts(count, kAnySlot), std::vector<int>{}) << count;
        EXPECT_EQ(FirstPlace(count, kAnySlot), -1) << count;
    }
    for (int32_t start : {-1, 32, 33, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(CanPlace(start, 1, kAnySlot), 0) << start;
        EXPECT_EQ(CanPlace(start, 0, kAnySlot), 0) << start;
    }
}

}  // namespace
