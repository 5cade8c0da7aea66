// The board's history as readable text, stable enough for golden transcripts of whole
// operations: no times, no exchange numbers, runs of data reports folded into one line.
#include <cstdio>
#include <string>

#include "sim/board_state.h"

namespace sim::detail {
namespace {

std::string Addressed(const char* name, const uint8_t* report) {
    char text[80];
    std::snprintf(text, sizeof text, "%s bank=%u offset=0x%04X length=%u", name,
                  unsigned{report[2]}, (unsigned{report[3]} << 8) | report[4],
                  (unsigned{report[5]} << 8) | report[6]);
    return text;
}

void AppendRun(std::string& out, const char* arrow, size_t reports, size_t bytes) {
    out += arrow;
    out += " data x" + std::to_string(reports) + " (" + std::to_string(bytes) + " bytes)\n";
}

}  // namespace

std::string DescribeCommand(const uint8_t* report) {
    switch (report[1]) {
        case kCmdReset:
            return "RESET";
        case kCmdErase:
            return "ERASE bank=" + std::to_string(report[2]);
        case kCmdWrite:
            return Addressed("WRITE", report);
        case kCmdRead:
            return Addressed("READ", report);
        case kCmdGetStatus:
            return "GET_STATUS";
        case kCmdBus:
            if (report[3] == 1) {
                return "BUS request";
            }
            if (report[3] == 0) {
                return "BUS release";
            }
            return "BUS mode=" + std::to_string(report[3]);
        default:
            return "command " + std::to_string(report[1]);
    }
}

std::string DescribeStatus(uint8_t busy, uint8_t busState) {
    return "status busy=" + std::to_string(busy) + " bus=" + std::to_string(busState);
}

std::string RenderTranscript(const std::vector<Event>& events) {
    std::string out;
    size_t i = 0;
    while (i < events.size()) {
        const Event& event = events[i];
        if (event.kind == EventKind::DataOut || event.kind == EventKind::DataIn) {
            size_t reports = 0;
            size_t bytes = 0;
            while (i < events.size() && events[i].kind == event.kind) {
                ++reports;
                bytes += events[i].payload;
                ++i;
            }
            AppendRun(out, event.kind == EventKind::DataOut ? ">" : "<", reports, bytes);
            continue;
        }
        switch (event.kind) {
            case EventKind::Command:
                out += "> " + event.text + "\n";
                break;
            case EventKind::Status:
                out += "< " + event.text + "\n";
                break;
            case EventKind::Failure:
                out += "! " + event.text + "\n";
                break;
            case EventKind::Violation:
                out += "! violation: " + event.text + "\n";
                break;
            case EventKind::Marker:
                out += "-- " + event.text + "\n";
                break;
            default:
                break;
        }
        ++i;
    }
    return out;
}

}  // namespace sim::detail
