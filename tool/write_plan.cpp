// Which bytes of a piece of image go over the wire.
#include "write_plan.h"

#include "catalogue/flash_layout.h"

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
        spans.push_back({start, lastData - start + 1});
        at = lastData + 1;
    }
    return spans;
}
