// The demo board's flash file beside kelm-demo.exe: a new one holds the sample flash.
#pragma once

#include <string>
#include <vector>

#include "sim/flash_file.h"

constexpr char kFlashFileName[] = "kelm-demo-flash.bin";

// Opens the flash file at path, or creates it with BuildSampleFlash() when there is none.
FlashFileOpen OpenFlashFile(const std::string& path, FlashFile& flashFile,
                            std::vector<uint8_t>& flash, std::string& problem);
