// What the flash holds after a write, an erase or a restore stopped part of the way (a stop asked,
// a board unplugged), in the words every program that writes images uses.
#pragma once

#include <string>

// "slot 4" or "slots 4-6".
std::string SlotRange(int first, int count);

// How far a write of an image got.
struct ImageWriteStage {
    int erased = 0;        // slots erased, from the first
    bool written = false;  // the whole image, header included
};

// What slots [start, start + slots) hold after a write of name stopped at stage ("nothing was
// changed", "slots 1-5 hold part of big.dol without its header: ...").
std::string DescribeStoppedWrite(const std::string& name, int start, int slots,
                                 const ImageWriteStage& stage);

// What the flash holds after a restore of name stopped at stage (erased counts from slot 0).
std::string DescribeStoppedRestore(const std::string& name, const ImageWriteStage& stage);

// What the flash holds after an erase of slots [first, first + count) stopped with erased of
// them erased, at least one: the first went first, and with it the header.
std::string DescribeStoppedErase(int first, int count, int erased);
