// Which bytes of a piece of image go over the wire. Programming 0xFF leaves NOR flash as it is,
// so a run of 0xFF long enough to pay for a new CMD_WRITE is skipped.
#pragma once

#include <cstdint>
#include <vector>

// A run of 0xFF this long ends a span. It only states a bound: a run of 125 or more always covers
// a whole data report of its span, where the plan cuts anyway, so this changes no plan; the
// figures that measure the plan count with it.
constexpr uint32_t kSkippedRunLength = 126;

struct WriteSpan {
    uint32_t offset;  // from the start of the piece
    uint32_t length;
};

// The spans of bytes to send from a piece of count bytes: they begin and end with a byte other
// than 0xFF and are separated by runs of kSkippedRunLength 0xFF bytes or more, and by any shorter
// run that would fill a whole data report of its span (ending the span there costs one CMD_WRITE
// and saves at least that report). So no data report carries only 0xFF. A piece of only 0xFF
// gives none.
std::vector<WriteSpan> PlanSpans(const uint8_t* piece, uint32_t count);
