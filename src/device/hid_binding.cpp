// HID.DLL bound by name, the board's identity, the walk over the HID interfaces.
#include "device/hid_binding.h"

#include <windows.h>

#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/report_layout.h"

namespace {

constexpr char kHidLibraryName[] = "HID.DLL";

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

// Hands one interface's path to visit; true when visit says stop. A path with no terminator
// inside the record is passed over.
bool VisitInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                    const HidInterfaceVisit& visit) {
    size_t size = 0;
    const DetailRecord detail = ReadDetail(set, interfaceData, size);
    if (detail == nullptr) return false;
    const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const void* end = std::memchr(detail->DevicePath, '\0', room);
    if (end == nullptr) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - detail->DevicePath);
    return visit(detail->DevicePath, length);
}

}  // namespace

HidBindResult BindHid(HidBinding& hid) {
    hid.module = LoadLibraryA(kHidLibraryName);
    if (hid.module == nullptr) return HidBindResult::NotLoaded;
    hid.getHidGuid = LookUpHidEntry<HidGetHidGuidFn>(hid, "HidD_GetHidGuid");
    hid.getAttributes = LookUpHidEntry<HidGetAttributesFn>(hid, "HidD_GetAttributes");
    hid.setFeature = LookUpHidEntry<HidSetFeatureFn>(hid, "HidD_SetFeature");
    hid.getFeature = LookUpHidEntry<HidGetFeatureFn>(hid, "HidD_GetFeature");
    if (hid.getHidGuid == nullptr || hid.getAttributes == nullptr || hid.setFeature == nullptr ||
        hid.getFeature == nullptr) {
        return HidBindResult::EntryMissing;
    }
    return HidBindResult::Bound;
}

void ReleaseHid(HidBinding& hid) {
    if (hid.module != nullptr) {
        // A failure leaves the module mapped; the program is ending anyway.
        static_cast<void>(FreeLibrary(hid.module));
    }
    hid = HidBinding{};
}

bool IsKelmBoard(const HidBinding& hid, HANDLE device) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    return hid.getAttributes(device, &attributes) && attributes.VendorID == kBoardVendorId &&
           attributes.ProductID == kBoardProductId;
}

HidWalk WalkHidInterfaces(const HidBinding& hid, const HidInterfaceVisit& visit) {
    GUID hidClass = {};
    hid.getHidGuid(&hidClass);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return HidWalk::SetUnavailable;
    HidWalk walk = HidWalk::Exhausted;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interfaceData)) {
            break;  // past the end, or a list that cannot be read further
        }
        if (VisitInterface(set, &interfaceData, visit)) {
            walk = HidWalk::Stopped;
            break;
        }
    }
    // Nothing more can be done: the list goes with the process at the latest.
    static_cast<void>(SetupDiDestroyDeviceInfoList(set));
    return walk;
}
