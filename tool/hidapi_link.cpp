// The real board through hidapi (Linux's hidraw backend, macOS). hidraw needs no driver detach
// and shares the board with Wine.
#include <hidapi/hidapi.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "core/flash_layout.h"
#include "hardware_link.h"

namespace {

constexpr size_t kInputPayload = kInputReportSize - 1;  // hidapi hands over no report ID
// The udev rule where `cmake --install` puts it beside kelmtool, where the .deb puts it, and in
// the source tree.
constexpr char kInstalledRule[] = "../share/kelmtool/60-kelm.rules";
constexpr char kPackagedRule[] = "/usr/lib/udev/rules.d/60-kelm.rules";
constexpr char kSourceRule[] = "packaging/60-kelm.rules";
constexpr char kRunningProgram[] = "/proc/self/exe";

// What to do about a permission refused: install the rule that came with this kelmtool, or,
// where the package installed it already, plug the board in again so that it applies.
std::string UdevHint() {
    std::error_code error;
    if (std::filesystem::exists(kPackagedRule, error)) {
        return std::string(" (permission denied: the udev rule ") + kPackagedRule +
               " is installed; unplug the board and plug it in again)";
    }
    const std::filesystem::path program = std::filesystem::read_symlink(kRunningProgram, error);
    std::string rule = kSourceRule;
    if (!error) {
        const std::filesystem::path installed =
            (program.parent_path() / kInstalledRule).lexically_normal();
        if (std::filesystem::exists(installed, error)) rule = installed.string();
    }
    return " (permission denied: install the udev rule: sudo cp " + rule +
           " /etc/udev/rules.d/ && sudo udevadm control --reload-rules, then plug the board in "
           "again)";
}

// hidapi keeps library-wide state (its start, its last error) that hid_init, hid_exit,
// hid_enumerate and hid_open_path change without a lock of their own; with --all each board's
// thread opens and closes its board, so these calls take turns. The lock has to be as global as
// the state it guards.
std::mutex& LibraryLock() {
    static std::mutex lock;
    return lock;
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (; *text != L'\0'; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

// Why a listed board cannot be opened, in the words of the device file itself.
std::string OpenProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd >= 0) {
        static_cast<void>(::close(fd));
        return "it cannot be opened";
    }
    if (errno == EACCES || errno == EPERM) return "cannot open " + path + UdevHint();
    return std::string("cannot open ") + path + ": " + std::strerror(errno);
}

class HidapiLink : public BoardLink {
  public:
    explicit HidapiLink(hid_device* device) : device_(device) {}
    ~HidapiLink() override {
        const std::lock_guard<std::mutex> held(LibraryLock());
        hid_close(device_);
        static_cast<void>(hid_exit());
    }

    bool WriteReport(const uint8_t* report) override {
        // hid_write takes the report ID in byte 0, as the board's 65-byte reports have it.
        return hid_write(device_, report, kReportSize) == static_cast<int>(kReportSize);
    }
    bool GetFeature(uint8_t* report) override {
        report[kReportIdByte] = 0;
        // The count includes the report ID byte.
        return hid_get_feature_report(device_, report, kReportSize) ==
               static_cast<int>(kReportSize);
    }
    InputRead ReadInput(uint8_t* report, int timeoutMs) override {
        // The board numbers no reports, so hidapi returns the 8 bytes without an ID in front.
        report[kReportIdByte] = 0;
        const int got = hid_read_timeout(device_, report + 1, kInputPayload, timeoutMs);
        if (got < 0) return InputRead::Failed;
        if (got == 0) return InputRead::Timeout;
        if (static_cast<size_t>(got) < kInputPayload) {
            std::memset(report + 1 + got, 0, kInputPayload - static_cast<size_t>(got));
        }
        return InputRead::Report;
    }

  private:
    hid_device* device_;
};

}  // namespace

std::vector<BoardListing> ListHardwareBoards() {
    const std::lock_guard<std::mutex> held(LibraryLock());
    std::vector<BoardListing> boards;
    if (hid_init() != 0) return boards;
    hid_device_info* devices = hid_enumerate(kBoardVendorId, kBoardProductId);
    for (hid_device_info* device = devices; device != nullptr; device = device->next) {
        BoardListing listing;
        listing.path = device->path != nullptr ? device->path : "";
        listing.serial = Narrow(device->serial_number);
        hid_device* opened = hid_open_path(device->path);
        listing.openable = opened != nullptr;
        if (opened != nullptr) {
            hid_close(opened);
        } else {
            listing.problem = OpenProblem(listing.path);
        }
        boards.push_back(listing);
    }
    hid_free_enumeration(devices);
    static_cast<void>(hid_exit());
    return boards;
}

Outcome OpenHardwareBoard(const std::string& path, std::unique_ptr<BoardLink>& link) {
    const std::lock_guard<std::mutex> held(LibraryLock());
    if (hid_init() != 0) return Outcome::Fail(ExitCode::NoBoard, "hidapi could not start");
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
        static_cast<void>(hid_exit());
        return Outcome::Fail(ExitCode::NoBoard, OpenProblem(path));
    }
    link = std::make_unique<HidapiLink>(device);
    return {};
}
