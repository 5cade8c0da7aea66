// Writing an image file into free slots: the file choice, then the write at the clicked slot.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/slot_header.h"
#include "device/path_size.h"

// The file chosen for writing, kept from the file choice to the start-slot click.
// Dialog thread only.
struct PendingImageState {
    char path[kPathSize];  // empty at start; the last chosen path
    ImageKind kind;
    int32_t slotCount;
    int32_t alignMask;
};
extern PendingImageState PendingImage;

// The open-file filter: four description/pattern pairs; the chosen index - 1 is the ImageKind.
extern const char kImageFilter[];

void BeginImageWrite(HWND window);
void WriteImageAt(HWND window, int start);
