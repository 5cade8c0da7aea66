// The board's public face: one mutex around its state, and every callback (sleeper, clock,
// listeners) called with that mutex released, because the callers' callbacks call back in.
#include "sim/board.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "sim/board_state.h"

namespace sim {

namespace detail {

struct BoardCore {
    mutable std::mutex mutex;
    BoardState state;
    double reportTimeMs = 0;
    std::function<void(double)> sleeper;
    std::function<uint64_t()> clock;
    std::function<void(size_t, size_t)> flashListener;
    std::function<void()> inputListener;
};

}  // namespace detail

struct Board::Impl : detail::BoardCore {};

Board::Board() : impl_(std::make_shared<Impl>()) {}

// ---------------------------------------------------------------- flash contents

std::vector<uint8_t> Board::Flash() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.flash;
}

void Board::SetFlash(size_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<uint8_t>& flash = impl_->state.flash;
    if (address > flash.size() || bytes.size() > flash.size() - address) {
        throw std::out_of_range("SetFlash past the end of the 2 MB flash");
    }
    std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
}

void Board::FillFlash(uint8_t value) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::fill(impl_->state.flash.begin(), impl_->state.flash.end(), value);
}

uint8_t Board::FlashByte(size_t address) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.flash.at(address);
}

void Board::ViewFlash(const std::function<void(const uint8_t* flash, size_t size)>& look) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    look(impl_->state.flash.data(), impl_->state.flash.size());
}

// ---------------------------------------------------------------- behaviour

void Board::SetEraseBusyPolls(int polls) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.eraseBusyPolls = std::max(polls, 0);
}

void Board::SetBusHandoverPolls(int polls) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.busHandoverPolls = std::max(polls, 0);
}

void Board::SetBusHeldByOther(bool held) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.busHeldByOther = held;
}

void Board::ScriptBusStates(const std::vector<uint8_t>& states) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.scriptedBusStates.assign(states.begin(), states.end());
}

uint8_t Board::BusState() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return detail::PeekBusState(impl_->state);
}

void Board::SetReportTime(double milliseconds, std::function<void(double)> sleeper) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->reportTimeMs = milliseconds;
    impl_->sleeper = std::move(sleeper);
}

void Board::SetClock(std::function<uint64_t()> clock) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->clock = std::move(clock);
}

void Board::SetFlashListener(std::function<void(size_t address, size_t length)> listener) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->flashListener = std::move(listener);
}

// ---------------------------------------------------------------- presence and faults

namespace {

// Runs what an exchange left to do, with the mutex released.
void Deliver(detail::BoardCore& impl, const detail::Effects& effects) {
    std::function<void(size_t, size_t)> flashListener;
    std::function<void()> inputListener;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        if (!effects.flashChanges.empty()) {
            flashListener = impl.flashListener;
        }
        if (effects.wentAway) {
            inputListener = impl.inputListener;
        }
    }
    if (flashListener) {
        for (const auto& change : effects.flashChanges) {
            flashListener(change.first, change.second);
        }
    }
    if (inputListener) {
        inputListener();
    }
}

// The link model charges the time before the board sees the report; the log then carries the
// time the board saw it.
uint64_t PaceExchange(detail::BoardCore& impl) {
    double reportTimeMs = 0;
    std::function<void(double)> sleeper;
    std::function<uint64_t()> clock;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        reportTimeMs = impl.reportTimeMs;
        sleeper = impl.sleeper;
        clock = impl.clock;
    }
    if (sleeper && reportTimeMs > 0) {
        sleeper(reportTimeMs);
    }
    return clock ? clock() : 0;
}

uint64_t ReadClock(detail::BoardCore& impl) {
    std::function<uint64_t()> clock;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        clock = impl.clock;
    }
    return clock ? clock() : 0;
}

}  // namespace

bool Board::IsPresent() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.present;
}

void Board::Unplug() {
    detail::Effects effects;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->state.present) {
            detail::GoAway(impl_->state, effects);
            impl_->state.events.push_back({detail::EventKind::Marker, "unplugged", 0});
        }
    }
    Deliver(*impl_, effects);
}

void Board::Plug() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    detail::ResetFirmware(impl_->state);
    impl_->state.inputQueue.clear();
    impl_->state.present = true;
    impl_->state.events.push_back({detail::EventKind::Marker, "plugged", 0});
}

void Board::InjectFault(uint64_t exchange, Fault fault) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.faults[exchange].push_back(fault);
}

void Board::ClearFaults() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.faults.clear();
}

void Board::SetSeededFaults(const SeededFaults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    detail::StartFaultLayer(impl_->state.faultLayer, faults);
}

uint64_t Board::ExchangeCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.exchanges;
}

// ---------------------------------------------------------------- input reports

void Board::QueueInputReport(const std::array<uint8_t, 8>& report) {
    std::function<void()> listener;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->state.present) {
            return;
        }
        impl_->state.inputQueue.push_back(report);
        listener = impl_->inputListener;
    }
    if (listener) {
        listener();
    }
}

void Board::QueueInputText(int position, const std::string& sevenChars) {
    std::array<uint8_t, 8> report{};
    report[0] = static_cast<uint8_t>(position & 0xFF);
    const size_t count = std::min<size_t>(sevenChars.size(), report.size() - 1);
    for (size_t i = 0; i < count; ++i) {
        report[1 + i] = static_cast<uint8_t>(sevenChars[i]);
    }
    QueueInputReport(report);
}

void Board::QueueSimGreeting() { QueueInputLines("kelm sim board", "2048 KB, 32 slots"); }

void Board::QueueInputLines(const std::string& first, const std::string& second) {
    constexpr size_t kLineLength = 18;  // the board's lines, as it numbers their positions
    constexpr size_t kPieceLength = 7;
    const std::string lines[] = {first, second};
    for (size_t l = 0; l < 2; ++l) {
        std::string line = lines[l];
        line.resize(kLineLength, ' ');
        for (size_t at = 0; at < kLineLength; at += kPieceLength) {
            QueueInputText(static_cast<int>(l * kLineLength + at), line.substr(at, kPieceLength));
        }
    }
}

void Board::SetInputListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->inputListener = std::move(listener);
}

// ---------------------------------------------------------------- transport

bool Board::WriteOutputReport(const uint8_t* report, size_t length) {
    const uint64_t now = PaceExchange(*impl_);
    detail::Effects effects;
    bool accepted = false;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        accepted = detail::HandleOutputReport(impl_->state, report, length, now, effects);
    }
    Deliver(*impl_, effects);
    return accepted;
}

bool Board::GetFeatureReport(uint8_t* report, size_t length) {
    const uint64_t now = PaceExchange(*impl_);
    detail::Effects effects;
    bool answered = false;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        answered = detail::HandleFeatureFetch(impl_->state, report, length, now, effects);
    }
    Deliver(*impl_, effects);
    return answered;
}

InputResult Board::TakeInputReport(uint8_t* report, size_t length) {
    const uint64_t now = ReadClock(*impl_);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return detail::HandleInputTake(impl_->state, report, length, now);
}

// ---------------------------------------------------------------- history

std::vector<LogEntry> Board::Log() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.log;
}

void Board::ClearLog() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.exchanges = 0;
    impl_->state.log.clear();
    impl_->state.events.clear();
    impl_->state.commandCounts.fill(0);
}

std::vector<std::string> Board::Violations() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.violations;
}

void Board::ClearViolations() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.violations.clear();
}

std::vector<ProtocolEvent> Board::ProtocolEvents() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.protocolEvents;
}

void Board::ClearProtocolEvents() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.protocolEvents.clear();
}

void Board::SetHistoryKept(bool kept) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->state.historyKept = kept;
}

std::string Board::Transcript() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return detail::RenderTranscript(impl_->state.events);
}

int Board::CountCommands(uint8_t command) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.commandCounts[command];
}

}  // namespace sim
