// Moving whole images and dumps: writes that send only what changes the flash, read-back
// verification, and reads into a file, each an operation of the engine (core/operations.h)
// over the file the command reads or writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "board_session.h"
#include "core/operations.h"
#include "outcome.h"
#include "progress.h"

// Fills out with the bytes [offset, offset + count) of what is to be written.
using ByteSource = std::function<Outcome(uint64_t offset, uint8_t* out, uint32_t count)>;
// Takes count bytes read from the flash.
using ByteSink = std::function<Outcome(const uint8_t* bytes, uint32_t count)>;

using core::HeldBack;

// Writes length bytes from source at a linear flash address; the caller holds the bus. Runs of
// 0xFF are skipped (see core/write_plan.h); no CMD_WRITE crosses a bank's end.
Outcome WriteBytes(BoardSession& session, uint32_t address, uint64_t length,
                   const ByteSource& source, Progress& progress);

// WriteBytes with the held-back bytes last, in transfers no interruption splits (a header half
// written would claim an image of any size). address is the start of a slot.
Outcome WriteHeadersLast(BoardSession& session, uint32_t address, uint64_t length,
                         const ByteSource& source, Progress& progress, HeldBack heldBack);

// Erases slots [first, first + count), counting them in erased as they go; the caller holds the
// bus.
Outcome EraseSlots(BoardSession& session, int first, int count, Progress& progress, int& erased);

// Reads the flash back from address and compares it with source over length bytes; the caller
// holds the bus. A difference is a Mismatch naming its slot and offset.
Outcome VerifyBytes(BoardSession& session, uint32_t address, uint64_t length,
                    const ByteSource& source, Progress& progress);

// Reads length bytes from address into sink; the caller holds the bus.
Outcome ReadBytes(BoardSession& session, uint32_t address, uint64_t length, const ByteSink& sink,
                  Progress& progress);

using core::DescribeAddress;
