// A simulated board's flash as a file: exactly 2,097,152 bytes, the flash byte for byte, kept in
// step with every erase and every programmed byte. The demo and kelmtool's --sim keep their
// boards in it, each as its owner (what a new file holds, how its messages read).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class FlashFileOpen {
    Loaded,     // the file was there and had the right size; flash holds its bytes
    Created,    // there was no file; it now holds the owner's fresh flash, and so does flash
    WrongSize,  // the file has another size; it was not touched
    Failed,     // it could not be read, created or written
};

// The open flash file. Written by the thread that opens the board, and afterwards by whichever
// thread changes the flash (the demo's dialog thread, kelmtool's only one).
struct FlashFile {
    std::FILE* file = nullptr;
    std::string path;
};

// Who opens a flash file: the first line of its messages, what a new file holds, and what a
// file of the wrong size tells the user to do. On Loaded and Created, flash holds the 2 MB and
// the file stays open for WriteFlashRange; on WrongSize and Failed nothing is open, and problem
// is the text to show the user.
struct FlashFileOwner {
    const char* title;                // "The demo board's flash file"
    std::vector<uint8_t> (*fresh)();  // the flash of a new file
    const char* wrongSizeAdvice;      // follows "is N bytes long, not 2097152."
};
FlashFileOpen OpenFlashFile(const std::string& path, const FlashFileOwner& owner,
                            FlashFile& flashFile, std::vector<uint8_t>& flash,
                            std::string& problem);

// Writes bytes at address into the file and hands them to the system before it returns, so
// that anyone who reads the file sees them. False when that failed.
bool WriteFlashRange(FlashFile& flashFile, size_t address, const uint8_t* bytes, size_t length);

// Closes the file, if open.
void CloseFlashFile(FlashFile& flashFile);
