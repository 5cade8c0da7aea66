// The link kelmtool's benchmark runs use: the simulated board behind kelmtool's BoardLink, the
// traffic sorted as it passes.
#include "tool_link.h"

#include <algorithm>

#include "catalogue/flash_layout.h"

ToolTraffic ToolTraffic::Since(const ToolTraffic& start) const {
    ToolTraffic d;
    d.out = out - start.out;
    d.feature = feature - start.feature;
    d.writes = writes - start.writes;
    d.data = data - start.data;
    d.erasedData = erasedData - start.erasedData;
    d.bankCrossings = bankCrossings - start.bankCrossings;
    return d;
}

bool BenchToolLink::WriteReport(const uint8_t* report) {
    ++traffic_.out;
    if (dataDue_ > 0) {
        const uint32_t carried = std::min<uint32_t>(dataDue_, kPayloadSize);
        const uint8_t* payload = report + kPayloadByte;
        ++traffic_.data;
        if (std::all_of(payload, payload + carried, [](uint8_t b) { return b == kErasedByte; })) {
            ++traffic_.erasedData;
        }
        dataDue_ -= carried;
    } else if (report[kCommandByte] == CMD_WRITE) {
        ++traffic_.writes;
        const uint32_t offset =
            static_cast<uint32_t>(report[kOffsetHighByte]) << 8 | report[kOffsetLowByte];
        dataDue_ = static_cast<uint32_t>(report[kLengthHighByte]) << 8 | report[kLengthLowByte];
        if (offset + dataDue_ > kSlotSize) ++traffic_.bankCrossings;
    }
    const bool taken = board_.WriteOutputReport(report, kReportSize);
    // A failed report ends the transfer on the host's side too.
    if (!taken) dataDue_ = 0;
    return taken;
}

bool BenchToolLink::GetFeature(uint8_t* report) {
    ++traffic_.feature;
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
