// Errors per thread, the handle table, CloseHandle, and the reset of the whole stand-in.
#include <windows.h>

#include <atomic>
#include <map>

#include "win32/src/kernel_objects.h"
#include "win32/src/standin_internal.h"

namespace standin {
namespace detail {

namespace {

// Written by the test's thread (SetHistoryKept, Reset), read by any.
std::atomic<bool> historyKept{true};

// Windows keeps the last error per thread.
thread_local DWORD lastError = ERROR_SUCCESS;

struct HandleTable {
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Handle values are multiples of 4, as on Windows, but never reused, so that a stale
    // handle is always recognised as closed.
    uintptr_t next = 0x40;
    HINSTANCE mainModule = nullptr;
};

// Never destroyed: detached threads may still use it while the process exits.
// Written by any thread, under KernelMutex.
HandleTable& Table() {
    static HandleTable* table = new HandleTable();
    return *table;
}

// The instance of the program's module when no resources have been registered.
char defaultInstanceTag;

HINSTANCE DefaultInstance() { return reinterpret_cast<HINSTANCE>(&defaultInstanceTag); }

bool CountsAsKernelHandle(ObjectKind kind) { return kind != ObjectKind::DeviceInfoSet; }

}  // namespace

bool HistoryKept() { return historyKept; }

std::mutex& KernelMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

std::condition_variable& KernelChanged() {
    static std::condition_variable* changed = new std::condition_variable();
    return *changed;
}

HANDLE AddObject(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    const uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindObject(HANDLE handle) {
    HandleTable& table = Table();
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveObject(HANDLE handle) {
    return Table().objects.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

std::vector<std::shared_ptr<KernelObject>> AllObjects() {
    std::vector<std::shared_ptr<KernelObject>> all;
    for (const auto& entry : Table().objects) {
        all.push_back(entry.second);
    }
    return all;
}

void SignalEvent(EventObject& event) {
    event.signalled = true;
    KernelChanged().notify_all();
}

void SetMainModule(HINSTANCE module) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    Table().mainModule = module;
}

HINSTANCE MainModule() {
    std::lock_guard<std::mutex> lock(KernelMutex());
    return Table().mainModule != nullptr ? Table().mainModule : DefaultInstance();
}

}  // namespace detail

void Reset() {
    {
        std::lock_guard<std::mutex> lock(detail::KernelMutex());
        detail::HandleTable& table = detail::Table();
        for (const auto& entry : table.objects) {
            entry.second->OnForget();
        }
        table.objects.clear();
        table.mainModule = nullptr;
        detail::ResetDeviceFilesLocked();
        detail::ResetInterfacesLocked();
        detail::ResetHidLibraryLocked();
        detail::ResetWaitsLocked();
    }
    detail::ResetClock();
    detail::ResetUser();
    detail::historyKept = true;
}

void SetHistoryKept(bool kept) { detail::historyKept = kept; }

int OpenHandleCount() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    int count = 0;
    for (const auto& entry : detail::Table().objects) {
        if (detail::CountsAsKernelHandle(entry.second->kind)) {
            ++count;
        }
    }
    return count;
}

int OpenDeviceInfoSets() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    int count = 0;
    for (const auto& entry : detail::Table().objects) {
        if (entry.second->kind == detail::ObjectKind::DeviceInfoSet) {
            ++count;
        }
    }
    return count;
}

}  // namespace standin

extern "C" {

DWORD WINAPI GetLastError(void) { return standin::detail::lastError; }

void WINAPI SetLastError(DWORD code) { standin::detail::lastError = code; }

DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD, DWORD, LPSTR buffer, DWORD, va_list*) {
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is where the allocation's address would go.
    if (buffer != nullptr) *reinterpret_cast<char**>(buffer) = nullptr;
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}

// Nothing the stand-in hands out lives in the local heap: success, as for a null pointer.
HLOCAL WINAPI LocalFree(HLOCAL) { return nullptr; }

BOOL WINAPI CloseHandle(HANDLE object) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<KernelObject> found = FindObject(object);
    // A device information set is not a kernel handle: it is released by
    // SetupDiDestroyDeviceInfoList only.
    if (!found || !CountsAsKernelHandle(found->kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    found->OnClose();
    RemoveObject(object);
    return TRUE;
}

}  // extern "C"
