// Which bytes of a piece go over the wire: runs of 0xFF long enough are skipped, nothing else is.
#include "core/write_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A piece described as runs: positive n is n data bytes (0x00), negative n is -n bytes of 0xFF.
std::vector<uint8_t> Piece(const std::vector<int>& runs) {
    std::vector<uint8_t> piece;
    for (int run : runs) piece.insert(piece.end(), run < 0 ? -run : run, run < 0 ? 0xFF : 0x00);
    return piece;
}

struct PlanCase {
    const char* name;
    std::vector<int> runs;
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // offset, length
};

TEST(WritePlanTest, SkipsRunsOf126ErasedBytesAndTrimsTheEnds) {
    const std::vector<PlanCase> cases = {
        {"empty", {}, {}},
        {"all erased", {-32768}, {}},
        {"one byte", {1}, {{0, 1}}},
        {"125 erased inside filling a report: skipped", {10, -125, 10}, {{0, 10}, {135, 10}}},
        {"70 erased off the report grid: kept", {100, -70, 10}, {{0, 180}}},
        {"63 erased on the report grid: skipped", {63, -63, 1}, {{0, 63}, {126, 1}}},
        {"62 erased: kept", {63, -62, 1}, {{0, 126}}},
        {"126 erased inside: skipped", {10, -126, 10}, {{0, 10}, {136, 10}}},
        {"300 erased inside: skipped", {10, -300, 10}, {{0, 10}, {310, 10}}},
        {"short erased lead and tail: trimmed", {-3, 5, -4}, {{3, 5}}},
        {"long erased tail", {5, -5000}, {{0, 5}}},
        {"several runs", {1, -126, 1, -125, 1, -127, 1}, {{0, 1}, {127, 1}, {253, 1}, {381, 1}}},
        {"whole chunk of data", {32768}, {{0, 32768}}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> piece = Piece(c.runs);
        std::vector<std::pair<uint32_t, uint32_t>> spans;
        for (const WriteSpan& span : PlanSpans(piece.data(), static_cast<uint32_t>(piece.size()))) {
            spans.emplace_back(span.offset, span.length);
        }
        EXPECT_EQ(spans, c.spans);
    }
}

// Whatever the piece, every byte other than 0xFF lies in exactly one span, spans are in order
// and start and end with data: what the flash gets equals the piece programmed whole.
TEST(WritePlanTest, EveryDataByteIsSentOnce) {
    uint32_t state = 7;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> piece(1 + round * 37 % 4000);
        for (uint8_t& byte : piece) {
            state = state * 1103515245u + 12345u;
            // Mostly 0xFF in runs of varied length, to cross the 126 threshold often.
            byte = (state >> 16) % 97 < 3 ? static_cast<uint8_t>(state >> 24) : 0xFF;
        }
        std::vector<uint8_t> sent(piece.size(), 0xFF);
        uint32_t end = 0;
        for (const WriteSpan& span : PlanSpans(piece.data(), static_cast<uint32_t>(piece.size()))) {
            ASSERT_GE(span.offset, end);
            ASSERT_GT(span.length, 0u);
            ASSERT_NE(piece[span.offset], 0xFF);
            ASSERT_NE(piece[span.offset + span.length - 1], 0xFF);
            for (uint32_t i = span.offset; i < span.offset + span.length; ++i) sent[i] = piece[i];
            // No data report of the span carries only 0xFF.
            for (uint32_t at = span.offset; at < span.offset + span.length; at += 63) {
                const uint32_t n = std::min<uint32_t>(63, span.offset + span.length - at);
                ASSERT_TRUE(std::any_of(piece.begin() + at, piece.begin() + at + n,
                                        [](uint8_t b) { return b != 0xFF; }))
                    << "round " << round << ", report at " << at;
            }
            end = span.offset + span.length;
        }
        ASSERT_EQ(sent, piece) << "round " << round;
    }
}

}  // namespace
