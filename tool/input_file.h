// Opening a file to read an image or a dump from. Only a regular file will do: a FIFO would hang
// the open or the reads, and a file of /proc measures 0 bytes whatever it holds. The open itself
// never blocks, and the size is the open file's own.
#pragma once

#include <cstdint>
#include <string>

#include "image_file.h"
#include "outcome.h"

// Opens path for reading: BadInput, naming why, when it is missing, unreadable or no regular file.
Outcome OpenRegularFile(const std::string& path, ReadOnlyFile& file, uint64_t& size);
