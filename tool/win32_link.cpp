// The real board on Windows: HID interfaces found through SetupAPI, HID.DLL loaded by name at run
// time (so that kelmtool.exe starts, and says so, where it is missing), reports through the
// device handle. The binding and the walk over the interfaces are the window's own; the
// overlapped transfers with their time limits are kelmtool's.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hardware_link.h"
#include "src/device/hid_binding.h"
#include "system_error_win32.h"

namespace {

// An output report the board does not take within this long means the link is gone: kelmtool
// never waits for ever.
constexpr DWORD kWriteTimeoutMs = 5000;
// USB string descriptors hold at most 126 UTF-16 characters.
constexpr ULONG kSerialChars = 127;
// A read is given room for the longest report the board sends; Windows hands over one report.
constexpr DWORD kReadBufferSize = kReportSize;

// "vendor 0xVVVV, product 0xPPPP" and its terminator.
constexpr size_t kIdentityTextSize = 32;

using HidGetSerialFn = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);

void Close(HANDLE handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) {
        // Nothing more can be done: the handle is given up either way.
    }
}

// A kernel handle closed when it goes out of scope.
class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ScopedHandle() { Close(handle_); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

  private:
    HANDLE handle_;
};

// The shared HID binding, released with the object, and the serial-number entry kelmtool adds.
class HidLibrary {
  public:
    HidLibrary() = default;
    ~HidLibrary() { ReleaseHid(binding); }
    HidLibrary(const HidLibrary&) = delete;
    HidLibrary& operator=(const HidLibrary&) = delete;

    // Empty when bound; otherwise what is missing.
    std::string Bind() {
        switch (BindHid(binding)) {
            case HidBindResult::Bound:
                break;
            case HidBindResult::NotLoaded:
                return "cannot load HID.DLL: " + SystemMessage(GetLastError());
            case HidBindResult::EntryMissing:
            default:
                return "HID.DLL lacks one of HidD_GetHidGuid, HidD_GetAttributes, "
                       "HidD_SetFeature and HidD_GetFeature";
        }
        // Optional: a board is listed without a serial number where this is missing.
        getSerial = LookUpHidEntry<HidGetSerialFn>(binding, "HidD_GetSerialNumberString");
        return {};
    }

    HidBinding binding;
    HidGetSerialFn getSerial = nullptr;
};

HANDLE OpenForReports(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

std::string NotBoardText(const std::string& path) {
    char identity[kIdentityTextSize];
    const int length = std::snprintf(identity, sizeof identity, "vendor 0x%04X, product 0x%04X",
                                     kBoardVendorId, kBoardProductId);
    return path + " is not a kelm board (" + std::string(identity, length > 0 ? length : 0) + ")";
}

std::string OpenProblem(const std::string& path, DWORD error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        return "cannot open " + path + ": access denied (another program may hold the board)";
    }
    return "cannot open " + path + ": " + SystemMessage(error);
}

std::string SerialOf(const HidLibrary& hid, HANDLE device) {
    std::string serial;
    wchar_t text[kSerialChars] = {};
    if (hid.getSerial == nullptr || !hid.getSerial(device, text, sizeof text - sizeof text[0])) {
        return serial;
    }
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        serial += *c < 128 ? static_cast<char>(*c) : '?';
    }
    return serial;
}

// One HID interface looked at: whether it is the board, and if so whether it opens.
void ExamineInterface(const HidLibrary& hid, const std::string& path,
                      std::vector<BoardListing>& boards) {
    // No access asked: attributes and serial can be read even from a device another program
    // holds, so that a board that cannot be opened is still listed.
    ScopedHandle query(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!query.valid() || !IsKelmBoard(hid.binding, query.get())) return;
    BoardListing listing;
    listing.path = path;
    listing.serial = SerialOf(hid, query.get());
    ScopedHandle device(OpenForReports(path));
    listing.openable = device.valid();
    if (!listing.openable) listing.problem = OpenProblem(path, GetLastError());
    boards.push_back(listing);
}

enum class Transfer { Done, Timeout, Failed };

class Win32Link : public BoardLink {
  public:
    Win32Link() = default;
    ~Win32Link() override {
        // The device first: no transfer is pending once a call has returned, so nothing uses
        // the event or the library any more.
        Close(device_);
        Close(event_);
    }

    Outcome Open(const std::string& path) {
        const std::string missing = hid_.Bind();
        if (!missing.empty()) return Outcome::Fail(ExitCode::NoBoard, missing);
        ScopedHandle device(OpenForReports(path));
        if (!device.valid()) {
            return Outcome::Fail(ExitCode::NoBoard, OpenProblem(path, GetLastError()));
        }
        if (!IsKelmBoard(hid_.binding, device.get())) {
            return Outcome::Fail(ExitCode::NoBoard, NotBoardText(path));
        }
        // Manual reset, as overlapped transfers need; reset before each transfer.
        ScopedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!event.valid()) {
            return Outcome::Fail(ExitCode::NoBoard,
                                 "cannot create an event: " + SystemMessage(GetLastError()));
        }
        device_ = device.release();
        event_ = event.release();
        return {};
    }

    bool WriteReport(const uint8_t* report) override {
        uint8_t buffer[kReportSize];
        std::memcpy(buffer, report, kReportSize);
        DWORD done = 0;
        return Run(true, buffer, kReportSize, kWriteTimeoutMs, done) == Transfer::Done &&
               done == kReportSize;
    }

    bool GetFeature(uint8_t* report) override {
        // HidD_GetFeature takes the report ID in byte 0 and returns it there.
        report[kReportIdByte] = 0;
        return hid_.binding.getFeature(device_, report, static_cast<ULONG>(kReportSize)) != FALSE;
    }

    InputRead ReadInput(uint8_t* report, int timeoutMs) override {
        uint8_t buffer[kReadBufferSize] = {};
        DWORD done = 0;
        // A negative timeout would turn into a wait of some 49 days.
        const DWORD limit = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
        switch (Run(false, buffer, kReadBufferSize, limit, done)) {
            case Transfer::Done:
                break;
            case Transfer::Timeout:
                return InputRead::Timeout;
            case Transfer::Failed:
            default:
                return InputRead::Failed;
        }
        if (done == 0) return InputRead::Failed;
        // Windows puts the report ID in byte 0 as the link's callers expect; a short report is
        // padded with zeros.
        std::memset(report, 0, kInputReportSize);
        std::memcpy(report, buffer, std::min<size_t>(done, kInputReportSize));
        return InputRead::Report;
    }

  private:
    // One overlapped transfer, waited for up to timeoutMs. On a timeout it is cancelled and its
    // end awaited, so that the OVERLAPPED record and the buffer are never in use after return.
    Transfer Run(bool write, uint8_t* buffer, DWORD length, DWORD timeoutMs, DWORD& done) {
        done = 0;
        if (!ResetEvent(event_)) return Transfer::Failed;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event_;
        const BOOL started = write ? WriteFile(device_, buffer, length, nullptr, &overlapped)
                                   : ReadFile(device_, buffer, length, nullptr, &overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING) return Transfer::Failed;
        const DWORD waited = WaitForSingleObject(event_, timeoutMs);
        if (waited == WAIT_OBJECT_0) {
            return GetOverlappedResult(device_, &overlapped, &done, FALSE) ? Transfer::Done
                                                                           : Transfer::Failed;
        }
        if (!CancelIoEx(device_, &overlapped) && GetLastError() != ERROR_NOT_FOUND) {
            // Still waited for below: the record must outlive the transfer.
        }
        // A transfer that completed while being cancelled still counts.
        if (GetOverlappedResult(device_, &overlapped, &done, TRUE)) return Transfer::Done;
        return waited == WAIT_TIMEOUT ? Transfer::Timeout : Transfer::Failed;
    }

    HidLibrary hid_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
};

}  // namespace

std::vector<BoardListing> ListHardwareBoards() {
    std::vector<BoardListing> boards;
    HidLibrary hid;
    // Without HID.DLL there is nothing to list; opening a board says why.
    if (!hid.Bind().empty()) return boards;
    const HidWalk walk = WalkHidInterfaces(hid.binding, [&](const char* path, size_t length) {
        ExamineInterface(hid, std::string(path, length), boards);
        return false;
    });
    static_cast<void>(walk);  // an unavailable set lists no board, as an empty one does
    return boards;
}

Outcome OpenHardwareBoard(const std::string& path, std::unique_ptr<BoardLink>& link) {
    auto board = std::make_unique<Win32Link>();
    KELM_TRY(board->Open(path));
    link = std::move(board);
    return {};
}
