// Sent and posted messages: delivery to a window with the dialog manager's default handling, and
// the posted-message queue that other threads fill and the main thread empties.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// Guards gPosted, gPostTargets and gPostedChanged's predicate: PostMessageA runs on the monitor
// thread while the main thread dispatches.
std::mutex gPostMutex;
std::condition_variable gPostedChanged;
// Posted and not yet dispatched. Written by any thread that posts, emptied by the main thread.
std::deque<PostedRecord> gPosted;
// The windows that exist, as far as PostMessageA can tell. Written by the main thread.
std::set<const Window*> gPostTargets;

// Messages that reached a window, in order, and how many of each number. Main thread.
std::vector<PostedRecord> gDispatched;
std::map<UINT, int> gDispatchCounts;

LRESULT DeliverToControl(Window* control, UINT message, WPARAM wParam, LPARAM lParam) {
    bool combo = control->className == "COMBOBOX";
    int count = static_cast<int>(control->items.size());
    switch (message) {
        case WM_SETTEXT:
            SetText(control, lParam != 0 ? reinterpret_cast<LPCSTR>(lParam) : "");
            return TRUE;
        case WM_GETTEXT:
            return CopyText(control->text, reinterpret_cast<LPSTR>(lParam),
                            static_cast<int>(wParam));
        case BM_SETCHECK:
            SetCheck(control, wParam);
            return 0;
        case BM_GETCHECK:
            return HoldsCheck(control) ? control->check : BST_UNCHECKED;
        case CB_ADDSTRING:
            if (!combo || lParam == 0) return CB_ERR;
            control->items.push_back(reinterpret_cast<LPCSTR>(lParam));
            return count;
        case CB_GETCOUNT:
            return combo ? count : CB_ERR;
        case CB_GETCURSEL:
            return combo ? control->selection : CB_ERR;
        case CB_SETCURSEL: {
            if (!combo) return CB_ERR;
            // wParam -1 or past the end clears the selection and answers CB_ERR.
            int index = static_cast<int>(wParam);
            if (index < 0 || index >= count) {
                control->selection = CB_ERR;
                control->text.clear();
                return CB_ERR;
            }
            control->selection = index;
            control->text = control->items[index];
            return index;
        }
        default:
            return 0;
    }
}

// What DefDlgProc does with a message that the dialog procedure returned FALSE for.
LRESULT DefaultDialogHandling(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT:
            SetText(dialog, lParam != 0 ? reinterpret_cast<LPCSTR>(lParam) : "");
            return TRUE;
        case WM_GETTEXT:
            return CopyText(dialog->text, reinterpret_cast<LPSTR>(lParam),
                            static_cast<int>(wParam));
        case WM_SYSCOMMAND:
            // The low four bits of the command are used by the system itself.
            if ((wParam & 0xFFF0) == SC_CLOSE) Deliver(dialog, WM_CLOSE, 0, 0);
            return 0;
        case WM_CLOSE: {
            // Closing a dialog is its Cancel command, unless its Cancel button is disabled.
            Window* cancel = FindControl(dialog, IDCANCEL);
            if (cancel == nullptr || IsEnabled(cancel)) {
                Deliver(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel != nullptr ? Handle(cancel) : nullptr));
            }
            return 0;
        }
        default:
            return 0;
    }
}

// Takes the oldest posted message; false when there is none.
bool TakePosted(PostedRecord* message) {
    std::lock_guard<std::mutex> lock(gPostMutex);
    if (gPosted.empty()) return false;
    *message = gPosted.front();
    gPosted.pop_front();
    return true;
}

size_t PostedCount() {
    std::lock_guard<std::mutex> lock(gPostMutex);
    return gPosted.size();
}

// Hands one posted message to its window, as DispatchMessage does; false when it was dropped.
bool Dispatch(const PostedRecord& message) {
    Window* target = KnownWindow(message.window);
    if (target == nullptr || target->destroyed || TopLevel(target)->ended) return false;
    gDispatched.push_back(message);
    ++gDispatchCounts[message.message];
    Deliver(target, message.message, message.wParam, message.lParam);
    return true;
}

int DispatchCount(UINT message) {
    auto found = gDispatchCounts.find(message);
    return found == gDispatchCounts.end() ? 0 : found->second;
}

}  // namespace

LRESULT Deliver(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window->isDialog) return DeliverToControl(window, message, wParam, lParam);
    INT_PTR handled =
        window->proc != nullptr ? window->proc(Handle(window), message, wParam, lParam) : FALSE;
    if (handled) return handled;
    return DefaultDialogHandling(window, message, wParam, lParam);
}

void AddPostTarget(const Window* window) {
    std::lock_guard<std::mutex> lock(gPostMutex);
    gPostTargets.insert(window);
}

void ForgetPostTarget(const Window* window) {
    std::lock_guard<std::mutex> lock(gPostMutex);
    gPostTargets.erase(window);
}

void ResetMessages() {
    {
        std::lock_guard<std::mutex> lock(gPostMutex);
        gPosted.clear();
        gPostTargets.clear();
    }
    gDispatched.clear();
    gDispatchCounts.clear();
}

}  // namespace detail

int PumpMessages() {
    // Only what is queued now: a window that posts to itself while handling a message must not
    // keep this loop going for ever. Nested loops (a message box) may take some of it first.
    size_t budget = detail::PostedCount();
    int delivered = 0;
    PostedRecord message;
    while (budget-- > 0 && detail::TakePosted(&message)) {
        if (detail::Dispatch(message)) ++delivered;
    }
    return delivered;
}

bool WaitForMessage(UINT message, int timeoutMs) {
    int before = detail::DispatchCount(message);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpMessages();
        if (detail::DispatchCount(message) > before) return true;
        std::unique_lock<std::mutex> lock(detail::gPostMutex);
        bool arrived = detail::gPostedChanged.wait_until(lock, deadline,
                                                         [] { return !detail::gPosted.empty(); });
        if (!arrived) return false;
    }
}

std::vector<PostedRecord> DispatchedMessages() { return detail::gDispatched; }

}  // namespace standin

using standin::detail::Window;

extern "C" {

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* target = standin::detail::LiveWindow(window);
    if (target == nullptr) return 0;
    return standin::detail::Deliver(target, message, wParam, lParam);
}

// A null window posts to the thread's own queue, as on Windows; no window takes it, so the
// message loop drops it.
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(standin::detail::gPostMutex);
        const Window* target = reinterpret_cast<const Window*>(window);
        if (window == nullptr || standin::detail::gPostTargets.count(target) != 0) {
            standin::detail::gPosted.push_back({window, message, wParam, lParam});
            standin::detail::gPostedChanged.notify_all();
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

}  // extern "C"
