// What the programs say when the user lets go of the board: whether the machine can boot from it.
#pragma once

constexpr char kBiosNoticeText[] = "Remember unplugging USB if you want to boot!\n";
constexpr char kBiosNoticeTitle[] = "Note";
constexpr char kNoBiosText[] = "No Bios is flashed into KELM!\nNo boot is possible!\n";
constexpr char kNoBiosTitle[] = "Warning";
