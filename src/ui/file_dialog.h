// The system's common dialogs for choosing a file to open or a name to save under.
#pragma once

#include <windows.h>

#include "device/path_size.h"

enum class FileDialogKind { Open, Save };

// Shows the dialog owned by owner, with no flags, title, initial folder or default extension, so
// that a save never asks before replacing a file and a typed name gets no extension added. path
// holds the initial name and receives the choice. filter is a list of description and pattern
// pairs, or null for none. filterIndex, when given, is the pair the dialog opens on and receives
// the pair chosen; without it the dialog opens on its own default. True when a file was chosen.
bool ChooseFile(FileDialogKind kind, HWND owner, const char* filter, char (&path)[kPathSize],
                DWORD* filterIndex = nullptr);
