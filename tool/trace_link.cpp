// --trace: every report exchanged, one line on standard error, around any other link.
#include "trace_link.h"

namespace {

constexpr char kOut[] = "out";
constexpr char kFeature[] = "feature";
constexpr char kInput[] = "input";

}  // namespace

void TraceLink::Line(const char* direction, const uint8_t* bytes, size_t count) {
    // One write for the whole line: the boards of --all trace from threads of their own onto
    // the same unbuffered stream, and a line written piece by piece would mix with theirs.
    std::string line = label_ + direction;
    char hex[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        line += hex;
    }
    line += '\n';
    // A trace is a debugging aid: a line that cannot be written is not worth failing the
    // command for, so the result of fwrite is not examined.
    static_cast<void>(std::fwrite(line.data(), 1, line.size(), out_));
}

bool TraceLink::WriteReport(const uint8_t* report) {
    const bool written = inner_.WriteReport(report);
    // Only what went over the wire is traced; a failed exchange is the error message's to tell.
    if (written) Line(kOut, report, kReportSize);
    return written;
}

bool TraceLink::GetFeature(uint8_t* report) {
    const bool fetched = inner_.GetFeature(report);
    if (fetched) Line(kFeature, report, kReportSize);
    return fetched;
}

InputRead TraceLink::ReadInput(uint8_t* report, int timeoutMs) {
    const InputRead result = inner_.ReadInput(report, timeoutMs);
    if (result == InputRead::Report) Line(kInput, report, kInputReportSize);
    return result;
}
