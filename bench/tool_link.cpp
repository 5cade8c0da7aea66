// The link kelmtool's benchmark runs use: the simulated board behind kelmtool's BoardLink, the
// traffic sorted as it passes.
#include "tool_link.h"

#include <algorithm>

#include "core/flash_layout.h"

ToolTraffic& ToolTraffic::operator+=(const ToolTraffic& more) {
    out += more.out;
    feature += more.feature;
    writes += more.writes;
    data += more.data;
    erasedData += more.erasedData;
    bankCrossings += more.bankCrossings;
    erases += more.erases;
    polls += more.polls;
    return *this;
}

void BenchToolLink::Count(const ToolTraffic& report) {
    traffic_ += report;
    if (phase_ == Phase::Erase) erase_ += report;
    if (phase_ == Phase::Write) write_ += report;
}

bool BenchToolLink::WriteReport(const uint8_t* report) {
    ToolTraffic counted;
    counted.out = 1;
    if (dataDue_ > 0) {
        const uint32_t carried = std::min<uint32_t>(dataDue_, kPayloadSize);
        const uint8_t* payload = report + kPayloadByte;
        counted.data = 1;
        if (std::all_of(payload, payload + carried, [](uint8_t b) { return b == kErasedByte; })) {
            counted.erasedData = 1;
        }
        dataDue_ -= carried;
    } else if (report[kCommandByte] == CMD_WRITE) {
        phase_ = Phase::Write;
        counted.writes = 1;
        const uint32_t offset =
            static_cast<uint32_t>(report[kOffsetHighByte]) << 8 | report[kOffsetLowByte];
        dataDue_ = static_cast<uint32_t>(report[kLengthHighByte]) << 8 | report[kLengthLowByte];
        if (offset + dataDue_ > kSlotSize) counted.bankCrossings = 1;
    } else if (report[kCommandByte] == CMD_ERASE) {
        phase_ = Phase::Erase;
        counted.erases = 1;
    } else if (report[kCommandByte] == CMD_GET_STATUS) {
        // A poll goes with the erase it waits for; any other is the bus's.
        if (phase_ != Phase::Erase) phase_ = Phase::Other;
        counted.polls = 1;
    } else {
        phase_ = Phase::Other;
    }
    Count(counted);
    const bool taken = board_.WriteOutputReport(report, kReportSize);
    // A failed report ends the transfer on the host's side too.
    if (!taken) dataDue_ = 0;
    return taken;
}

bool BenchToolLink::GetFeature(uint8_t* report) {
    ToolTraffic counted;
    counted.feature = 1;
    Count(counted);
    return board_.GetFeatureReport(report, kReportSize);
}

InputRead BenchToolLink::ReadInput(uint8_t* report, int) {
    switch (board_.TakeInputReport(report, kInputReportSize)) {
        case sim::InputResult::Report:
            return InputRead::Report;
        case sim::InputResult::Gone:
            return InputRead::Failed;
        case sim::InputResult::Empty:
        default:
            return InputRead::Timeout;
    }
}
