// Binding of HID.DLL, discovery of the kelm board among the HID interfaces, the command channel.
#include "device/hid_access.h"

#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

HANDLE CommandChannel = INVALID_HANDLE_VALUE;
char DevicePath[kPathSize] = {};

namespace {

// kelm.exe does not link hid.lib: HID.DLL is loaded by name and these are looked up in it, so
// the program reports a missing library itself instead of failing to start.
using HidGetHidGuidFn = void(NTAPI*)(LPGUID);
using HidGetAttributesFn = BOOLEAN(NTAPI*)(HANDLE, PHIDD_ATTRIBUTES);
using HidSetFeatureFn = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);
using HidGetFeatureFn = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);

// The HID.DLL binding. Written by the dialog thread only (start-up and end of the program).
HMODULE HidLibrary = nullptr;
HidGetHidGuidFn HidGetHidGuidEntry = nullptr;
HidGetAttributesFn HidGetAttributesEntry = nullptr;
HidSetFeatureFn HidSetFeatureEntry = nullptr;  // must exist, never called
HidGetFeatureFn HidGetFeatureEntry = nullptr;

constexpr char kHidLibraryName[] = "HID.DLL";
constexpr char kErrorCaption[] = "Error";
constexpr char kLoadFailedText[] = "Failed to load HID.DLL.";
constexpr char kEntryPointsMissingText[] = "Couldn't find one or more HID entry points.";
constexpr char kDeviceSetFailedText[] = "Failed to open handle to HID device set.";

// Goes through void(*)() so that the conversion from FARPROC draws no cast-function-type warning.
template <typename Fn>
Fn LookUp(const char* name) {
    FARPROC entry = GetProcAddress(HidLibrary, name);
    return entry == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(entry));
}

void ForgetHidLibrary() {
    HidLibrary = nullptr;
    HidGetHidGuidEntry = nullptr;
    HidGetAttributesEntry = nullptr;
    HidSetFeatureEntry = nullptr;
    HidGetFeatureEntry = nullptr;
}

void CloseDevice(HANDLE device) {
    // Nothing more can be done: the handle is given up either way.
    static_cast<void>(CloseHandle(device));
}

// Opens one interface and checks it is the board. Returns its handle, or INVALID_HANDLE_VALUE
// when it cannot be opened or is some other HID device (closed again at once).
HANDLE OpenIfBoard(const char* path) {
    HANDLE device =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (!HidGetAttributesEntry(device, &attributes) || attributes.VendorID != kBoardVendorId ||
        attributes.ProductID != kBoardProductId) {
        CloseDevice(device);
        return INVALID_HANDLE_VALUE;
    }
    return device;
}

// SetupAPI's detail record is sized at run time and comes from malloc, so it goes back with free.
struct FreeRecord {
    void operator()(void* record) const { std::free(record); }
};
using DetailRecord = std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_A, FreeRecord>;

// The interface's detail record, sized as SetupAPI asks; null when it cannot be had. size is the
// record's allocated size.
DetailRecord ReadDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, size_t& size) {
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return nullptr;
    }
    // The record's declared type is larger than the size asked for when the path is very short.
    size = required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
               ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
               : static_cast<size_t>(required);
    DetailRecord detail(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size)));
    if (detail == nullptr) return nullptr;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail.get(),
                                          static_cast<DWORD>(size), nullptr, nullptr)) {
        return nullptr;
    }
    return detail;
}

// Tries the interface at one index of the list. Returns 1 when it is the board (CommandChannel
// and DevicePath set), 0 when it is skipped.
int TryInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    size_t size = 0;
    const DetailRecord detail = ReadDetail(set, interfaceData, size);
    if (detail == nullptr) return 0;
    // A path that would not fit DevicePath (terminator included) cannot be handed to the monitor.
    const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const size_t limit = room < kPathSize ? room : kPathSize;
    const void* end = std::memchr(detail->DevicePath, '\0', limit);
    if (end == nullptr) return 0;
    const HANDLE device = OpenIfBoard(detail->DevicePath);
    if (device == INVALID_HANDLE_VALUE) return 0;
    const size_t length = static_cast<const char*>(end) - detail->DevicePath;
    std::memcpy(DevicePath, detail->DevicePath, length + 1);
    CommandChannel = device;
    return 1;
}

void ReleaseDeviceSet(HDEVINFO set) {
    // Nothing more can be done: the list goes with the process at the latest.
    static_cast<void>(SetupDiDestroyDeviceInfoList(set));
}

}  // namespace

bool BindHidLibrary() {
    HidLibrary = LoadLibraryA(kHidLibraryName);
    if (HidLibrary == nullptr) {
        ShowError(kLoadFailedText);
        return false;
    }
    HidGetHidGuidEntry = LookUp<HidGetHidGuidFn>("HidD_GetHidGuid");
    HidGetAttributesEntry = LookUp<HidGetAttributesFn>("HidD_GetAttributes");
    HidSetFeatureEntry = LookUp<HidSetFeatureFn>("HidD_SetFeature");
    HidGetFeatureEntry = LookUp<HidGetFeatureFn>("HidD_GetFeature");
    if (HidGetHidGuidEntry == nullptr || HidGetAttributesEntry == nullptr ||
        HidSetFeatureEntry == nullptr || HidGetFeatureEntry == nullptr) {
        ShowError(kEntryPointsMissingText);
        ReleaseHidLibrary();
        return false;
    }
    return true;
}

void ReleaseHidLibrary() {
    if (HidLibrary != nullptr) {
        // A failure leaves the module mapped; the program is ending anyway.
        static_cast<void>(FreeLibrary(HidLibrary));
    }
    ForgetHidLibrary();
}

int OpenBoard() {
    if (HidGetHidGuidEntry == nullptr) {
        return 0;  // HID.DLL is not bound
    }
    GUID hidClass = {};
    HidGetHidGuidEntry(&hidClass);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        ShowError(kDeviceSetFailedText);
        return 0;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interfaceData)) {
            break;
        }
        if (TryInterface(set, &interfaceData)) {
            ReleaseDeviceSet(set);
            return 1;
        }
    }
    ReleaseDeviceSet(set);
    return 0;
}

bool IsConnected() { return CommandChannel != INVALID_HANDLE_VALUE; }

void CloseCommandChannel() {
    if (CommandChannel == INVALID_HANDLE_VALUE) {
        return;
    }
    CloseDevice(CommandChannel);
    CommandChannel = INVALID_HANDLE_VALUE;
}

void ShowError(const char* text) {
    // No owner: the box runs its own loop and leaves the dialog working underneath. A box that
    // cannot be shown leaves no other way to tell the user.
    static_cast<void>(MessageBoxA(nullptr, text, kErrorCaption, MB_OK | MB_ICONWARNING));
}

BOOLEAN HidGetFeature(HANDLE device, void* report, ULONG length) {
    if (HidGetFeatureEntry == nullptr) {
        return FALSE;
    }
    return HidGetFeatureEntry(device, report, length);
}
