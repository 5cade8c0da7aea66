// write: an image file into free slots, erased first, its header written last, sending only
// what changes the flash.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "commands.h"
#include "flash_image.h"
#include "image_file.h"

Outcome RunWrite(ToolContext& context, const WriteArguments& arguments) {
    ImageFile image;
    KELM_TRY(OpenImage(arguments.file, arguments.kind, image));
    if (image.slots > kSlotCount) {
        return Outcome::Fail(ExitCode::BadInput,
                             arguments.file + " needs more than the 32 slots of the flash");
    }
    if (arguments.slot) KELM_TRY(CheckSlotNumber(*arguments.slot));
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    BoardSession& session = board.session();
    const BoardCatalogue& catalogue = board.catalogue();

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

    KELM_TRY(session.TakeBus());
    ImageWriteStage stage;
    const Outcome flashed =
        FlashImage(session, image, start, arguments.verify, context.progress, stage);
    if (flashed.interrupted()) {
        return flashed.Said("interrupted: " + DescribeStoppedWrite(image, start, stage));
    }
    KELM_TRY(flashed);
    KELM_TRY(session.ReleaseBus());

    context.reply.Line("wrote " + arguments.file + " (" + KindName(image.kind) + ", " +
                       std::to_string(image.imageLength) + " bytes) to " +
                       SlotRange(start, image.slots) + (arguments.verify ? ", verified" : ""));
    context.reply.data["slot"] = start;
    context.reply.data["slots"] = image.slots;
    context.reply.data["kind"] = KindName(image.kind);
    context.reply.data["bytes"] = image.imageLength;
    context.reply.data["verified"] = arguments.verify;
    return {};
}
