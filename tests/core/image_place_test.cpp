// Where an image goes, what it is refused with, and how far verify reaches.
#include "core/image_place.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A map with the given slots used (each its own run of one).
std::vector<SlotEntry> MapWith(const std::vector<int>& used) {
    std::vector<SlotEntry> map(kSlotCount, SlotEntry{SlotState::Free, kNoOwner});
    for (int slot : used) map[slot] = {SlotState::Used, slot};
    return map;
}

ImageLayout Image(int slots, bool even) {
    ImageLayout image;
    image.kind = ImageKind::Dol;
    image.slots = slots;
    image.alignMask = even ? 1 : 0;
    return image;
}

TEST(ImagePlaceTest, PlacesOrRefusesInTheWordsOfEveryProgram) {
    struct Case {
        std::vector<int> used;
        int slots;
        bool even;
        int wanted;
        int placedBefore;
        int start;  // -1: refused
        const char* refusal;
    };
    std::vector<int> allButOne;
    for (int slot = 0; slot < kSlotCount - 1; ++slot) allButOne.push_back(slot);
    const Case cases[] = {
        {{0, 1}, 2, false, -1, 0, 2, ""},
        {{0}, 2, true, -1, 0, 2, ""},  // slot 1 is free but odd
        {{0}, 1, false, 5, 0, 5, ""},
        {{0},
         1,
         true,
         5,
         0,
         -1,
         "slot 5 cannot take a.dol (it needs 1 slot, starting at an even slot)"},
        {{6}, 2, false, 5, 0, -1, "slot 5 cannot take a.dol (it needs 2 slots)"},
        {{}, 2, false, 31, 0, -1, "slot 31 cannot take a.dol (it needs 2 slots)"},
        {allButOne, 2, false, -1, 0, -1,
         "not enough free space for a.dol (it needs 2 slots): erase something first"},
        {allButOne, 2, false, -1, 1, -1,
         "not enough free space for a.dol (it needs 2 slots) once the image before it is placed: "
         "erase something first"},
        {allButOne, 1, true, -1, 3, -1,
         "not enough free space for a.dol (it needs 1 slot, starting at an even slot) once the 3 "
         "images before it are placed: erase something first"},
    };
    for (const Case& c : cases) {
        const std::vector<SlotEntry> map = MapWith(c.used);
        int start = -1;
        const auto refusal = PlaceImage(map.data(), Image(c.slots, c.even), "a.dol", c.wanted,
                                        c.placedBefore, start);
        EXPECT_EQ(refusal.value_or(""), c.refusal) << c.refusal;
        EXPECT_EQ(start, c.start) << c.refusal;
    }
    EXPECT_FALSE(SizeRefusal(Image(kSlotCount, false), "a.dol"));
    EXPECT_EQ(SizeRefusal(Image(kSlotCount + 1, false), "a.dol").value_or(""),
              "a.dol needs more than the 32 slots of the flash");
}

TEST(ImagePlaceTest, ReadBackToTheChunkAndVerifyToTheFlashsEnd) {
    ImageLayout image;
    image.imageLength = kChunkSize + 1;
    EXPECT_EQ(ReadBackLength(image), 2u * kChunkSize);
    // first, count, image slots: the run and what of the image would not fit, up to the end.
    EXPECT_EQ(VerifyLength(4, 3, 2), 3u * kSlotSize);
    EXPECT_EQ(VerifyLength(4, 2, 3), 3u * kSlotSize);
    EXPECT_EQ(VerifyLength(30, 2, 5), 2u * kSlotSize);
    EXPECT_EQ(VerifyLength(0, kSlotCount, 1), static_cast<uint64_t>(kFlashSize));
}

}  // namespace
