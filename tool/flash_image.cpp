// An image onto free slots: erase, body, header, read-back.
#include "flash_image.h"

#include <string>

#include "board_catalogue.h"
#include "core/flash_layout.h"
#include "core/image_place.h"
#include "flash_io.h"

Outcome FlashImage(BoardSession& session, ImageFile& image, int start, bool verify,
                   Progress& progress, ImageWriteStage& stage) {
    const uint32_t address = static_cast<uint32_t>(start) * kSlotSize;
    const ByteSource source = [&image](uint64_t offset, uint8_t* out, uint32_t count) {
        return ReadImage(image, offset, out, count);
    };
    progress.Start("erasing", static_cast<uint64_t>(image.slots) * kSlotSize);
    KELM_TRY(EraseSlots(session, start, image.slots, progress, stage.erased));
    progress.Finish();
    progress.Start("writing", image.imageLength);
    KELM_TRY(WriteHeadersLast(session, address, image.imageLength, source, progress,
                              HeldBack::FirstSlot));
    stage.written = true;
    progress.Finish();
    if (!verify) return {};
    const uint64_t covered = ReadBackLength(image);
    progress.Start("verifying", covered);
    KELM_TRY(VerifyBytes(session, address, covered, source, progress));
    progress.Finish();
    return {};
}

std::string DescribeStoppedWrite(const ImageFile& image, int start, const ImageWriteStage& stage) {
    return DescribeStoppedWrite(image.path, start, image.slots, stage);
}
