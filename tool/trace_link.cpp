// --trace: every report exchanged, one line on standard error, around any other link.
#include "trace_link.h"

namespace {

constexpr char kOut[] = "out";
constexpr char kFeature[] = "feature";
constexpr char kInput[] = "input";

}  // namespace

void TraceLink::Line(const char* direction, const uint8_t* bytes, size_t count) {
    // A trace is a debugging aid: a line that cannot be written is not worth failing the
    // command for, so the results of fprintf are not examined.
    static_cast<void>(std::fputs(direction, out_));
    for (size_t i = 0; i < count; ++i) static_cast<void>(std::fprintf(out_, " %02x", bytes[i]));
    static_cast<void>(std::fputc('\n', out_));
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
