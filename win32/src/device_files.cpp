// Device files: handles to HID interfaces, and the report traffic on them, routed to the
// interface's board as the HID class driver routes it to the device.
//
// Output reports go out synchronously. Input reports are read as the HID class driver reads
// them: a read completes at once when the board has a report queued, otherwise it stays pending
// until the board's input listener says a report came (or the board went away). A pending read
// that is cancelled, or whose handle is closed, ends as on Windows: a little later and from
// another thread, with STATUS_CANCELLED written into its OVERLAPPED record and its event set.
// Its buffer is not written. A caller that frees the record before that has happened finds its
// memory written after the free; a thread that ends with such a read still owed a completion
// waits for it, as an exiting thread waits for its cancelled I/O, and is counted
// (ReadsOutlivingTheirThread).
#include <windows.h>

#include <hidsdi.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>

#include "win32/src/kernel_objects.h"

namespace standin {
namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

// How long a cancelled read of a thread not of CreateThread waits for its completion when
// nobody waits for it: long enough for a caller that frees its record right after the close to
// have done so. One of a thread of CreateThread waits until someone waits for it or its thread
// ends, so that a thread that leaves it behind is always caught.
constexpr auto kCancelDelay = std::chrono::milliseconds(2);

// A read that was cancelled, by CancelIo(Ex) or by the close of its handle, and has not been
// completed yet.
struct CancelledRead {
    PendingRead read;
    std::shared_ptr<DeviceFile> device;
    Clock::time_point due;
    bool hurried = false;  // its issuer waits for it, or has ended: completed at once
};

struct DeviceRegistry {
    std::vector<OpenRecord> opens;  // every CreateFileA on an interface path
    std::deque<CancelledRead> cancelled;
    bool completerRunning = false;  // the completer thread lives for the rest of the process
    int readsOutlivingThreads = 0;
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

// The completer thread: completes cancelled reads once they are due or hurried.
void CompleteCancelledReads() {
    std::unique_lock<std::mutex> lock(KernelMutex());
    for (;;) {
        std::deque<CancelledRead>& cancelled = Devices().cancelled;
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        for (auto it = cancelled.begin(); it != cancelled.end();) {
            if (it->hurried || (it->due != Clock::time_point::max() && it->due <= now)) {
                Complete(it->read, kStatusCancelled, 0);
                it = cancelled.erase(it);
            } else {
                next = std::min(next, it->due);
                ++it;
            }
        }
        if (next == Clock::time_point::max()) {
            KernelChanged().wait(lock);
        } else {
            KernelChanged().wait_until(lock, next);
        }
    }
}

// Hands a cancelled read to the completer thread.
void CancelRead(const std::shared_ptr<DeviceFile>& device, const PendingRead& read) {
    DeviceRegistry& devices = Devices();
    if (!devices.completerRunning) {
        try {
            std::thread(CompleteCancelledReads).detach();
            devices.completerRunning = true;
        } catch (const std::system_error&) {
            // No thread to complete it later: it completes now, which no caller can tell from
            // a completion that came quickly.
            Complete(read, kStatusCancelled, 0);
            return;
        }
    }
    const Clock::time_point due =
        read.issuerIsStandin ? Clock::time_point::max() : Clock::now() + kCancelDelay;
    devices.cancelled.push_back(CancelledRead{read, device, due, false});
    KernelChanged().notify_all();
}

// Cancels the device's pending reads that `picked` chooses. Returns whether any read of the
// device that it chooses had not completed yet, including reads cancelled before.
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
    for (const CancelledRead& cancelled : Devices().cancelled) {
        found = found || (cancelled.device == device && picked(cancelled.read));
    }
    return found;
}

// Waits until the record's read has completed; false when Reset forgot the device first. A
// cancelled read that someone waits for is completed at once.
bool AwaitCompletion(std::unique_lock<std::mutex>& lock, const std::shared_ptr<DeviceFile>& device,
                     const OVERLAPPED& record) {
    while (record.Internal == kStatusPending) {
        if (device->forgotten) {
            return false;
        }
        for (CancelledRead& cancelled : Devices().cancelled) {
            if (cancelled.read.overlapped == &record && !cancelled.hurried) {
                cancelled.hurried = true;
                KernelChanged().notify_all();
            }
        }
        KernelChanged().wait(lock);
    }
    return true;
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
    // The close cancels the reads still pending on the handle; they complete a little later.
    const std::shared_ptr<DeviceFile> self = shared_from_this();
    for (const PendingRead& read : reads) {
        CancelRead(self, read);
    }
    reads.clear();
    taken.clear();
    KernelChanged().notify_all();
}

void DeviceFile::OnForget() {
    closed = true;
    forgotten = true;
    reads.clear();
    taken.clear();
    KernelChanged().notify_all();
}

void HurryReadsSetting(const KernelObject& object) {
    for (CancelledRead& cancelled : Devices().cancelled) {
        if (cancelled.read.event.get() == &object && !cancelled.hurried) {
            cancelled.hurried = true;
            KernelChanged().notify_all();
        }
    }
}

void EndThreadIo() {
    std::unique_lock<std::mutex> lock(KernelMutex());
    const std::thread::id self = std::this_thread::get_id();
    auto mine = [self](const PendingRead& read) { return read.issuer == self; };
    for (const auto& object : AllObjects()) {
        if (object->kind == ObjectKind::Device) {
            CancelReads(std::static_pointer_cast<DeviceFile>(object), mine);
        }
    }
    DeviceRegistry& devices = Devices();
    int owed = 0;
    for (CancelledRead& cancelled : devices.cancelled) {
        if (mine(cancelled.read)) {
            cancelled.hurried = true;
            ++owed;
        }
    }
    if (owed == 0) {
        return;
    }
    devices.readsOutlivingThreads += owed;
    KernelChanged().notify_all();
    KernelChanged().wait(lock, [&] {
        return std::none_of(devices.cancelled.begin(), devices.cancelled.end(),
                            [&](const CancelledRead& cancelled) { return mine(cancelled.read); });
    });
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

void ResetDeviceFilesLocked() {
    DeviceRegistry& devices = Devices();
    devices.opens.clear();
    // Whatever their callers kept for them may be gone with the test that started them.
    for (const CancelledRead& cancelled : devices.cancelled) {
        cancelled.device->forgotten = true;
    }
    devices.cancelled.clear();
    devices.readsOutlivingThreads = 0;
    KernelChanged().notify_all();
}

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

int ReadsOutlivingTheirThread() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Devices().readsOutlivingThreads;
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
    device->reads.push_back(PendingRead{record, static_cast<uint8_t*>(buffer), event,
                                        std::this_thread::get_id(), OnStandinThread()});
    lock.unlock();
    Pump(device);
    lock.lock();

    // A synchronous read closed or cancelled by another thread ends as cancelled.
    if (!device->overlapped && !AwaitCompletion(lock, device, own)) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
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
    if (overlapped->Internal == kStatusPending && !wait) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    // A close by another thread meanwhile cancels the read, which then completes as cancelled.
    if (!AwaitCompletion(lock, device, *overlapped)) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
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
    CancelReads(device, [self](const PendingRead& read) { return read.issuer == self; });
    return TRUE;
}

BOOL WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<DeviceFile> device = FindDevice(file);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // No record: every read of the handle, whichever thread started it.
    const bool found = CancelReads(device, [overlapped](const PendingRead& read) {
        return overlapped == nullptr || read.overlapped == overlapped;
    });
    if (!found) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
