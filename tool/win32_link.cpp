// The real board on Windows: HID interfaces found through SetupAPI, HID.DLL loaded by name at run
// time (so that kelmtool.exe starts, and says so, where it is missing), reports through the
// device handle. Nothing here is shared with the window's device code but the report layout.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "hardware_link.h"

namespace {

constexpr USHORT kVendorId = 0x03EB;
constexpr USHORT kProductId = 0x0001;
constexpr char kHidLibraryName[] = "HID.DLL";
// An output report the board does not take within this long means the link is gone: kelmtool
// never waits for ever.
constexpr DWORD kWriteTimeoutMs = 5000;
// USB string descriptors hold at most 126 UTF-16 characters.
constexpr ULONG kSerialChars = 127;
// A read is given room for the longest report the board sends; Windows hands over one report.
constexpr DWORD kReadBufferSize = kReportSize;

using HidGetHidGuidFn = void(__stdcall*)(LPGUID);
using HidGetAttributesFn = BOOLEAN(__stdcall*)(HANDLE, PHIDD_ATTRIBUTES);
using HidGetFeatureFn = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);
using HidGetSerialFn = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message.assign(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
    }
    if (text != nullptr && LocalFree(text) != nullptr) {
        // The buffer stays allocated; a few bytes for the rest of a short run.
    }
    if (message.empty()) message = "system error " + std::to_string(error);
    return message;
}

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

// HID.DLL and the four entries kelmtool uses, bound by name and released with the object.
class HidLibrary {
  public:
    HidLibrary() = default;
    ~HidLibrary() {
        if (module_ != nullptr && !FreeLibrary(module_)) {
            // The module stays mapped until the process ends.
        }
    }
    HidLibrary(const HidLibrary&) = delete;
    HidLibrary& operator=(const HidLibrary&) = delete;

    // Empty when bound; otherwise what is missing.
    std::string Bind() {
        module_ = LoadLibraryA(kHidLibraryName);
        if (module_ == nullptr) {
            return std::string("cannot load ") + kHidLibraryName + ": " +
                   SystemMessage(GetLastError());
        }
        getHidGuid = LookUp<HidGetHidGuidFn>("HidD_GetHidGuid");
        getAttributes = LookUp<HidGetAttributesFn>("HidD_GetAttributes");
        getFeature = LookUp<HidGetFeatureFn>("HidD_GetFeature");
        // Optional: a board is listed without a serial number where this is missing.
        getSerial = LookUp<HidGetSerialFn>("HidD_GetSerialNumberString");
        if (getHidGuid == nullptr || getAttributes == nullptr || getFeature == nullptr) {
            return std::string(kHidLibraryName) +
                   " lacks HidD_GetHidGuid, HidD_GetAttributes or "
                   "HidD_GetFeature";
        }
        return {};
    }

    HidGetHidGuidFn getHidGuid = nullptr;
    HidGetAttributesFn getAttributes = nullptr;
    HidGetFeatureFn getFeature = nullptr;
    HidGetSerialFn getSerial = nullptr;

  private:
    // Goes through void(*)() so that the conversion from FARPROC draws no cast-function-type
    // warning.
    template <typename Fn>
    Fn LookUp(const char* name) {
        const FARPROC entry = GetProcAddress(module_, name);
        return entry == nullptr ? nullptr
                                : reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(entry));
    }

    HMODULE module_ = nullptr;
};

HANDLE OpenForReports(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

std::string OpenProblem(const std::string& path, DWORD error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        return "cannot open " + path + ": access denied (another program may hold the board)";
    }
    return "cannot open " + path + ": " + SystemMessage(error);
}

bool IsBoard(const HidLibrary& hid, HANDLE device) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    return hid.getAttributes(device, &attributes) && attributes.VendorID == kVendorId &&
           attributes.ProductID == kProductId;
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

// The device path of one interface of the set; empty when it cannot be had.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) {
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return {};
    }
    // The record's declared type is larger than the size asked for when the path is very short.
    const size_t size = std::max<size_t>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    std::vector<unsigned char> storage(size + sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, static_cast<DWORD>(size),
                                          nullptr, nullptr)) {
        return {};
    }
    const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const void* end = std::memchr(detail->DevicePath, '\0', room);
    if (end == nullptr) return {};
    return std::string(detail->DevicePath,
                       static_cast<size_t>(static_cast<const char*>(end) - detail->DevicePath));
}

// One HID interface looked at: whether it is the board, and if so whether it opens.
void ExamineInterface(const HidLibrary& hid, const std::string& path,
                      std::vector<BoardListing>& boards) {
    // No access asked: attributes and serial can be read even from a device another program
    // holds, so that a board that cannot be opened is still listed.
    ScopedHandle query(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!query.valid() || !IsBoard(hid, query.get())) return;
    BoardListing listing;
    listing.path = path;
    listing.serial = SerialOf(hid, query.get());
    ScopedHandle device(OpenForReports(path));
    listing.openable = device.valid();
    if (!listing.openable) listing.problem = OpenProblem(path, GetLastError());
    boards.push_back(listing);
}

// Releases the device information set when it goes out of scope.
class DeviceSet {
  public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (set_ != INVALID_HANDLE_VALUE && !SetupDiDestroyDeviceInfoList(set_)) {
            // The list goes with the process at the latest.
        }
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

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
        if (!IsBoard(hid_, device.get())) {
            return Outcome::Fail(ExitCode::NoBoard,
                                 path + " is not a kelm board (vendor 0x03EB, product 0x0001)");
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
        return hid_.getFeature(device_, report, static_cast<ULONG>(kReportSize)) != FALSE;
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
    GUID hidClass = {};
    hid.getHidGuid(&hidClass);
    DeviceSet set(
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (set.get() == INVALID_HANDLE_VALUE) return boards;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &interfaceData)) {
            break;  // ERROR_NO_MORE_ITEMS, or a list that cannot be read further
        }
        const std::string path = InterfacePath(set.get(), interfaceData);
        if (!path.empty()) ExamineInterface(hid, path, boards);
    }
    return boards;
}

Outcome OpenHardwareBoard(const std::string& path, std::unique_ptr<BoardLink>& link) {
    auto board = std::make_unique<Win32Link>();
    KELM_TRY(board->Open(path));
    link = std::move(board);
    return {};
}
