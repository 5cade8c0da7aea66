// write: an image file into free slots, as the window writes it, sending only what changes the
// flash.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "commands.h"
#include "flash_io.h"
#include "image_file.h"

Outcome RunWrite(ToolContext& context, const WriteArguments& arguments) {
    ImageFile image;
    KELM_TRY(OpenImage(arguments.file, arguments.kind, image));
    if (image.slots > kSlotCount) {
        return Outcome::Fail(ExitCode::BadInput,
                             arguments.file + " needs more than the 32 slots of the flash");
    }
    if (arguments.slot && (*arguments.slot < 0 || *arguments.slot >= kSlotCount)) {
        return Outcome::Fail(ExitCode::BadInput, "slot " + std::to_string(*arguments.slot) +
                                                     " does not exist (0 to 31)");
    }
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    BoardSession session = connection.Session(context.options);
    BoardCatalogue catalogue;
    KELM_TRY(ReadCatalogue(session, catalogue));

    int start = 0;
    const std::string needs = std::to_string(image.slots) + " slot" +
                              (image.slots == 1 ? "" : "s") +
                              (image.alignMask != 0 ? ", starting at an even slot" : "");
    if (arguments.slot) {
        start = *arguments.slot;
        if (!CanPlaceOn(catalogue.map, start, image.slots, image.alignMask)) {
            return Outcome::Fail(ExitCode::BadInput, "slot " + std::to_string(start) +
                                                         " cannot take " + arguments.file +
                                                         " (it needs " + needs + ")");
        }
    } else {
        start = FirstPlaceOn(catalogue.map, image.slots, image.alignMask);
        if (start < 0) {
            return Outcome::Fail(ExitCode::BadInput, "not enough free space for " + arguments.file +
                                                         " (it needs " + needs +
                                                         "): erase something first");
        }
    }

    const uint32_t address = static_cast<uint32_t>(start) * kSlotSize;
    // A .gcb of only its header is a header with nothing behind it: the window sends no chunk
    // for it and the slot stays free, so the flash must stay as it is here too.
    const bool headerOnly = image.kind == ImageKind::Bios && image.fileLength == kHeaderSize;
    const uint64_t length = headerOnly ? 0 : image.imageLength;
    const ByteSource source = [&image](uint64_t offset, uint8_t* out, uint32_t count) {
        return ReadImage(image, offset, out, count);
    };
    KELM_TRY(session.TakeBus());
    context.progress.Start("writing", length);
    KELM_TRY(WriteBytes(session, address, length, source, context.progress));
    context.progress.Finish();
    if (arguments.verify) {
        // Everything the window's chunks would have covered: the image and the 0xFF after it up
        // to the end of its last chunk.
        const uint64_t covered = (length + kChunkSize - 1) / kChunkSize * kChunkSize;
        context.progress.Start("verifying", covered);
        KELM_TRY(VerifyBytes(session, address, covered, source, context.progress));
        context.progress.Finish();
    }
    KELM_TRY(session.ReleaseBus());

    if (headerOnly) {
        context.reply.Line("nothing written: " + arguments.file + " holds only a header, so " +
                           SlotRange(start, image.slots) + " stays free");
    } else {
        context.reply.Line("wrote " + arguments.file + " (" + KindName(image.kind) + ", " +
                           std::to_string(image.imageLength) + " bytes) to " +
                           SlotRange(start, image.slots) + (arguments.verify ? ", verified" : ""));
    }
    context.reply.data["slot"] = start;
    context.reply.data["slots"] = image.slots;
    context.reply.data["kind"] = KindName(image.kind);
    context.reply.data["bytes"] = length;
    context.reply.data["verified"] = arguments.verify;
    return {};
}
