// The hidden engineering commands: raw sector operations, block 0 erase, monitor and reset.
#pragma once

#include <windows.h>

#include <cstdint>

int ManualRead(HWND window);
void EraseBlockZero();
// Asks for a file and loads its first 32 KB into sector (0xFF after a short file).
// Returns 1 when loaded, 0 when cancelled or the file could not be opened or read.
int LoadSectorFile(uint8_t* sector);
int ProgramSector(int bank);
int VerifySector(int bank);
int BlankCheck(int bank);
int UploadSector(int bank);
void StopMonitor();
void PanelReset(HWND window);
