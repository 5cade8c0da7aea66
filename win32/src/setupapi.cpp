// The HID interfaces that tests plug in, and their enumeration through the device installation
// services.
#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "win32/src/kernel_objects.h"

namespace standin {
namespace detail {

namespace {

struct InterfaceRegistry {
    std::vector<HidInterface> interfaces;  // in the order added
    bool setUnavailable = false;
};

// Written by the test's thread, read by any, under KernelMutex.
InterfaceRegistry& Registry() {
    static InterfaceRegistry* registry = new InterfaceRegistry();
    return *registry;
}

// A snapshot of the interfaces present when the list was made.
struct DeviceInfoSet : KernelObject {
    DeviceInfoSet() : KernelObject(ObjectKind::DeviceInfoSet) {}
    std::vector<HidInterface> interfaces;
};

// The only flags the program passes: interfaces (not devices) that are present now. Other
// kinds of list are not modelled.
constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

// SP_INTERFACE_DEVICE_ACTIVE
constexpr DWORD kInterfaceActive = 0x00000001;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::shared_ptr<DeviceInfoSet> FindSet(HDEVINFO set) {
    return FindObjectOf<DeviceInfoSet>(set, ObjectKind::DeviceInfoSet);
}

// The interface an interface record names: its Reserved field carries the position in the set,
// counted from 1.
const HidInterface* NamedInterface(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA& data) {
    if (data.Reserved == 0 || data.Reserved > set.interfaces.size()) {
        return nullptr;
    }
    return &set.interfaces[data.Reserved - 1];
}

}  // namespace

std::vector<HidInterface> InterfacesLocked() { return Registry().interfaces; }

void ResetInterfacesLocked() { Registry() = InterfaceRegistry(); }

}  // namespace detail

void SetDeviceSetUnavailable(bool unavailable) {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    detail::Registry().setUnavailable = unavailable;
}

void AddHidInterface(const HidInterface& hid) {
    {
        std::lock_guard<std::mutex> lock(detail::KernelMutex());
        detail::Registry().interfaces.push_back(hid);
    }
    if (hid.board != nullptr) {
        sim::Board* board = hid.board;
        board->SetInputListener([board] { detail::OnBoardInput(board); });
    }
}

}  // namespace standin

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                     DWORD flags) {
    using namespace standin::detail;
    if (classGuid == nullptr || enumerator != nullptr || parent != nullptr ||
        flags != kPresentInterfaces) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<standin::HidInterface> candidates;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        if (Registry().setUnavailable) {
            SetLastError(ERROR_GEN_FAILURE);
            return INVALID_HANDLE_VALUE;
        }
        // Another class has no interfaces here: its list is empty.
        if (SameGuid(*classGuid, HidClassGuid())) {
            candidates = Registry().interfaces;
        }
    }
    // An unplugged board has no interface; asked without KernelMutex (the board may call back).
    auto set = std::make_shared<DeviceInfoSet>();
    for (const standin::HidInterface& hid : candidates) {
        if (hid.board == nullptr || hid.board->IsPresent()) {
            set->interfaces.push_back(hid);
        }
    }
    std::lock_guard<std::mutex> lock(KernelMutex());
    return AddObject(set);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                        const GUID* interfaceClassGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceInfoSet> found = FindSet(set);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (interfaceClassGuid == nullptr || interfaceData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // Each interface is the only one of its own device, whose DevInst is its position.
    size_t position = memberIndex;
    if (device != nullptr) {
        position = memberIndex == 0 && device->DevInst != 0 ? device->DevInst - 1 : SIZE_MAX;
    }
    if (!SameGuid(*interfaceClassGuid, HidClassGuid()) || position >= found->interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interfaceData->InterfaceClassGuid = HidClassGuid();
    interfaceData->Flags = kInterfaceActive;
    interfaceData->Reserved = position + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, LPDWORD requiredSize,
                                             PSP_DEVINFO_DATA device) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceInfoSet> found = FindSet(set);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (interfaceData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const standin::HidInterface* hid = NamedInterface(*found, *interfaceData);
    if (hid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // No buffer goes with no size; a buffer's fixed part must be the size of this build's.
    if ((detail == nullptr && detailSize != 0) ||
        (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) ||
        (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const size_t required =
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + hid->path.size() + 1;
    if (requiredSize != nullptr) {
        *requiredSize = static_cast<DWORD>(required);
    }
    if (detail == nullptr || detailSize < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (hid->detailFails) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    // DevicePath is declared with one character and runs on to the end of the buffer.
    char* path =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(path, hid->path.c_str(), hid->path.size() + 1);
    if (device != nullptr) {
        device->ClassGuid = HidClassGuid();
        device->DevInst = static_cast<DWORD>(interfaceData->Reserved);
    }
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (!FindSet(set)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RemoveObject(set);
    return TRUE;
}

}  // extern "C"
