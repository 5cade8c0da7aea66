// Moving whole images and dumps: writes that send only what changes the flash, read-back
// verification, and reads into a file, each through one chunk buffer whatever the size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "board_session.h"
#include "outcome.h"
#include "progress.h"

// Fills out with the bytes [offset, offset + count) of what is to be written.
using ByteSource = std::function<Outcome(uint64_t offset, uint8_t* out, uint32_t count)>;
// Takes count bytes read from the flash.
using ByteSink = std::function<Outcome(const uint8_t* bytes, uint32_t count)>;

// Writes length bytes from source at a linear flash address, chunk by chunk; the caller holds the
// bus. Runs of 0xFF are skipped (see write_plan.h); no CMD_WRITE crosses a bank's end.
Outcome WriteBytes(BoardSession& session, uint32_t address, uint64_t length,
                   const ByteSource& source, Progress& progress);

// The first kHeaderSize bytes of a slot decide whether the catalogue sees anything there, so a
// write holds them back until the rest is on the flash: then an interrupted write leaves its
// first slot reading as free, never a header claiming an image that is not all there.
enum class HeldBack {
    FirstSlot,  // an image: only its own header, at most one CMD_WRITE more than in one pass
    EverySlot,  // a whole-flash restore: every slot's first bytes
};

// WriteBytes in two passes: everything but the held-back bytes, then those, which no interruption
// splits (a header half written would claim an image of any size). address is the start of a
// slot.
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

// "slot 3 offset 0x0104"
std::string DescribeAddress(uint32_t address);
