// The kernel half of the stand-in: the handle table and what its files share.
//
// One mutex (KernelMutex) guards the handle table, the state of events and threads, device files
// and their pending reads, the HID interfaces, the device information sets and HID.DLL. Waits
// sleep on one condition variable (KernelChanged) that is notified whenever an object may have
// become signalled or an I/O may have completed. The mutex is never held while calling into a
// board: a board calls back (its input listener) from the thread that queued a report or
// unplugged it.
#pragma once

#include <windows.h>

#include <hidsdi.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/board.h"
#include "win32/standin.h"

namespace standin {
namespace detail {

std::mutex& KernelMutex();
std::condition_variable& KernelChanged();

enum class ObjectKind { Event, Thread, Device, DeviceInfoSet };

struct KernelObject {
    explicit KernelObject(ObjectKind objectKind) : kind(objectKind) {}
    virtual ~KernelObject() = default;
    // Called with KernelMutex held when the handle is closed.
    virtual void OnClose() {}
    // Called with KernelMutex held when Reset forgets the handle without closing it.
    virtual void OnForget() {}

    const ObjectKind kind;
};

struct EventObject : KernelObject {
    EventObject(bool manual, bool initial)
        : KernelObject(ObjectKind::Event), manualReset(manual), signalled(initial) {}
    const bool manualReset;
    bool signalled;
};

struct ThreadObject : KernelObject {
    ThreadObject() : KernelObject(ObjectKind::Thread) {}
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
};

// NTSTATUS values that an OVERLAPPED record's Internal field carries.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;

// A read waiting for an input report.
struct PendingRead {
    LPOVERLAPPED overlapped;             // the caller's record (an internal one when synchronous)
    uint8_t* buffer;                     // at least sim::kInputReportSize bytes
    std::shared_ptr<EventObject> event;  // the record's event when the read was started, or none
    std::thread::id issuer;              // CancelIo cancels only the calling thread's reads, and
                                         // a thread that ends has its own reads cancelled
    bool issuerIsStandin;                // started on a thread of CreateThread
};

// An open handle to a HID interface.
struct DeviceFile : KernelObject, std::enable_shared_from_this<DeviceFile> {
    DeviceFile() : KernelObject(ObjectKind::Device) {}
    void OnClose() override;
    void OnForget() override;

    HidInterface hid;  // as it was when opened
    DWORD access = 0;
    DWORD share = 0;
    bool overlapped = false;
    bool closed = false;     // the handle is closed or forgotten: no new report reaches it
    bool forgotten = false;  // Reset dropped it: its reads are never completed
    bool gone = false;       // the board went away while open: this handle never works again
    std::deque<PendingRead> reads;
    // Reports taken from the board for a read that was cancelled before it could have them.
    std::deque<std::array<uint8_t, sim::kInputReportSize>> taken;
    bool pumping = false;  // a thread is moving reports from the board to the pending reads
    bool kick = false;     // something changed while it was: it goes round once more
};

// --- the handle table (kernel.cpp); KernelMutex held for all of these
HANDLE AddObject(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindObject(HANDLE handle);
template <class T>
std::shared_ptr<T> FindObjectOf(HANDLE handle, ObjectKind kind) {
    std::shared_ptr<KernelObject> object = FindObject(handle);
    if (!object || object->kind != kind) {
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}
bool RemoveObject(HANDLE handle);
std::vector<std::shared_ptr<KernelObject>> AllObjects();

// Sets an event and wakes the waiters (KernelMutex held).
void SignalEvent(EventObject& event);

// --- clock (clock.cpp); takes its own lock, may be called with KernelMutex held
double WaitScale();
void ResetClock();

// --- HID interfaces (setupapi.cpp); KernelMutex held
std::vector<HidInterface> InterfacesLocked();
void ResetInterfacesLocked();

// --- device files (device_files.cpp)
// The board's input listener: completes pending reads, or fails them when the board has gone.
// Called without KernelMutex.
void OnBoardInput(sim::Board* board);
void ResetDeviceFilesLocked();
// Called by a thread of CreateThread when its routine has returned, without KernelMutex: its
// reads still pending are cancelled, and it waits until each cancelled read has completed, as
// a thread that exits on Windows does.
void EndThreadIo();
// A wait on this object is a wait for the cancelled reads that will set it: they complete at
// once (KernelMutex held).
void HurryReadsSetting(const KernelObject& object);

// --- threads (waits_threads.cpp); any thread
bool OnStandinThread();  // the calling thread was started by CreateThread
// The device calls behind HID.DLL's entry points. Called without KernelMutex.
BOOLEAN DeviceGetFeature(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN DeviceGetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);

// --- HID.DLL (hid_library.cpp)
void ResetHidLibraryLocked();  // KernelMutex held
const GUID& HidClassGuid();    // {4D1E55B2-F16F-11CF-88CB-001111000030}

// --- waits (waits_threads.cpp); KernelMutex held
void ResetWaitsLocked();

}  // namespace detail
}  // namespace standin
