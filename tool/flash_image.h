// An image onto free slots, as NOR flashers do it: the slots erased first (a free slot is free by
// its header alone and may hold left-over data behind it, which programming cannot clear), then
// the image with its header last, then, if asked, read back.
#pragma once

#include "board_session.h"
#include "core/stopped_write.h"
#include "image_file.h"
#include "outcome.h"
#include "progress.h"

// Writes image at slot start (the slots must be free, the caller holds the bus), then verifies
// everything its chunks covered when verify is set.
Outcome FlashImage(BoardSession& session, ImageFile& image, int start, bool verify,
                   Progress& progress, ImageWriteStage& stage);

// What the flash holds after FlashImage stopped at stage, for "interrupted: ...".
std::string DescribeStoppedWrite(const ImageFile& image, int start, const ImageWriteStage& stage);
