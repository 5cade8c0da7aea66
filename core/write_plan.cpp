// Which bytes of a piece of image go over the wire.
#include "core/write_plan.h"

#include "core/flash_layout.h"
#include "core/report_layout.h"

namespace {

bool AllErased(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != kErasedByte) return false;
    }
    return true;
}

// Cuts a span, which begins and ends with data, wherever one of its data reports would carry
// only 0xFF.
void AddSpan(const uint8_t* piece, uint32_t start, uint32_t end, std::vector<WriteSpan>& spans) {
    uint32_t at = start + kPayloadSize;
    while (at < end) {
        const uint32_t n = end - at < kPayloadSize ? end - at : kPayloadSize;
        if (!AllErased(piece + at, n)) {
            at += n;
            continue;
        }
        uint32_t lastData = at - 1;
        while (piece[lastData] == kErasedByte) --lastData;
        spans.push_back({start, lastData - start + 1});
        start = at + n;
        while (piece[start] == kErasedByte) ++start;
        at = start + kPayloadSize;
    }
    spans.push_back({start, end - start});
}

}  // namespace

std::vector<WriteSpan> PlanSpans(const uint8_t* piece, uint32_t count) {
    std::vector<WriteSpan> spans;
    uint32_t at = 0;
    while (at < count) {
        while (at < count && piece[at] == kErasedByte) ++at;
        if (at == count) break;
        const uint32_t start = at;
        uint32_t lastData = at;
        while (at < count) {
            if (piece[at] != kErasedByte) {
                lastData = at++;
                continue;
            }
            uint32_t runEnd = at;
            while (runEnd < count && piece[runEnd] == kErasedByte) ++runEnd;
            if (runEnd - at >= kSkippedRunLength || runEnd == count) break;
            at = runEnd;
        }
        AddSpan(piece, start, lastData + 1, spans);
        at = lastData + 1;
    }
    return spans;
}
