// The common open and save dialogs: recorded, answered by the test, and their result written
// into the caller's OPENFILENAMEA as comdlg32 does.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// Dialogs shown, queued answers, the handler and the last extended error. Main thread.
std::vector<FileDialogRecord> gFileDialogs;
std::deque<FileDialogAnswer> gFileAnswers;
std::function<FileDialogAnswer(const FileDialogRecord&)> gFileHandler;
DWORD gExtendedError = 0;

// The filter is pairs of zero-terminated strings, ended by an empty string.
std::vector<std::string> SplitFilter(LPCSTR filter) {
    std::vector<std::string> parts;
    for (LPCSTR part = filter; *part != '\0'; part += std::strlen(part) + 1) {
        parts.push_back(part);
    }
    return parts;
}

FileDialogRecord Record(bool save, const OPENFILENAMEA& ofn) {
    FileDialogRecord record;
    record.save = save;
    record.structSize = ofn.lStructSize;
    record.owner = ofn.hwndOwner;
    record.filterIsNull = ofn.lpstrFilter == nullptr;
    if (ofn.lpstrFilter != nullptr) record.filter = SplitFilter(ofn.lpstrFilter);
    // The initial name is read only within the buffer the caller declared.
    if (ofn.lpstrFile != nullptr) {
        const void* end = std::memchr(ofn.lpstrFile, '\0', ofn.nMaxFile);
        size_t length =
            end != nullptr ? static_cast<const char*>(end) - ofn.lpstrFile : ofn.nMaxFile;
        record.initialName.assign(ofn.lpstrFile, length);
    }
    record.maxFile = ofn.nMaxFile;
    record.flags = ofn.Flags;
    record.filterIndex = ofn.nFilterIndex;
    record.hasTitle = ofn.lpstrTitle != nullptr;
    record.hasInitialDir = ofn.lpstrInitialDir != nullptr;
    record.hasDefExt = ofn.lpstrDefExt != nullptr;
    return record;
}

FileDialogAnswer Answer(const FileDialogRecord& record) {
    if (!gFileAnswers.empty()) {
        FileDialogAnswer answer = gFileAnswers.front();
        gFileAnswers.pop_front();
        return answer;
    }
    if (gFileHandler) {
        std::function<FileDialogAnswer(const FileDialogRecord&)> handler = gFileHandler;
        return handler(record);
    }
    FileDialogAnswer cancel;
    cancel.cancel = true;
    return cancel;
}

// Where the file name starts, after the last separator (Windows takes '/' as well as '\').
size_t NameOffset(const std::string& path) {
    size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? 0 : separator + 1;
}

// Where the extension starts: past the last dot of the file name; at the terminating zero when
// the name has none; 0 when the name ends with the dot.
size_t ExtensionOffset(const std::string& path) {
    size_t name = NameOffset(path);
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < name) return path.size();
    if (dot + 1 == path.size()) return 0;
    return dot + 1;
}

BOOL RunFileDialog(bool save, LPOPENFILENAMEA ofn) {
    gExtendedError = 0;
    if (ofn == nullptr) {
        gExtendedError = CDERR_INITIALIZATION;
        return FALSE;
    }
    FileDialogRecord record = Record(save, *ofn);
    gFileDialogs.push_back(record);
    if (ofn->lStructSize != sizeof(OPENFILENAMEA)) {
        gExtendedError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (ofn->lpstrFile == nullptr) {
        gExtendedError = CDERR_INITIALIZATION;
        return FALSE;
    }
    if (ofn->hwndOwner != nullptr && LiveWindow(ofn->hwndOwner) == nullptr) {
        gExtendedError = CDERR_DIALOGFAILURE;
        return FALSE;
    }

    // The dialog is modal to its owner and runs a message loop while it is open.
    Window* disabledOwner = DisableOwner(ofn->hwndOwner);
    PumpMessages();
    FileDialogAnswer answer = Answer(record);
    EnableOwner(disabledOwner);
    if (answer.cancel) return FALSE;

    size_t pairs = record.filter.size() / 2;
    if (!record.filterIsNull && (answer.filterIndex < 1 || answer.filterIndex > pairs)) {
        std::fprintf(stderr, "%s: the test chose filter %u, but the dialog has filters 1 to %zu\n",
                     save ? "GetSaveFileNameA" : "GetOpenFileNameA",
                     static_cast<unsigned>(answer.filterIndex), pairs);
        std::abort();
    }
    size_t needed = answer.path.size() + 1;
    if (needed > ofn->nMaxFile) {
        // The buffer's first two bytes tell the size it would need.
        if (ofn->nMaxFile >= 2) {
            WORD size = static_cast<WORD>(needed > 0xFFFF ? 0xFFFF : needed);
            std::memcpy(ofn->lpstrFile, &size, sizeof(size));
        }
        gExtendedError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    std::memcpy(ofn->lpstrFile, answer.path.c_str(), needed);
    ofn->nFilterIndex = answer.filterIndex;
    ofn->nFileOffset = static_cast<WORD>(NameOffset(answer.path));
    ofn->nFileExtension = static_cast<WORD>(ExtensionOffset(answer.path));
    if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
        std::string title = answer.path.substr(NameOffset(answer.path));
        size_t count = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.data(), count);
        ofn->lpstrFileTitle[count] = '\0';
    }
    return TRUE;
}

}  // namespace

void ResetFileDialogs() {
    gFileDialogs.clear();
    gFileAnswers.clear();
    gFileHandler = nullptr;
    gExtendedError = 0;
}

}  // namespace detail

void SetFileDialogHandler(std::function<FileDialogAnswer(const FileDialogRecord&)> handler) {
    detail::gFileHandler = std::move(handler);
}

void QueueFileDialogAnswers(const std::vector<FileDialogAnswer>& answers) {
    detail::gFileAnswers.insert(detail::gFileAnswers.end(), answers.begin(), answers.end());
}

std::vector<FileDialogRecord> FileDialogs() { return detail::gFileDialogs; }

}  // namespace standin

extern "C" {

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA ofn) {
    return standin::detail::RunFileDialog(false, ofn);
}

BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) {
    return standin::detail::RunFileDialog(true, ofn);
}

DWORD WINAPI CommDlgExtendedError(void) { return standin::detail::gExtendedError; }

}  // extern "C"
