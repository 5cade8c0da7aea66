// The board as a device: presence, injected faults, input reports, listeners, log and threads.
#include "sim/board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/sim/host_reports.h"

namespace sim::test {
namespace {

using ::testing::ElementsAre;

InputResult TakeInput(Board& board, uint8_t* report = nullptr) {
    uint8_t scratch[kInputReportSize] = {};
    return board.TakeInputReport(report ? report : scratch, kInputReportSize);
}

// Each kind of fault, at an output report or at a feature fetch, acts at its exchange only.
TEST(BoardFaultTest, ActsAtItsExchangeOnlyAndIsLogged) {
    // Whether the fault is placed at the fetch (else at the command report), whether that
    // exchange fails, and whether the board is there afterwards.
    const std::tuple<const char*, Fault, bool, bool, bool> cases[] = {
        {"unplug at the command", Fault::Unplug, false, true, false},
        {"unplug at the fetch", Fault::Unplug, true, true, false},
        {"refused fetch", Fault::RefuseFeature, true, true, true},
        {"refusal at the command does nothing", Fault::RefuseFeature, false, false, true},
        {"failed command", Fault::FailWrite, false, true, true},
        {"write failure at the fetch does nothing", Fault::FailWrite, true, false, true}};
    for (const auto& [name, fault, atFeature, thisFails, stillPresent] : cases) {
        SCOPED_TRACE(name);
        Board board;
        int listenerCalls = 0;
        board.SetInputListener([&] { ++listenerCalls; });
        EXPECT_TRUE(GetStatus(board).ok);  // exchanges 0 and 1
        // Exchange 2 is the command report, 3 the fetch of its answer.
        const size_t at = atFeature ? 3 : 2;
        board.InjectFault(at, fault);

        Report answer{};
        const bool sent = Send(board, Command(kCmdGetStatus));
        const bool fetched = Fetch(board, answer);
        EXPECT_EQ(atFeature ? fetched : sent, !thisFails);
        EXPECT_EQ(board.IsPresent(), stillPresent);
        EXPECT_EQ(listenerCalls, stillPresent ? 0 : 1);
        // The next status query works exactly when the board is still there.
        EXPECT_EQ(GetStatus(board).ok, stillPresent);
        const std::vector<LogEntry> log = board.Log();
        ASSERT_EQ(log.size(), stillPresent ? 6u : 5u);  // a gone board's query stops at its send
        EXPECT_EQ(log[0].direction, Direction::Out);
        EXPECT_EQ(log[1].direction, Direction::Feature);
        EXPECT_EQ(log[at].failed, thisFails);
        EXPECT_EQ(log[at].exchange, at);
        // A failed output report keeps what the host tried to send; a failed fetch got nothing.
        EXPECT_EQ(log[at].bytes.size(), atFeature && thisFails ? 0u : kReportSize);
    }
}

// Benchmarks run millions of reports: without history the board still counts them and still
// sees breaches, but keeps no record that would grow with every report. ClearLog restarts the
// counts that faults are placed by, and leaves the faults, the violations and the flash.
TEST(BoardLogTest, WithoutHistoryOrAfterClearLogNothingIsRecordedButFaultsAndBreachesStay) {
    Board board;
    board.SetHistoryKept(false);
    ASSERT_TRUE(Write(board, 0, 0, {0x00, 0x01}));
    EXPECT_TRUE(Send(board, Command(0x77)));
    EXPECT_TRUE(board.Log().empty());
    EXPECT_EQ(board.Transcript(), "");
    EXPECT_EQ(board.ExchangeCount(), 3u);
    EXPECT_EQ(board.CountCommands(kCmdWrite), 1);
    board.SetHistoryKept(true);
    EXPECT_TRUE(GetStatus(board).ok);
    EXPECT_EQ(board.Log().size(), 2u);
    EXPECT_EQ(board.Transcript(), "> GET_STATUS\n< status busy=0 bus=1\n");

    board.ClearLog();
    EXPECT_EQ(board.ExchangeCount(), 0u);
    EXPECT_EQ(board.CountCommands(kCmdWrite), 0);
    EXPECT_TRUE(board.Log().empty());
    EXPECT_EQ(board.Transcript(), "");
    EXPECT_EQ(board.FlashByte(1), 0x01);
    EXPECT_THAT(board.Violations(), ElementsAre("exchange 2: unknown command 119; ignored"));
    board.ClearViolations();
    EXPECT_TRUE(board.Violations().empty());
    board.InjectFault(1, Fault::RefuseFeature);
    EXPECT_FALSE(GetStatus(board).ok);
    EXPECT_EQ(board.ExchangeCount(), 2u);
    board.ClearLog();
    EXPECT_FALSE(GetStatus(board).ok);  // index 1 again after ClearLog
    board.ClearFaults();
    board.ClearLog();
    EXPECT_TRUE(GetStatus(board).ok);
}

TEST(BoardFaultIndexTest, FailedExchangesOfATransferLoseNothing) {
    // A refused fetch does not use up the read answer: the next fetch gets it.
    Board board;
    const std::vector<uint8_t> content = Pattern(100, 4);
    board.SetFlash(0, content);
    ASSERT_TRUE(Send(board, Command(kCmdRead, 0, 0, 100)));
    board.InjectFault(board.ExchangeCount(), Fault::RefuseFeature);
    Report answer{};
    answer[2] = 0x5A;
    EXPECT_FALSE(board.GetFeatureReport(answer.data(), answer.size()));
    EXPECT_EQ(answer[2], 0x5A);
    ASSERT_TRUE(Fetch(board, answer));
    EXPECT_EQ(answer[2], content[0]);
    ASSERT_TRUE(Fetch(board, answer));
    EXPECT_EQ(answer[2], content[63]);

    // A failed data report is not programmed, and the write still waits for it.
    ASSERT_TRUE(Send(board, Command(kCmdWrite, 1, 0, 2)));
    board.InjectFault(board.ExchangeCount(), Fault::FailWrite);
    const Report data{0, 0, 0x12, 0x34};
    EXPECT_FALSE(Send(board, data));
    EXPECT_EQ(board.FlashByte(kBankSize), 0xFF);
    EXPECT_TRUE(Send(board, data));
    EXPECT_EQ(board.FlashByte(kBankSize), 0x12);
    EXPECT_EQ(board.FlashByte(kBankSize + 1), 0x34);
}

// Gone by CMD_RESET or unplugged, the board fails everything and drops what is queued; plugged
// in again it keeps its flash and nothing else.
TEST(BoardPresenceTest, GoneUntilPluggedThenFreshWithTheSameFlash) {
    for (bool viaReset : {true, false}) {
        SCOPED_TRACE(viaReset ? "CMD_RESET" : "unplugged");
        Board board;
        int listenerCalls = 0;
        board.SetInputListener([&] { ++listenerCalls; });
        ASSERT_TRUE(Write(board, 1, 0, {0x42}));
        ASSERT_TRUE(Send(board, BusCommand(true)));
        board.QueueInputText(0, "kelm");
        listenerCalls = 0;
        if (viaReset) {
            EXPECT_TRUE(Send(board, Command(kCmdReset)));
        } else {
            ASSERT_TRUE(Send(board, Command(kCmdRead, 0, 0, 200)));
            board.Unplug();
            board.Unplug();  // already gone: no second notice
        }
        EXPECT_FALSE(board.IsPresent());
        Report answer{};
        EXPECT_FALSE(Fetch(board, answer));
        EXPECT_FALSE(Send(board, Command(kCmdGetStatus)));
        EXPECT_EQ(TakeInput(board), InputResult::Gone);
        board.QueueInputText(0, "lost");
        EXPECT_EQ(listenerCalls, 1);

        board.Plug();
        EXPECT_TRUE(board.IsPresent());
        EXPECT_EQ(board.FlashByte(kBankSize), 0x42);
        EXPECT_EQ(board.BusState(), kBusReleased);
        EXPECT_EQ(TakeInput(board), InputResult::Empty);
        // No read answer left over: a bare fetch gets the status, and nobody asked for it.
        ASSERT_TRUE(Fetch(board, answer));
        EXPECT_EQ(answer[1], kCmdGetStatus);
        EXPECT_THAT(board.Violations(), ::testing::ElementsAre(::testing::HasSubstr(
                                            "feature fetch with no CMD_GET_STATUS or CMD_READ")));
    }
}

// Text reports are the position's low byte then up to seven characters, padded with zeros.
TEST(BoardInputTest, ReportsComeInOrderLoggedAndOnlyIntoAWholeBuffer) {
    Board board;
    board.SetClock([] { return uint64_t{1234}; });
    board.QueueInputReport({1, 2, 3, 4, 5, 6, 7, 8});
    board.QueueInputText(0, "kelm");
    board.QueueInputText(29, "123456789");
    board.QueueInputText(-1, "");
    uint8_t report[kInputReportSize] = {};
    EXPECT_EQ(board.TakeInputReport(report, 8), InputResult::Empty);
    const std::vector<std::vector<uint8_t>> expected = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8},
        {0, 0, 'k', 'e', 'l', 'm', 0, 0, 0},
        {0, 29, '1', '2', '3', '4', '5', '6', '7'},
        {0, 0xFF, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const std::vector<uint8_t>& bytes : expected) {
        std::fill(report, report + sizeof report, 0xEE);
        ASSERT_EQ(TakeInput(board, report), InputResult::Report);
        EXPECT_EQ(std::vector<uint8_t>(report, report + sizeof report), bytes);
    }
    EXPECT_EQ(TakeInput(board), InputResult::Empty);

    const std::vector<LogEntry> log = board.Log();
    ASSERT_EQ(log.size(), 4u);  // empty takes are not exchanges
    EXPECT_EQ(log[0].direction, Direction::In);
    EXPECT_EQ(log[0].bytes, expected[0]);
    EXPECT_EQ(log[0].timeMs, 1234u);
    EXPECT_EQ(board.ExchangeCount(), 0u);  // input reads are not counted
    EXPECT_EQ(board.Transcript(), "! violation: input read into 8 bytes (needs 9)\n");
}

TEST(BoardInputTest, ListenerRunsAfterEachQueueAndMayTakeTheReport) {
    Board board;
    std::vector<uint8_t> positions;
    board.SetInputListener([&] {
        uint8_t report[kInputReportSize] = {};
        const bool took = TakeInput(board, report) == InputResult::Report;
        positions.push_back(took ? report[1] : 0xEE);
    });
    board.QueueInputText(0, "a");
    board.QueueInputText(18, "b");
    board.Unplug();
    EXPECT_THAT(positions, ElementsAre(0, 18, 0xEE));
}

TEST(BoardListenerTest, FlashListenerSeesEveryEraseAndDataReport) {
    Board board;
    std::vector<std::pair<size_t, size_t>> changes;
    board.SetFlashListener([&](size_t address, size_t length) {
        changes.emplace_back(address, length);
        EXPECT_EQ(board.FlashByte(address), board.Flash()[address]);  // callable from inside
    });
    board.SetFlash(0, {1, 2, 3});
    board.FillFlash(0xFF);
    EXPECT_TRUE(changes.empty());

    ASSERT_TRUE(Send(board, Command(kCmdErase, 2)));
    ASSERT_TRUE(Write(board, 2, 0xFFF0, Pattern(100)));
    ASSERT_TRUE(Write(board, 31, 0xFFFE, {0, 0, 0}));  // one byte past the end lands nowhere
    using Change = std::pair<size_t, size_t>;
    EXPECT_THAT(changes, ElementsAre(Change{0x20000, 0x10000}, Change{0x2FFF0, 63},
                                     Change{0x3002F, 37}, Change{0x1FFFFE, 2}));
    board.ClearViolations();
}

TEST(BoardListenerTest, SleeperIsChargedForEveryOutputAndFeatureExchange) {
    Board board;
    uint64_t clock = 0;
    std::vector<double> sleeps;
    board.SetClock([&] { return clock; });
    board.SetReportTime(0.5, [&](double ms) {
        sleeps.push_back(ms);
        clock += 1;
        (void)board.ExchangeCount();  // the board's lock is not held here
    });
    EXPECT_TRUE(GetStatus(board).ok);
    board.Unplug();
    EXPECT_FALSE(GetStatus(board).ok);
    board.QueueInputText(0, "x");
    TakeInput(board);

    EXPECT_THAT(sleeps, ElementsAre(0.5, 0.5, 0.5));  // the failed query sends no fetch
    std::vector<uint64_t> times;
    std::vector<bool> failed;
    for (const LogEntry& entry : board.Log()) {
        times.push_back(entry.timeMs);
        failed.push_back(entry.failed);
    }
    EXPECT_EQ(times, (std::vector<uint64_t>{1, 2, 3, 3}));
    EXPECT_EQ(failed, (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(board.Log().back().direction, Direction::In);
}

TEST(BoardFlashAccessTest, DirectAccessOutsideTheFlashThrows) {
    Board board;
    EXPECT_THROW(board.FlashByte(kFlashSize), std::out_of_range);
    EXPECT_THROW(board.SetFlash(kFlashSize - 1, {1, 2}), std::out_of_range);
    EXPECT_NO_THROW(board.SetFlash(kFlashSize - 2, {1, 2}));
    EXPECT_EQ(board.FlashByte(kFlashSize - 1), 2);
}

TEST(BoardThreadTest, CommandTrafficAndInputReadsRunAtOnce) {
    Board board;
    board.SetFlash(0, Pattern(4096, 2));
    std::atomic<int> queued{0};
    std::atomic<int> taken{0};
    board.SetInputListener([&] { ++queued; });

    std::thread reader([&] {
        while (taken < 500) {
            if (TakeInput(board) == InputResult::Report) {
                ++taken;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread feeder([&] {
        for (int i = 0; i < 500; ++i) board.QueueInputText(i % 30, "abcdefg");
    });
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Read(board, 0, 0, 4096), Pattern(4096, 2));
        EXPECT_TRUE(GetStatus(board).ok);
    }
    feeder.join();
    reader.join();
    EXPECT_EQ(queued, 500);
    EXPECT_EQ(taken, 500);
    EXPECT_TRUE(board.Violations().empty());
}

}  // namespace
}  // namespace sim::test
