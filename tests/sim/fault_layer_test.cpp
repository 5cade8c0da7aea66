// The seeded fault layer: repeatable from its seed, off at seed 0, and never able to keep a status
// poll going for ever.
#include "sim/fault_layer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/sim/host_reports.h"

namespace {

using simtest::BusCommand;
using simtest::Command;
using simtest::GetStatus;
using simtest::Read;
using simtest::Write;

sim::SeededFaults Always(uint64_t seed) {
    sim::SeededFaults faults;
    faults.seed = seed;
    faults.flippedAnswer = 1000;
    faults.oddStatus = 1000;
    faults.slowHandover = 1000;
    faults.droppedData = 1000;
    return faults;
}

// A little of everything a host does: a bus hand-over, a write, a read, an erase, status polls.
void Traffic(sim::Board& board) {
    simtest::Send(board, BusCommand(true));
    for (int i = 0; i < 6; ++i) GetStatus(board);
    Write(board, 3, 0, std::vector<uint8_t>(300, 0x5A));
    Read(board, 0, 0, 256);
    simtest::Send(board, Command(sim::kCmdErase, 7));
    for (int i = 0; i < 6; ++i) GetStatus(board);
}

std::vector<std::vector<uint8_t>> Answers(const sim::Board& board) {
    std::vector<std::vector<uint8_t>> answers;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction == sim::Direction::Feature) answers.push_back(entry.bytes);
    }
    return answers;
}

TEST(FaultLayerTest, SameSeedSameFaultsOtherSeedOthers) {
    sim::SeededFaults faults;
    faults.seed = 12345;
    faults.flippedAnswer = 300;
    faults.droppedData = 300;
    sim::Board first, again, other;
    first.SetSeededFaults(faults);
    again.SetSeededFaults(faults);
    faults.seed = 54321;
    other.SetSeededFaults(faults);
    for (sim::Board* board : {&first, &again, &other}) Traffic(*board);

    EXPECT_EQ(Answers(first), Answers(again));
    EXPECT_EQ(first.Flash(), again.Flash());
    EXPECT_EQ(first.Transcript(), again.Transcript());
    EXPECT_NE(first.Transcript(), other.Transcript());
    EXPECT_NE(first.Transcript().find("-- seeded: "), std::string::npos);
}

TEST(FaultLayerTest, SeedZeroIsOff) {
    sim::SeededFaults faults = Always(0);
    sim::Board plain, off;
    off.SetSeededFaults(faults);
    Traffic(plain);
    Traffic(off);
    EXPECT_EQ(Answers(plain), Answers(off));
    EXPECT_EQ(plain.Transcript(), off.Transcript());
    EXPECT_EQ(plain.Flash(), off.Flash());
}

// Whatever the rates, a run of changed status answers ends within kMaxPerturbedStatus + 1
// answers with the board's own, so a host that polls until the board says so gets there.
TEST(FaultLayerTest, EveryStatusPollEnds) {
    for (uint64_t seed = 1; seed <= 50; ++seed) {
        sim::Board board;
        board.SetSeededFaults(Always(seed));
        int sinceOwn = 0;
        for (int poll = 0; poll < 200; ++poll) {
            const simtest::Status status = GetStatus(board);
            ASSERT_TRUE(status.ok);
            const bool own = status.busy == 0 && status.bus == sim::kBusReleased;
            sinceOwn = own ? 0 : sinceOwn + 1;
            ASSERT_LE(sinceOwn, sim::detail::kMaxPerturbedStatus) << "seed " << seed;
        }
    }
}

TEST(FaultLayerTest, HandOverTakesAFewMorePollsOnly) {
    sim::SeededFaults faults;
    faults.seed = 99;
    faults.flippedAnswer = 0;
    faults.oddStatus = 0;
    faults.slowHandover = 1000;
    sim::Board board;
    board.SetSeededFaults(faults);
    for (int round = 0; round < 20; ++round) {
        simtest::Send(board, BusCommand(true));
        int polls = 1;
        while (GetStatus(board).bus != sim::kBusGranted) ++polls;
        EXPECT_GE(polls, 2);
        EXPECT_LE(polls, 1 + sim::detail::kMaxExtraHandover);
        simtest::Send(board, BusCommand(false));
        while (GetStatus(board).bus != sim::kBusReleased) {
        }
    }
}

TEST(FaultLayerTest, DroppedDataIsAcceptedAndNotProgrammed) {
    sim::SeededFaults faults;
    faults.seed = 7;
    faults.droppedData = 1000;
    sim::Board board;
    board.SetSeededFaults(faults);
    EXPECT_TRUE(Write(board, 2, 0x100, std::vector<uint8_t>(200, 0x00)));
    EXPECT_EQ(board.Flash(), std::vector<uint8_t>(sim::kFlashSize, 0xFF));
    EXPECT_TRUE(board.Violations().empty());
    EXPECT_NE(board.Transcript().find("-- seeded: data dropped"), std::string::npos);
}

}  // namespace
