// HID.DLL and the modules of the process. The program reaches the HID class library only
// through LoadLibraryA and GetProcAddress, as on Windows where it does not link hid.lib; the
// entry points handed out are the stand-in's own routines, and no global HidD_* symbol exists.
#include <windows.h>

#include <hidsdi.h>

#include <cctype>
#include <cstring>
#include <set>

#include "win32/src/kernel_objects.h"
#include "win32/src/standin_internal.h"

namespace standin {
namespace detail {

namespace {

struct HidLibrary {
    bool loadable = true;
    int loadCount = 0;  // LoadLibraryA minus FreeLibrary
    std::set<std::string> removed;
    std::vector<std::string> calls;
    std::vector<ULONG> attributeSizes;
};

// Written by any thread, under KernelMutex.
HidLibrary& Library() {
    static HidLibrary* library = new HidLibrary();
    return *library;
}

char hidModuleTag;

HMODULE HidModule() { return reinterpret_cast<HMODULE>(&hidModuleTag); }

// The system's HID device interface class.
constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr char kProgramPath[] = "C:\\kelm\\kelm.exe";
constexpr char kHidPath[] = "C:\\Windows\\system32\\HID.DLL";

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// Without an extension, Windows looks for the name with ".DLL" appended.
bool IsHidName(LPCSTR name) {
    return name != nullptr &&
           (SameNameIgnoringCase(name, "HID.DLL") || SameNameIgnoringCase(name, "HID"));
}

void Record(const char* name) {
    if (!HistoryKept()) return;
    std::lock_guard<std::mutex> lock(KernelMutex());
    Library().calls.push_back(name);
}

void NTAPI GetHidGuidEntry(LPGUID hidGuid) {
    Record("HidD_GetHidGuid");
    if (hidGuid != nullptr) {
        *hidGuid = kHidGuid;
    }
}

BOOLEAN NTAPI GetAttributesEntry(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    if (HistoryKept()) {
        std::lock_guard<std::mutex> lock(KernelMutex());
        Library().calls.push_back("HidD_GetAttributes");
        if (attributes != nullptr) {
            Library().attributeSizes.push_back(attributes->Size);
        }
    }
    return DeviceGetAttributes(device, attributes);
}

// The board takes no feature reports; the program never sends one.
BOOLEAN NTAPI SetFeatureEntry(HANDLE, PVOID, ULONG) {
    Record("HidD_SetFeature");
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

BOOLEAN NTAPI GetFeatureEntry(HANDLE device, PVOID buffer, ULONG length) {
    Record("HidD_GetFeature");
    return DeviceGetFeature(device, buffer, length);
}

// Through the one function type that casts to any other without a warning.
template <class Function>
FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC HidEntryPoint(const char* name) {
    if (std::strcmp(name, "HidD_GetHidGuid") == 0) {
        return AsProc(&GetHidGuidEntry);
    }
    if (std::strcmp(name, "HidD_GetAttributes") == 0) {
        return AsProc(&GetAttributesEntry);
    }
    if (std::strcmp(name, "HidD_SetFeature") == 0) {
        return AsProc(&SetFeatureEntry);
    }
    if (std::strcmp(name, "HidD_GetFeature") == 0) {
        return AsProc(&GetFeatureEntry);
    }
    return nullptr;
}

// Copies a module's path as GetModuleFileNameA does: cut to fit, always terminated, the length
// without the terminator, or the buffer's size when cut.
DWORD CopyPath(const char* path, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t length = std::strlen(path);
    if (length >= size) {
        std::memcpy(buffer, path, size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path, length + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}

}  // namespace

void ResetHidLibraryLocked() { Library() = HidLibrary(); }

const GUID& HidClassGuid() { return kHidGuid; }

}  // namespace detail

void SetHidLibraryLoadable(bool loadable) {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    detail::Library().loadable = loadable;
}

void RemoveHidEntryPoint(const std::string& name) {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    detail::Library().removed.insert(name);
}

int HidLibraryLoadCount() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Library().loadCount;
}

std::vector<std::string> HidCalls() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Library().calls;
}

std::vector<ULONG> HidAttributeSizes() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Library().attributeSizes;
}

}  // namespace standin

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (!IsHidName(name) || !Library().loadable) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++Library().loadCount;
    return HidModule();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    using namespace standin::detail;
    const HMODULE program = MainModule();
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (module == program) {
        // The program exports nothing.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (module != HidModule() || Library().loadCount == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // A value below 0x10000 is an ordinal; HID.DLL is looked up by name only.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000 || Library().removed.count(name) != 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC entry = HidEntryPoint(name);
    if (entry == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return entry;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (module != HidModule() || Library().loadCount == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --Library().loadCount;
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    using namespace standin::detail;
    if (name == nullptr) {
        return MainModule();
    }
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (IsHidName(name) && Library().loadCount > 0) {
        return HidModule();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    using namespace standin::detail;
    if (module == nullptr || module == MainModule()) {
        return CopyPath(kProgramPath, buffer, size);
    }
    bool hidLoaded = false;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        hidLoaded = module == HidModule() && Library().loadCount > 0;
    }
    if (hidLoaded) {
        return CopyPath(kHidPath, buffer, size);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

}  // extern "C"
