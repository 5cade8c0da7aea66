// MessageBoxA: the box is recorded, runs its own message loop, and the test answers it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// Boxes shown, queued answers and the handler. Main thread.
std::vector<MessageBoxRecord> gBoxes;
std::deque<int> gBoxAnswers;
std::function<int(const MessageBoxRecord&)> gBoxHandler;

constexpr DWORD kErrorInvalidMessageBoxStyle = 1158;
constexpr int kTryAgain = 10;
constexpr int kContinue = 11;

struct BoxKind {
    UINT type;
    int buttons[3];  // 0: none
    int dismissed;   // the answer when the user just closes it
};
constexpr BoxKind kBoxKinds[] = {
    {MB_OK, {IDOK, 0, 0}, IDOK},
    {MB_OKCANCEL, {IDOK, IDCANCEL, 0}, IDCANCEL},
    {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, IDABORT},
    {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, IDCANCEL},
    {MB_YESNO, {IDYES, IDNO, 0}, IDNO},
    {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, 0}, IDCANCEL},
    {6 /* MB_CANCELTRYCONTINUE */, {IDCANCEL, kTryAgain, kContinue}, IDCANCEL},
};

const BoxKind* KindOf(UINT type) {
    for (const BoxKind& kind : kBoxKinds) {
        if (kind.type == (type & MB_TYPEMASK)) return &kind;
    }
    return nullptr;
}

bool IsButtonOf(const BoxKind& kind, int answer) {
    for (int button : kind.buttons) {
        if (button != 0 && button == answer) return true;
    }
    return false;
}

}  // namespace

void ResetMessageBoxes() {
    gBoxes.clear();
    gBoxAnswers.clear();
    gBoxHandler = nullptr;
}

}  // namespace detail

void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler) {
    detail::gBoxHandler = std::move(handler);
}

void QueueMessageBoxAnswers(const std::vector<int>& answers) {
    detail::gBoxAnswers.insert(detail::gBoxAnswers.end(), answers.begin(), answers.end());
}

std::vector<MessageBoxRecord> MessageBoxes() { return detail::gBoxes; }

void ClearMessageBoxes() { detail::gBoxes.clear(); }

}  // namespace standin

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    namespace detail = standin::detail;
    if (owner != nullptr && detail::LiveWindow(owner) == nullptr) return 0;
    const detail::BoxKind* kind = detail::KindOf(type);
    if (kind == nullptr) {
        SetLastError(detail::kErrorInvalidMessageBoxStyle);
        return 0;
    }
    standin::MessageBoxRecord record;
    record.owner = owner;
    record.text = text != nullptr ? text : "";
    // Windows captions a box without a caption "Error".
    record.caption = caption != nullptr ? caption : "Error";
    record.type = type;
    detail::gBoxes.push_back(record);

    // The box's own message loop runs while it is open; an owned box disables its owner.
    detail::Window* disabledOwner = detail::DisableOwner(owner);
    standin::PumpMessages();
    int answer;
    if (!detail::gBoxAnswers.empty()) {
        answer = detail::gBoxAnswers.front();
        detail::gBoxAnswers.pop_front();
    } else if (detail::gBoxHandler) {
        // A copy: the handler may replace the handler.
        std::function<int(const standin::MessageBoxRecord&)> handler = detail::gBoxHandler;
        answer = handler(record);
    } else {
        answer = kind->dismissed;
    }
    detail::EnableOwner(disabledOwner);

    if (!detail::IsButtonOf(*kind, answer)) {
        std::fprintf(stderr,
                     "MessageBoxA: the test answered %d, which is not a button of the box "
                     "\"%s\" / \"%s\" (type 0x%x)\n",
                     answer, record.caption.c_str(), record.text.c_str(), type);
        std::abort();
    }
    return answer;
}

}  // extern "C"
