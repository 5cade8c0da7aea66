// The seeded fault layer: repeatable from its seed, off at seed 0, and never able to keep a status
// poll going for ever.
#include "sim/fault_layer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/board.h"
#include "tests/sim/host_reports.h"

namespace sim::test {
namespace {

// Faults are given as the seed, then the chances in thousandths of a flipped answer, an odd
// status, a slow hand-over and dropped data.
SeededFaults Always(uint64_t seed) { return {seed, 1000, 1000, 1000, 1000}; }

// A little of everything a host does: a bus hand-over, a write, a read, an erase, status polls.
void Traffic(Board& board) {
    Send(board, BusCommand(true));
    for (int i = 0; i < 6; ++i) GetStatus(board);
    Write(board, 3, 0, std::vector<uint8_t>(300, 0x5A));
    Read(board, 0, 0, 256);
    Send(board, Command(kCmdErase, 7));
    for (int i = 0; i < 6; ++i) GetStatus(board);
}

std::vector<std::vector<uint8_t>> Answers(const Board& board) {
    std::vector<std::vector<uint8_t>> answers;
    for (const LogEntry& entry : board.Log()) {
        if (entry.direction == Direction::Feature) answers.push_back(entry.bytes);
    }
    return answers;
}

TEST(FaultLayerTest, SameSeedSameFaultsOtherSeedOthersSeedZeroNone) {
    Board first, again, other, off, plain;
    first.SetSeededFaults({12345, 300, 40, 200, 300});
    again.SetSeededFaults({12345, 300, 40, 200, 300});
    other.SetSeededFaults({54321, 300, 40, 200, 300});
    off.SetSeededFaults(Always(0));
    for (Board* board : {&first, &again, &other, &off, &plain}) Traffic(*board);

    EXPECT_NE(first.Transcript().find("-- seeded: "), std::string::npos);
    EXPECT_NE(first.Transcript(), other.Transcript());
    for (const auto& [one, same] : {std::pair{&first, &again}, std::pair{&off, &plain}}) {
        EXPECT_EQ(Answers(*one), Answers(*same));
        EXPECT_EQ(one->Flash(), same->Flash());
        EXPECT_EQ(one->Transcript(), same->Transcript());
    }
}

// Whatever the rates, a run of changed status answers ends within kMaxPerturbedStatus + 1
// answers with the board's own, so a host that polls until the board says so gets there.
TEST(FaultLayerTest, EveryStatusPollEnds) {
    for (uint64_t seed = 1; seed <= 50; ++seed) {
        Board board;
        board.SetSeededFaults(Always(seed));
        int sinceOwn = 0;
        for (int poll = 0; poll < 200; ++poll) {
            const Status status = GetStatus(board);
            ASSERT_TRUE(status.ok);
            const bool own = status.busy == 0 && status.bus == kBusReleased;
            sinceOwn = own ? 0 : sinceOwn + 1;
            ASSERT_LE(sinceOwn, detail::kMaxPerturbedStatus) << "seed " << seed;
        }
    }
}

TEST(FaultLayerTest, HandOverTakesAFewMorePollsOnly) {
    Board board;
    board.SetSeededFaults({99, 0, 0, 1000, 10});
    for (int round = 0; round < 20; ++round) {
        Send(board, BusCommand(true));
        int polls = 1;
        while (GetStatus(board).bus != kBusGranted) ++polls;
        EXPECT_GE(polls, 2);
        EXPECT_LE(polls, 1 + detail::kMaxExtraHandover);
        Send(board, BusCommand(false));
        while (GetStatus(board).bus != kBusReleased) {
        }
    }
}

TEST(FaultLayerTest, DroppedDataIsAcceptedAndNotProgrammed) {
    Board board;
    board.SetSeededFaults({7, 10, 40, 200, 1000});
    EXPECT_TRUE(Write(board, 2, 0x100, std::vector<uint8_t>(200, 0x00)));
    EXPECT_EQ(board.Flash(), std::vector<uint8_t>(kFlashSize, 0xFF));
    EXPECT_TRUE(board.Violations().empty());
    EXPECT_NE(board.Transcript().find("-- seeded: data dropped"), std::string::npos);
}

}  // namespace
}  // namespace sim::test
