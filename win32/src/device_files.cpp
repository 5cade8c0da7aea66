// Device files: handles to HID interfaces, and the report traffic on them, routed to the
// interface's board as the HID class driver routes it to the device.
//
// Output reports go out synchronously. Input reports are read as the HID class driver reads
// them: a read completes at once when the board has a report queued, otherwise it stays pending
// until the board's input listener says a report came (or the board went away). A pending read
// lives in its handle; closing the handle drops it without touching the caller's buffer or
// OVERLAPPED record again, so that a caller may free both right after CloseHandle.
#include <windows.h>

#include <hidsdi.h>

#include <cstring>
#include <optional>

#include "win32/src/kernel_objects.h"

namespace standin {
namespace detail {

namespace {

struct DeviceRegistry {
    std::vector<OpenRecord> opens;  // every CreateFileA on an interface path
};

// Written by any thread, under KernelMutex.
DeviceRegistry& Devices() {
    static DeviceRegistry* devices = new DeviceRegistry();
    return *devices;
}

// What the board's USB descriptor would carry; the program does not look at it.
constexpr USHORT kVersionNumber = 0x0100;

using InputReport = std::array<uint8_t, sim::kInputReportSize>;

DWORD ErrorOf(ULONG_PTR status) {
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

std::shared_ptr<DeviceFile> FindDevice(HANDLE handle) {
    return FindObjectOf<DeviceFile>(handle, ObjectKind::Device);
}

// KernelMutex held for the rest of the helpers of this namespace.

void Complete(const PendingRead& read, ULONG_PTR status, DWORD bytes) {
    read.overlapped->Internal = status;
    read.overlapped->InternalHigh = bytes;
    if (read.event) {
        read.event->signalled = true;
    }
    KernelChanged().notify_all();
}

// Hands the reports already taken from the board to the reads waiting for them, oldest first.
void DeliverTaken(DeviceFile& device) {
    while (!device.reads.empty() && !device.taken.empty()) {
        const PendingRead read = device.reads.front();
        device.reads.pop_front();
        std::memcpy(read.buffer, device.taken.front().data(), sim::kInputReportSize);
        device.taken.pop_front();
        Complete(read, kStatusSuccess, sim::kInputReportSize);
    }
}

void FailReads(DeviceFile& device, ULONG_PTR status) {
    for (const PendingRead& read : device.reads) {
        Complete(read, status, 0);
    }
    device.reads.clear();
}

// A new open conflicts with an open handle when either one's share mode leaves out access that
// the other one has. Opens without read or write access (to query attributes) never conflict.
bool SharingConflict(const std::string& path, DWORD access, DWORD share) {
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    if ((access & readWrite) == 0) {
        return false;
    }
    for (const auto& object : AllObjects()) {
        if (object->kind != ObjectKind::Device) {
            continue;
        }
        const DeviceFile& open = static_cast<const DeviceFile&>(*object);
        if (open.closed || open.hid.path != path || (open.access & readWrite) == 0) {
            continue;
        }
        if (((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) ||
            ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) ||
            ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
            ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE))) {
            return true;
        }
    }
    return false;
}

// Moves input reports from the board to the device's pending reads until either runs out.
// KernelMutex NOT held: the board is called without it. One thread pumps a device at a time; a
// call while another thread pumps makes that one go round again, so that no report and no
// unplug that comes meanwhile is missed.
void Pump(const std::shared_ptr<DeviceFile>& device) {
    std::unique_lock<std::mutex> lock(KernelMutex());
    device->kick = true;
    if (device->pumping) {
        return;
    }
    device->pumping = true;
    while (device->kick && !device->closed) {
        device->kick = false;
        DeliverTaken(*device);
        if (device->reads.empty() || device->hid.board == nullptr) {
            continue;
        }
        if (device->gone) {
            FailReads(*device, kStatusDeviceNotConnected);
            continue;
        }
        sim::Board* board = device->hid.board;
        lock.unlock();
        InputReport report{};
        const sim::InputResult result = board->TakeInputReport(report.data(), report.size());
        lock.lock();
        if (result == sim::InputResult::Report) {
            // The read it was meant for may have been cancelled meanwhile: the next one gets it.
            if (!device->closed) {
                device->taken.push_back(report);
            }
            device->kick = true;
        } else if (result == sim::InputResult::Gone) {
            device->gone = true;
            device->kick = true;
        }
    }
    device->pumping = false;
}

// The failure of a report exchange: the board gone, or it refused. Marks the handle dead when
// the board has gone; a board plugged in again is a new device that needs a new handle.
DWORD ExchangeFailure(const std::shared_ptr<DeviceFile>& device, bool present) {
    if (!present) {
        device->gone = true;
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    return ERROR_GEN_FAILURE;
}

}  // namespace

void DeviceFile::OnClose() {
    closed = true;
    // The reads end with the handle; their events are set, as for any cancelled I/O, but the
    // caller's buffers and records are not written again.
    for (const PendingRead& read : reads) {
        if (read.event) {
            read.event->signalled = true;
        }
    }
    reads.clear();
    taken.clear();
    KernelChanged().notify_all();
}

void DeviceFile::OnForget() {
    closed = true;
    reads.clear();
    taken.clear();
    KernelChanged().notify_all();
}

void OnBoardInput(sim::Board* board) {
    const bool present = board->IsPresent();
    std::vector<std::shared_ptr<DeviceFile>> waiting;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        for (const auto& object : AllObjects()) {
            if (object->kind != ObjectKind::Device) {
                continue;
            }
            auto device = std::static_pointer_cast<DeviceFile>(object);
            if (device->hid.board != board) {
                continue;
            }
            if (!present) {
                device->gone = true;
                FailReads(*device, kStatusDeviceNotConnected);
            } else if (!device->reads.empty()) {
                waiting.push_back(device);
            }
        }
    }
    for (const auto& device : waiting) {
        Pump(device);
    }
}

void ResetDeviceFilesLocked() { Devices() = DeviceRegistry(); }

BOOLEAN DeviceGetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    std::unique_lock<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The buffer must hold the report ID and the 64 bytes of the feature report.
    if (buffer == nullptr || length < sim::kReportSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (device->gone) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    sim::Board* board = device->hid.board;
    if (board == nullptr) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    lock.unlock();
    const bool answered = board->GetFeatureReport(static_cast<uint8_t*>(buffer), sim::kReportSize);
    const bool present = answered || board->IsPresent();
    lock.lock();
    if (!answered) {
        SetLastError(ExchangeFailure(device, present));
        return FALSE;
    }
    return TRUE;
}

BOOLEAN DeviceGetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    HidInterface hid;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        std::shared_ptr<DeviceFile> device = FindDevice(handle);
        if (!device) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (attributes == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (device->gone) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        hid = device->hid;
    }
    if (hid.board != nullptr && !hid.board->IsPresent()) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (hid.attributesFail) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = hid.vendorId;
    attributes->ProductID = hid.productId;
    attributes->VersionNumber = kVersionNumber;
    return TRUE;
}

}  // namespace detail

std::vector<OpenRecord> DeviceOpens() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Devices().opens;
}

}  // namespace standin

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE) {
    using namespace standin::detail;
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::optional<standin::HidInterface> hid;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        for (const standin::HidInterface& candidate : InterfacesLocked()) {
            if (candidate.path == path) {
                hid = candidate;
                break;
            }
        }
    }
    // Only HID interfaces exist as files here.
    if (!hid) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool present = hid->board == nullptr || hid->board->IsPresent();

    std::lock_guard<std::mutex> lock(KernelMutex());
    standin::OpenRecord record;
    record.path = path;
    record.access = access;
    record.share = share;
    record.disposition = disposition;
    record.flags = flags;
    DWORD error = ERROR_SUCCESS;
    if (hid->refusesOpen) {
        error = ERROR_ACCESS_DENIED;
    } else if (!present) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (SharingConflict(hid->path, access, share)) {
        error = ERROR_SHARING_VIOLATION;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (error == ERROR_SUCCESS) {
        auto device = std::make_shared<DeviceFile>();
        device->hid = *hid;
        device->access = access;
        device->share = share;
        device->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
        handle = AddObject(device);
        record.succeeded = true;
    }
    Devices().opens.push_back(record);
    SetLastError(error);
    return handle;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    using namespace standin::detail;
    std::unique_lock<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(device->access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // An overlapped handle needs a record; a synchronous one needs somewhere to put the count.
    if ((device->overlapped && overlapped == nullptr) ||
        (!device->overlapped && written == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<EventObject> event;
    if (device->overlapped && overlapped->hEvent != nullptr) {
        event = FindObjectOf<EventObject>(overlapped->hEvent, ObjectKind::Event);
        if (!event) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (written != nullptr) {
        *written = 0;
    }
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // The HID class driver takes output reports of exactly the report's length.
    if (bytes != sim::kReportSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (device->gone) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    sim::Board* board = device->hid.board;
    if (board == nullptr) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    lock.unlock();
    const bool accepted = board->WriteOutputReport(static_cast<const uint8_t*>(buffer), bytes);
    const bool present = accepted || board->IsPresent();
    lock.lock();
    if (!accepted) {
        SetLastError(ExchangeFailure(device, present));
        return FALSE;
    }
    if (device->overlapped) {
        // Completed at once; the record and its event say so as well.
        overlapped->Internal = kStatusSuccess;
        overlapped->InternalHigh = bytes;
        if (event) {
            SignalEvent(*event);
        }
    }
    if (written != nullptr) {
        *written = bytes;
    }
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    using namespace standin::detail;
    std::unique_lock<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(device->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((device->overlapped && overlapped == nullptr) || (!device->overlapped && read == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (buffer == nullptr || bytes < sim::kInputReportSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::shared_ptr<EventObject> event;
    if (device->overlapped && overlapped->hEvent != nullptr) {
        event = FindObjectOf<EventObject>(overlapped->hEvent, ObjectKind::Event);
        if (!event) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (read != nullptr) {
        *read = 0;
    }
    if (device->gone) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }

    // A synchronous read waits here for its own record.
    OVERLAPPED own{};
    LPOVERLAPPED record = device->overlapped ? overlapped : &own;
    record->Internal = kStatusPending;
    record->InternalHigh = 0;
    if (event) {
        // Starting an I/O clears its event, as the I/O manager does.
        event->signalled = false;
    }
    device->reads.push_back(
        PendingRead{record, static_cast<uint8_t*>(buffer), event, std::this_thread::get_id()});
    lock.unlock();
    Pump(device);
    lock.lock();

    if (!device->overlapped) {
        KernelChanged().wait(lock,
                             [&] { return own.Internal != kStatusPending || device->closed; });
        if (own.Internal == kStatusPending) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
    }
    if (record->Internal == kStatusPending) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (record->Internal != kStatusSuccess) {
        SetLastError(ErrorOf(record->Internal));
        return FALSE;
    }
    if (read != nullptr) {
        *read = static_cast<DWORD>(record->InternalHigh);
    }
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                BOOL wait) {
    using namespace standin::detail;
    std::unique_lock<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped == nullptr || transferred == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    while (overlapped->Internal == kStatusPending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        // Closed by another thread while waiting: the read was dropped with the handle.
        if (device->closed) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
        KernelChanged().wait(lock);
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != kStatusSuccess) {
        SetLastError(ErrorOf(overlapped->Internal));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CancelIo(HANDLE file) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::thread::id self = std::this_thread::get_id();
    std::deque<PendingRead> kept;
    for (const PendingRead& read : device->reads) {
        if (read.issuer == self) {
            Complete(read, kStatusCancelled, 0);
        } else {
            kept.push_back(read);
        }
    }
    device->reads.swap(kept);
    return TRUE;
}

}  // extern "C"
