// --sim FILE: the simulated board with its flash kept in a file.
#include "sim_link.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/board.h"
#include "sim/flash_file.h"

namespace {

#ifdef _WIN32
constexpr char kListSeparator = ';';
#else
constexpr char kListSeparator = ':';
#endif

using Milliseconds = std::chrono::duration<double, std::milli>;

std::vector<uint8_t> ErasedFlash() { return std::vector<uint8_t>(sim::kFlashSize, 0xFF); }

const FlashFileOwner kSimOwner = {"The simulated board's flash file", ErasedFlash,
                                  "\nIt was left as it is."};

class SimLink : public BoardLink {
  public:
    ~SimLink() override { CloseFlashFile(file_); }

    Outcome Open(const std::string& path) {
        std::vector<uint8_t> flash;
        std::string problem;
        switch (OpenFlashFile(path, kSimOwner, file_, flash, problem)) {
            case FlashFileOpen::Loaded:
            case FlashFileOpen::Created:
                break;
            case FlashFileOpen::WrongSize:
                return Outcome::Fail(ExitCode::BadInput, Flatten(problem));
            case FlashFileOpen::Failed:
            default:
                return Outcome::Fail(ExitCode::Failed, Flatten(problem));
        }
        board_.SetFlash(0, flash);
        // Nobody reads the history of a command-line run, and a restore would fill it with
        // thousands of entries.
        board_.SetHistoryKept(false);
        board_.SetFlashListener([this](size_t address, size_t length) { Keep(address, length); });
        // Like a board just plugged in, it greets with its two-line text (see `monitor`).
        board_.QueueSimGreeting();
        return ApplyEnvironment();
    }

    bool WriteReport(const uint8_t* report) override {
        SignalOnCue();
        return board_.WriteOutputReport(report, kReportSize);
    }
    bool GetFeature(uint8_t* report) override {
        SignalOnCue();
        return board_.GetFeatureReport(report, kReportSize);
    }
    InputRead ReadInput(uint8_t* report, int timeoutMs) override {
        switch (board_.TakeInputReport(report, kInputReportSize)) {
            case sim::InputResult::Report:
                return InputRead::Report;
            case sim::InputResult::Gone:
                return InputRead::Failed;
            case sim::InputResult::Empty:
            default:
                // Nothing queued: wait out the timeout as a real read would, so that a monitor
                // polling the simulated board does not spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
                return InputRead::Timeout;
        }
    }

  private:
    void SignalOnCue() {
        if (signal_ != 0 && exchanges_++ == signalAt_) static_cast<void>(std::raise(signal_));
    }

    static std::string Flatten(std::string text) {
        for (char& c : text) {
            if (c == '\n') c = ' ';
        }
        return text;
    }

    // The board calls this after every erase and every data report: the file never lags the
    // flash. A file that cannot be written makes the board go away, so the command fails.
    void Keep(size_t address, size_t length) {
        bool written = false;
        board_.ViewFlash([&](const uint8_t* flash, size_t) {
            written = WriteFlashRange(file_, address, flash + address, length);
        });
        if (!written) board_.Unplug();
    }

    Outcome ApplyEnvironment() {
        if (const char* faults = std::getenv(kSimFaultsVariable)) {
            std::stringstream list(faults);
            std::string item;
            while (std::getline(list, item, ',')) {
                const size_t at = item.find('@');
                if (at == std::string::npos) return BadVariable(kSimFaultsVariable, item);
                const std::string kind = item.substr(0, at);
                const uint64_t exchange = std::strtoull(item.c_str() + at + 1, nullptr, 10);
                if (kind == "unplug") {
                    board_.InjectFault(exchange, sim::Fault::Unplug);
                } else if (kind == "refuse") {
                    board_.InjectFault(exchange, sim::Fault::RefuseFeature);
                } else if (kind == "failwrite") {
                    board_.InjectFault(exchange, sim::Fault::FailWrite);
                } else {
                    return BadVariable(kSimFaultsVariable, item);
                }
            }
        }
        if (const char* polls = std::getenv(kSimEraseBusyVariable)) {
            board_.SetEraseBusyPolls(std::atoi(polls));
        }
        if (const char* held = std::getenv(kSimBusHeldVariable)) {
            board_.SetBusHeldByOther(std::string(held) == "1");
        }
        if (const char* cue = std::getenv(kSimSignalVariable)) {
            const std::string text = cue;
            const size_t at = text.find('@');
            if (at == std::string::npos) return BadVariable(kSimSignalVariable, text);
            signal_ = std::atoi(text.c_str());
            signalAt_ = std::strtoull(text.c_str() + at + 1, nullptr, 10);
        }
        if (const char* pace = std::getenv(kSimReportTimeVariable)) {
            const double milliseconds = std::strtod(pace, nullptr);
            if (!(milliseconds > 0)) return BadVariable(kSimReportTimeVariable, pace);
            board_.SetReportTime(milliseconds, [this](double ms) { Pace(ms); });
        }
        if (const char* seed = std::getenv(kSeedVariable)) {
            sim::SeededFaults faults;
            faults.seed = std::strtoull(seed, nullptr, 10);
            board_.SetSeededFaults(faults);
        }
        return {};
    }

    // Sleeps what a report costs, less what earlier sleeps overran, so that over a run the
    // reports take their time to within one overrun however late the scheduler wakes the thread.
    void Pace(double milliseconds) {
        const auto start = std::chrono::steady_clock::now();
        const double waitMs = milliseconds - overrunMs_;
        if (waitMs > 0) std::this_thread::sleep_for(Milliseconds(waitMs));
        overrunMs_ += Milliseconds(std::chrono::steady_clock::now() - start).count() - milliseconds;
    }

    static Outcome BadVariable(const char* name, const std::string& item) {
        return Outcome::Fail(ExitCode::BadInput,
                             std::string(name) + ": cannot understand \"" + item + "\"");
    }

    sim::Board board_;
    FlashFile file_;
    int signal_ = 0;  // KELMTOOL_SIM_SIGNAL
    uint64_t signalAt_ = 0;
    uint64_t exchanges_ = 0;
    double overrunMs_ = 0;  // KELMTOOL_SIM_REPORT_MS
};

}  // namespace

Outcome OpenSimBoard(const std::string& path, std::unique_ptr<BoardLink>& link) {
    auto sim = std::make_unique<SimLink>();
    KELM_TRY(sim->Open(path));
    link = std::move(sim);
    return {};
}

std::string SimSerial(const std::string& file) {
    return kSimSerialPrefix + std::filesystem::path(file).stem().string();
}

BoardListing SimListing(const std::string& file) {
    BoardListing listing;
    listing.path = kSimPathPrefix + file;
    listing.serial = SimSerial(file);
    listing.simFile = file;
    return listing;
}

std::vector<std::string> SimFileList(const std::string& text) {
    std::vector<std::string> files;
    std::stringstream list(text);
    std::string file;
    while (std::getline(list, file, kListSeparator)) {
        if (!file.empty()) files.push_back(file);
    }
    return files;
}

Outcome CheckSimSerials(const std::vector<std::string>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (SimSerial(files[i]) != SimSerial(files[j])) continue;
            return Outcome::Fail(ExitCode::BadInput, "--sim " + files[j] + " and --sim " +
                                                         files[i] + " would both be the board " +
                                                         SimSerial(files[i]));
        }
    }
    return {};
}
