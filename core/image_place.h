// Where an image goes on a board and how much of the flash compares against it, decided once so
// that kelmtool and the web page place, refuse and read back the same way, in the same words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/image_check.h"
#include "core/slot_map.h"

// "huge.dol needs more than the 32 slots of the flash", or nothing when the image fits the flash.
std::optional<std::string> SizeRefusal(const ImageLayout& image, const std::string& shown);

// Where an image goes on map: at wanted, or when wanted is negative the first free run that can
// take it. placedBefore counts the images of the same write placed on map already, which the
// refusal names. Returns the refusal, or nothing with start set.
std::optional<std::string> PlaceImage(const SlotEntry* map, const ImageLayout& image,
                                      const std::string& shown, int wanted, int placedBefore,
                                      int& start);

// What a write reads back from the image's first slot: the image and the 0xFF after it up to the
// end of its last chunk, all that the window's chunks would have covered.
uint64_t ReadBackLength(const ImageLayout& image);

// What verify compares from the first slot of a run of count slots against an image of
// imageSlots: the whole run, and past it whatever of the image would not fit in it, up to the
// end of the flash.
uint64_t VerifyLength(int first, int count, int imageSlots);

// The name field holds the name the file had when it was written; a file written under another
// differs there only, which is no mismatch. Takes the stored name field into the image's header
// part and says whether it differed (a BIOS has no name field).
bool TakeStoredName(ImageLayout& image, const uint8_t* storedHeader);
