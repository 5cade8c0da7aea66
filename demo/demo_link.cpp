// The demo board as the program sees it: a HID.DLL, a HID interface list and a device path, all
// served here, with the board's reports behind them. Whatever is not the demo board's goes to
// Windows unchanged.
//
// Handles to the board are real event handles, so that they never clash with the handles that
// Windows gives out; closing one closes its event. Input reads complete as the HID class driver
// completes them: at once when the board has a report queued, otherwise when the board's input
// listener says one came (or that the board went away), by setting the caller's event. A read
// that is cancelled, or whose handle is closed, completes as on Windows: shortly after, on a
// thread of the pool, with STATUS_CANCELLED in its record and its event set.
#include "demo/demo_link.h"

#include <hidsdi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "demo/demo_board.h"

namespace {

constexpr char kHidLibraryName[] = "HID.DLL";
constexpr char kDevicePath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#7&2b4c7a1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr GUID kHidClassGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr USHORT kVersionNumber = 0x0100;  // what the board's USB descriptor would carry

// Completion codes that an OVERLAPPED record carries, as the I/O manager writes them. The
// stand-in (win32/src/device_files.cpp) models the same device files for the host build; the
// two cannot share code, one being real Win32 and the other its stand-in, so they restate it.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;

// The board keeps a log of every report for the tests; a demo that runs for hours would keep
// all of it, so it is emptied now and then. Nothing in the demo reads it.
constexpr uint64_t kLogLimit = 50000;

// How long a cancelled read waits for its completion: the I/O manager completes it a little
// after the cancel, not within it.
constexpr DWORD kCancelDelayMs = 2;

struct PendingRead {
    OVERLAPPED* overlapped;
    uint8_t* buffer;
    DWORD issuer;  // the thread that started it: CancelIo ends only the caller's own reads
};

struct DeviceFile {
    HANDLE handle = nullptr;  // a real event: the handle value, and the signal of handle waits
    DWORD access = 0;
    bool overlapped = false;
    std::deque<PendingRead> reads;
};

struct DeviceSet {
    bool boardListed = false;  // the board was present when the list was made
};

// The demo's HID.DLL: its module handle is this variable's address.
char HidModule = 0;

// Everything below is guarded by LinkLock and written by any thread that calls in: the dialog
// thread (module, device sets, command channel) and the monitor thread (its own handle and
// reads), and whichever thread the board calls its input listener on. LinkLock is never held
// while the board is asked to do anything that could call a listener back.
SRWLOCK LinkLock = SRWLOCK_INIT;
int HidModuleUses = 0;
std::vector<std::shared_ptr<DeviceFile>> DeviceFiles;
std::vector<std::unique_ptr<DeviceSet>> DeviceSets;

// A read that was cancelled and still has to be completed. The event to set is a duplicate:
// the caller may close its own handle to it before the completion comes, as the I/O manager's
// reference to the event outlives the caller's.
struct CancelledRead {
    PendingRead read;
    std::shared_ptr<DeviceFile> device;  // which handle it was started on, for CancelIoEx
    HANDLE signal;
};
std::vector<CancelledRead> CancelledReads;

class LinkGuard {
  public:
    LinkGuard() { AcquireSRWLockExclusive(&LinkLock); }
    ~LinkGuard() { ReleaseSRWLockExclusive(&LinkLock); }
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;
};

std::shared_ptr<DeviceFile> FindDevice(HANDLE handle) {
    LinkGuard guard;
    for (const auto& device : DeviceFiles) {
        if (device->handle == handle) {
            return device;
        }
    }
    return nullptr;
}

DeviceSet* FindSet(HDEVINFO set) {
    LinkGuard guard;
    for (const auto& candidate : DeviceSets) {
        if (candidate.get() == set) {
            return candidate.get();
        }
    }
    return nullptr;
}

bool IsHidClass(const GUID* guid) {
    return guid != nullptr && std::memcmp(guid, &kHidClassGuid, sizeof(GUID)) == 0;
}

bool BoardPresent() { return DemoBoard != nullptr && DemoBoard->IsPresent(); }

DWORD ErrorOfStatus(ULONG_PTR status) {
    switch (status) {
        case kStatusSuccess:
            return ERROR_SUCCESS;
        case kStatusCancelled:
            return ERROR_OPERATION_ABORTED;
        case kStatusDeviceNotConnected:
            return ERROR_DEVICE_NOT_CONNECTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// LinkLock held. Sets the record's result and its event (or, without one, the handle's).
void Complete(const DeviceFile& device, const PendingRead& read, ULONG_PTR status, DWORD bytes) {
    read.overlapped->Internal = status;
    read.overlapped->InternalHigh = bytes;
    HANDLE event = read.overlapped->hEvent != nullptr ? read.overlapped->hEvent : device.handle;
    // An event the caller has closed already wants no signal any more.
    static_cast<void>(SetEvent(event));
}

// LinkLock held.
void CompleteCancelled(const CancelledRead& cancelled) {
    cancelled.read.overlapped->Internal = kStatusCancelled;
    cancelled.read.overlapped->InternalHigh = 0;
    // A failure leaves nothing to undo: the duplicate is the link's own.
    static_cast<void>(SetEvent(cancelled.signal));
    static_cast<void>(CloseHandle(cancelled.signal));
}

// A thread of the pool: completes every read cancelled by then.
VOID CALLBACK CompleteCancelledReads(PTP_CALLBACK_INSTANCE, PVOID) {
    Sleep(kCancelDelayMs);
    LinkGuard guard;
    for (const CancelledRead& cancelled : CancelledReads) {
        CompleteCancelled(cancelled);
    }
    CancelledReads.clear();
}

// LinkLock held. Hands a read to a thread of the pool, which completes it as cancelled.
void CancelRead(const std::shared_ptr<DeviceFile>& device, const PendingRead& read) {
    const HANDLE event =
        read.overlapped->hEvent != nullptr ? read.overlapped->hEvent : device->handle;
    HANDLE signal = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &signal, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        // No reference of our own to the event: it is set now, while the caller's is still
        // open.
        Complete(*device, read, kStatusCancelled, 0);
        return;
    }
    const CancelledRead cancelled{read, device, signal};
    if (!TrySubmitThreadpoolCallback(CompleteCancelledReads, nullptr, nullptr)) {
        // No thread to complete it later: it completes now, which the caller cannot tell from
        // a completion that came quickly.
        CompleteCancelled(cancelled);
        return;
    }
    CancelledReads.push_back(cancelled);
}

// LinkLock held. Cancels the device's pending reads that `picked` chooses; returns whether any
// read of the device that it chooses had not completed yet, including reads cancelled before.
template <class Pick>
bool CancelReads(const std::shared_ptr<DeviceFile>& device, Pick picked) {
    bool found = false;
    std::deque<PendingRead> kept;
    for (const PendingRead& read : device->reads) {
        if (picked(read)) {
            CancelRead(device, read);
            found = true;
        } else {
            kept.push_back(read);
        }
    }
    device->reads.swap(kept);
    for (const CancelledRead& cancelled : CancelledReads) {
        found = found || (cancelled.device == device && picked(cancelled.read));
    }
    return found;
}

// LinkLock held. Hands queued reports to the device's waiting reads, oldest first, or fails
// them all when the board has gone. TakeInputReport calls no listener.
void ServeReads(DeviceFile& device) {
    while (!device.reads.empty()) {
        uint8_t report[sim::kInputReportSize] = {};
        const sim::InputResult result = DemoBoard->TakeInputReport(report, sizeof(report));
        if (result == sim::InputResult::Empty) {
            return;
        }
        const PendingRead read = device.reads.front();
        device.reads.pop_front();
        if (result == sim::InputResult::Gone) {
            Complete(device, read, kStatusDeviceNotConnected, 0);
            continue;
        }
        std::memcpy(read.buffer, report, sizeof(report));
        Complete(device, read, kStatusSuccess, sizeof(report));
    }
}

// The board's input listener: a report was queued, or the board went away.
void OnBoardInput() {
    LinkGuard guard;
    for (const auto& device : DeviceFiles) {
        ServeReads(*device);
    }
}

void TrimBoardLog() {
    if (DemoBoard->ExchangeCount() >= kLogLimit) {
        DemoBoard->ClearLog();
    }
}

DWORD ExchangeError() { return BoardPresent() ? ERROR_GEN_FAILURE : ERROR_DEVICE_NOT_CONNECTED; }

// ---- the demo's HID.DLL

void NTAPI HidGetHidGuid(LPGUID guid) {
    if (guid != nullptr) {
        *guid = kHidClassGuid;
    }
}

BOOLEAN NTAPI HidGetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    if (!FindDevice(handle)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (attributes == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!BoardPresent()) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = sim::kVendorId;
    attributes->ProductID = sim::kProductId;
    attributes->VersionNumber = kVersionNumber;
    return TRUE;
}

BOOLEAN NTAPI HidSetFeature(HANDLE, PVOID, ULONG) {
    // The board takes its commands as output reports; it has no feature report to set.
    return Fail(ERROR_NOT_SUPPORTED);
}

BOOLEAN NTAPI HidGetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    if (!FindDevice(handle)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (buffer == nullptr || length < sim::kReportSize) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const bool answered =
        DemoBoard->GetFeatureReport(static_cast<uint8_t*>(buffer), sim::kReportSize);
    TrimBoardLog();
    return answered ? TRUE : Fail(ExchangeError());
}

// Goes through void(*)() so that the conversion to FARPROC draws no cast-function-type warning.
template <typename Fn>
FARPROC AsProc(Fn entry) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace

HMODULE WINAPI DemoLoadLibraryA(LPCSTR name) {
    if (name == nullptr || lstrcmpiA(name, kHidLibraryName) != 0) {
        return LoadLibraryA(name);
    }
    StartDemoBoard();
    DemoBoard->SetInputListener(OnBoardInput);
    LinkGuard guard;
    ++HidModuleUses;
    return reinterpret_cast<HMODULE>(&HidModule);
}

FARPROC WINAPI DemoGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != reinterpret_cast<HMODULE>(&HidModule)) {
        return GetProcAddress(module, name);
    }
    // An ordinal comes as a number in the low word of the pointer.
    if (name != nullptr && (reinterpret_cast<ULONG_PTR>(name) >> 16) != 0) {
        if (std::strcmp(name, "HidD_GetHidGuid") == 0) return AsProc(HidGetHidGuid);
        if (std::strcmp(name, "HidD_GetAttributes") == 0) return AsProc(HidGetAttributes);
        if (std::strcmp(name, "HidD_SetFeature") == 0) return AsProc(HidSetFeature);
        if (std::strcmp(name, "HidD_GetFeature") == 0) return AsProc(HidGetFeature);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI DemoFreeLibrary(HMODULE module) {
    if (module != reinterpret_cast<HMODULE>(&HidModule)) {
        return FreeLibrary(module);
    }
    bool last = false;
    {
        LinkGuard guard;
        if (HidModuleUses == 0) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        last = --HidModuleUses == 0;
    }
    if (last) {
        StopDemoBoard();
    }
    return TRUE;
}

HDEVINFO WINAPI DemoSetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
    if (!IsHidClass(classGuid) || (flags & DIGCF_DEVICEINTERFACE) == 0 || enumerator != nullptr) {
        return SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    }
    // Only the demo board is a HID interface here: the system's own HID devices stay out of it.
    auto set = std::make_unique<DeviceSet>();
    set->boardListed = BoardPresent();
    DeviceSet* handle = set.get();
    LinkGuard guard;
    DeviceSets.push_back(std::move(set));
    return static_cast<HDEVINFO>(handle);
}

BOOL WINAPI DemoSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                            const GUID* classGuid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
    const DeviceSet* demoSet = FindSet(set);
    if (demoSet == nullptr) {
        return SetupDiEnumDeviceInterfaces(set, device, classGuid, index, data);
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!IsHidClass(classGuid) || !demoSet->boardListed || index != 0) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = kHidClassGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = 0;
    return TRUE;
}

BOOL WINAPI DemoSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD detailSize, PDWORD requiredSize,
                                                 PSP_DEVINFO_DATA device) {
    if (FindSet(set) == nullptr) {
        return SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize,
                                                device);
    }
    if (data == nullptr || !IsHidClass(&data->InterfaceClassGuid)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD needed = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(kDevicePath));
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (detail == nullptr) {
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detailSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(detail->DevicePath, kDevicePath, sizeof(kDevicePath));
    if (device != nullptr && device->cbSize == sizeof(SP_DEVINFO_DATA)) {
        device->ClassGuid = kHidClassGuid;
        device->DevInst = 1;
        device->Reserved = 0;
    }
    return TRUE;
}

BOOL WINAPI DemoSetupDiDestroyDeviceInfoList(HDEVINFO set) {
    {
        LinkGuard guard;
        for (auto it = DeviceSets.begin(); it != DeviceSets.end(); ++it) {
            if (it->get() == set) {
                DeviceSets.erase(it);
                return TRUE;
            }
        }
    }
    return SetupDiDestroyDeviceInfoList(set);
}

HANDLE WINAPI DemoCreateFileA(LPCSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    if (path == nullptr || lstrcmpiA(path, kDevicePath) != 0) {
        return CreateFileA(path, access, share, security, disposition, flags, templateFile);
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!BoardPresent()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<DeviceFile>();
    device->handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (device->handle == nullptr) {
        return INVALID_HANDLE_VALUE;  // CreateEventA's error stays the last error
    }
    device->access = access;
    device->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    {
        LinkGuard guard;
        DeviceFiles.push_back(device);
    }
    // A host that opens the board to listen (overlapped, as the HID class driver wants it) gets
    // its greeting; the board calls the input listener from here, so LinkLock is free again.
    if (device->overlapped && (access & GENERIC_READ) != 0) {
        SendDemoGreeting();
    }
    SetLastError(ERROR_SUCCESS);
    return device->handle;
}

BOOL WINAPI DemoWriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    const std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        return WriteFile(file, buffer, bytes, written, overlapped);
    }
    if ((device->access & GENERIC_WRITE) == 0) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if ((device->overlapped && overlapped == nullptr) ||
        (!device->overlapped && written == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (written != nullptr) {
        *written = 0;
    }
    if (buffer == nullptr) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    // The HID class driver takes exactly one whole output report per write.
    if (bytes != sim::kReportSize) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool accepted =
        DemoBoard->WriteOutputReport(static_cast<const uint8_t*>(buffer), sim::kReportSize);
    TrimBoardLog();
    if (!accepted) {
        return Fail(ExchangeError());
    }
    if (written != nullptr) {
        *written = bytes;
    }
    if (device->overlapped) {
        LinkGuard guard;
        Complete(*device, PendingRead{overlapped, nullptr, GetCurrentThreadId()}, kStatusSuccess,
                 bytes);
    }
    return TRUE;
}

BOOL WINAPI DemoReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read,
                         LPOVERLAPPED overlapped) {
    const std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        return ReadFile(file, buffer, bytes, read, overlapped);
    }
    if ((device->access & GENERIC_READ) == 0) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // The monitor reads overlapped, as HID wants it; a synchronous read of the board is not
    // something the program does, so the demo does not offer it.
    if (!device->overlapped || overlapped == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (buffer == nullptr || bytes < sim::kInputReportSize) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (read != nullptr) {
        *read = 0;
    }
    // Starting an I/O clears its event (or, without one, the handle), as the I/O manager does.
    if (!ResetEvent(overlapped->hEvent != nullptr ? overlapped->hEvent : device->handle)) {
        return FALSE;
    }
    LinkGuard guard;
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    device->reads.push_back(
        PendingRead{overlapped, static_cast<uint8_t*>(buffer), GetCurrentThreadId()});
    ServeReads(*device);
    if (overlapped->Internal == kStatusPending) {
        return Fail(ERROR_IO_PENDING);
    }
    if (overlapped->Internal != kStatusSuccess) {
        return Fail(ErrorOfStatus(overlapped->Internal));
    }
    if (read != nullptr) {
        *read = static_cast<DWORD>(overlapped->InternalHigh);
    }
    return TRUE;
}

BOOL WINAPI DemoGetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                    BOOL wait) {
    const std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        return GetOverlappedResult(file, overlapped, transferred, wait);
    }
    if (overlapped == nullptr || transferred == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    ULONG_PTR status = kStatusPending;
    {
        LinkGuard guard;
        status = overlapped->Internal;
    }
    if (status == kStatusPending) {
        if (!wait) {
            return Fail(ERROR_IO_INCOMPLETE);
        }
        HANDLE event = overlapped->hEvent != nullptr ? overlapped->hEvent : device->handle;
        if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) {
            return FALSE;
        }
        LinkGuard guard;
        status = overlapped->Internal;
    }
    // The event was set by someone else while the read still runs.
    if (status == kStatusPending) {
        return Fail(ERROR_IO_INCOMPLETE);
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    return status == kStatusSuccess ? TRUE : Fail(ErrorOfStatus(status));
}

BOOL WINAPI DemoCancelIo(HANDLE file) {
    const std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        return CancelIo(file);
    }
    const DWORD self = GetCurrentThreadId();
    LinkGuard guard;
    CancelReads(device, [self](const PendingRead& read) { return read.issuer == self; });
    return TRUE;
}

BOOL WINAPI DemoCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    const std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        return CancelIoEx(file, overlapped);
    }
    LinkGuard guard;
    // No record: every read of the handle, whichever thread started it.
    const bool found = CancelReads(device, [overlapped](const PendingRead& read) {
        return overlapped == nullptr || read.overlapped == overlapped;
    });
    return found ? TRUE : Fail(ERROR_NOT_FOUND);
}

BOOL WINAPI DemoCloseHandle(HANDLE handle) {
    std::shared_ptr<DeviceFile> device;
    {
        LinkGuard guard;
        for (auto it = DeviceFiles.begin(); it != DeviceFiles.end(); ++it) {
            if ((*it)->handle == handle) {
                device = *it;
                DeviceFiles.erase(it);
                break;
            }
        }
        if (device) {
            // The close cancels the reads still pending on the handle; they complete shortly
            // after, writing their records.
            CancelReads(device, [](const PendingRead&) { return true; });
        }
    }
    return CloseHandle(handle);
}
