#include "demo/sample_flash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "support/board_fixture.h"

namespace {

// The sample as the program itself sees it: a catalogue scan of a board that holds it.
class SampleFlashTest : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        std::memset(SlotMap, 0, sizeof(SlotMap));
        std::memset(HeaderDirectory, 0, sizeof(HeaderDirectory));
        board.SetFlash(0, BuildSampleFlash());
        testing::internal::CaptureStdout();
        ScanCatalogue(window);
        testing::internal::GetCapturedStdout();
    }

    std::string Label(int slot) const { return standin::Text(window, SlotButtonIds[slot]); }
    std::string Name(int slot) const { return HeaderDirectory[slot].name; }
};

TEST_F(SampleFlashTest, ShowsABiosAnApplicationAnUnknownSlotAndFreeSlots) {
    const std::vector<std::string> labels = {"BIOS", "...", "Appl.", "...", "...", "???"};
    const std::vector<int> owners = {0, 0, 2, 2, 2, 5};
    for (int slot = 0; slot < 32; ++slot) {
        SCOPED_TRACE(slot);
        if (slot < static_cast<int>(labels.size())) {
            EXPECT_EQ(Label(slot), labels[slot]);
            EXPECT_EQ(SlotMap[slot].owner, owners[slot]);
        } else {
            EXPECT_EQ(Label(slot), "free");
            EXPECT_EQ(SlotMap[slot].owner, -1);
        }
    }
    EXPECT_EQ(Name(kSampleBiosSlot), kSampleBiosName);
    EXPECT_EQ(Name(kSampleApplicationSlot), kSampleApplicationName);
}

TEST(SampleFlash, IsTwoMegabytesAndTheSameEveryTime) {
    const std::vector<uint8_t> flash = BuildSampleFlash();
    EXPECT_EQ(flash.size(), kDemoFlashSize);
    EXPECT_EQ(flash, BuildSampleFlash());
    // The images do not fill their last slots: the tail stays erased, as the tool leaves it.
    EXPECT_EQ(flash[(kSampleBiosSlot + kSampleBiosSlots) * kDemoSlotSize - 1], 0xFF);
    EXPECT_EQ(flash[(kSampleApplicationSlot + kSampleApplicationSlots) * kDemoSlotSize - 1], 0xFF);
}

}  // namespace
