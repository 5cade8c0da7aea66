// The system's common dialogs for choosing a file to open or a name to save under.
#include "ui/file_dialog.h"

#include <windows.h>

#include <commdlg.h>

bool ChooseFile(FileDialogKind kind, HWND owner, const char* filter, char (&path)[kPathSize],
                DWORD* filterIndex) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(OPENFILENAMEA);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = filterIndex != nullptr ? *filterIndex : 0;
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(sizeof path);
    const BOOL chosen =
        kind == FileDialogKind::Open ? GetOpenFileNameA(&dialog) : GetSaveFileNameA(&dialog);
    if (chosen && filterIndex != nullptr) *filterIndex = dialog.nFilterIndex;
    return chosen != FALSE;
}
