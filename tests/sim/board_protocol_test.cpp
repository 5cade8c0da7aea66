// The board's firmware as the host sees it: command reports in, answers out, flash changed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/sim/host_reports.h"

namespace {

using simtest::BusCommand;
using simtest::Command;
using simtest::Fetch;
using simtest::GetStatus;
using simtest::Pattern;
using simtest::Read;
using simtest::Report;
using simtest::Send;
using simtest::Write;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

size_t CountEntries(const sim::Board& board, sim::Direction direction) {
    size_t count = 0;
    for (const sim::LogEntry& entry : board.Log()) {
        count += entry.direction == direction ? 1 : 0;
    }
    return count;
}

// ---------------------------------------------------------------- streamed transfers

struct TransferCase {
    uint16_t length;
    size_t reports;
};

class TransferCountTest : public ::testing::TestWithParam<TransferCase> {};

TEST_P(TransferCountTest, ReadUsesOneAnswerPer63BytesAndThenEnds) {
    const TransferCase c = GetParam();
    sim::Board board;
    const std::vector<uint8_t> content = Pattern(c.length, 3);
    board.SetFlash(5 * sim::kBankSize + 100, content);

    EXPECT_EQ(Read(board, 5, 100, c.length), content);
    EXPECT_EQ(CountEntries(board, sim::Direction::Feature), c.reports);
    // The read is over: the next fetch is a status answer, not more data.
    Report answer{};
    ASSERT_TRUE(Fetch(board, answer));
    EXPECT_EQ(answer[1], sim::kCmdGetStatus);
    EXPECT_TRUE(board.Violations().empty());
}

TEST_P(TransferCountTest, WriteTakesOneDataReportPer63BytesAndThenEnds) {
    const TransferCase c = GetParam();
    sim::Board board;
    const std::vector<uint8_t> content = Pattern(c.length, 9);

    ASSERT_TRUE(Write(board, 7, 0x0100, content));
    EXPECT_EQ(CountEntries(board, sim::Direction::Out), 1 + c.reports);
    const std::vector<uint8_t> flash = board.Flash();
    const size_t at = 7 * sim::kBankSize + 0x0100;
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + at, flash.begin() + at + c.length), content);
    EXPECT_EQ(flash[at + c.length], 0xFF);
    EXPECT_EQ(flash[at - 1], 0xFF);
    // One more data report finds no write pending.
    Send(board, Report{});
    ASSERT_EQ(board.Violations().size(), 1u);
    EXPECT_THAT(board.Violations()[0], HasSubstr("data report with no CMD_WRITE pending"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransferCountTest,
                         ::testing::Values(TransferCase{1, 1}, TransferCase{63, 1},
                                           TransferCase{64, 2}, TransferCase{256, 5},
                                           TransferCase{32768, 521}, TransferCase{65535, 1041}));

TEST(BoardTransferTest, ReadAnswerCarriesDataInBytes2To64AndZerosAfterALastShortOne) {
    sim::Board board;
    board.SetFlash(0, Pattern(64, 1));
    ASSERT_TRUE(Send(board, Command(sim::kCmdRead, 0, 0, 64)));
    Report first{};
    Report last{};
    ASSERT_TRUE(Fetch(board, first));
    ASSERT_TRUE(Fetch(board, last));
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[2], Pattern(64, 1)[0]);
    EXPECT_EQ(first[64], Pattern(64, 1)[62]);
    EXPECT_EQ(last[2], Pattern(64, 1)[63]);
    for (size_t i = 3; i < sim::kReportSize; ++i) {
        EXPECT_EQ(last[i], 0) << i;
    }
}

TEST(BoardTransferTest, WriteAndReadRunLinearlyAcrossABankEnd) {
    sim::Board board;
    const std::vector<uint8_t> content = Pattern(200, 5);
    ASSERT_TRUE(Write(board, 2, 0xFFC0, content));

    const std::vector<uint8_t> flash = board.Flash();
    const size_t at = 2 * sim::kBankSize + 0xFFC0;
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + at, flash.begin() + at + 200), content);
    EXPECT_EQ(board.FlashByte(3 * sim::kBankSize), content[0x40]);
    EXPECT_EQ(Read(board, 2, 0xFFC0, 200), content);
    EXPECT_EQ(Read(board, 3, 0, 10),
              std::vector<uint8_t>(content.begin() + 0x40, content.begin() + 0x4A));
    EXPECT_TRUE(board.Violations().empty());
}

TEST(BoardTransferTest, EraseSetsOnlyTheNamedBankToFF) {
    sim::Board board;
    board.FillFlash(0x00);
    ASSERT_TRUE(Send(board, Command(sim::kCmdErase, 4)));
    EXPECT_EQ(board.FlashByte(4 * sim::kBankSize - 1), 0x00);
    EXPECT_EQ(board.FlashByte(4 * sim::kBankSize), 0xFF);
    EXPECT_EQ(board.FlashByte(5 * sim::kBankSize - 1), 0xFF);
    EXPECT_EQ(board.FlashByte(5 * sim::kBankSize), 0x00);
    EXPECT_TRUE(board.Violations().empty());
}

TEST(BoardTransferTest, EraseOfABankBeyondTheFlashErasesNothing) {
    sim::Board board;
    board.FillFlash(0x00);
    ASSERT_TRUE(Send(board, Command(sim::kCmdErase, 44)));
    const std::vector<uint8_t> flash = board.Flash();
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), 0);
    ASSERT_EQ(board.Violations().size(), 1u);
    EXPECT_THAT(board.Violations()[0], HasSubstr("CMD_ERASE of bank 44"));
}

TEST(BoardTransferTest, TransferPastTheEndOfTheFlashReadsFFAndDropsData) {
    sim::Board board;
    board.FillFlash(0x11);
    const std::vector<uint8_t> read = Read(board, 31, 0xFFFE, 4);
    EXPECT_EQ(read, (std::vector<uint8_t>{0x11, 0x11, 0xFF, 0xFF}));
    ASSERT_TRUE(Write(board, 31, 0xFFFF, {0x01, 0x02}));
    EXPECT_EQ(board.FlashByte(sim::kFlashSize - 1), 0x01);
    EXPECT_EQ(board.FlashByte(0), 0x11);  // nothing wrapped round
    ASSERT_EQ(board.Violations().size(), 2u);
    EXPECT_THAT(board.Violations()[0], HasSubstr("CMD_READ past the end of the flash"));
    EXPECT_THAT(board.Violations()[1], HasSubstr("CMD_WRITE past the end of the flash"));
}

TEST(BoardTransferTest, NewCommandAfterAFailedExchangeEndsTheTransferQuietly) {
    sim::Board board;
    // A data report fails; the host gives the write up and goes on with a status query.
    ASSERT_TRUE(Send(board, Command(sim::kCmdWrite, 0, 0, 200)));
    board.InjectFault(board.ExchangeCount() + 1, sim::Fault::FailWrite);
    EXPECT_TRUE(Send(board, Report{}));
    EXPECT_FALSE(Send(board, Report{}));
    EXPECT_TRUE(GetStatus(board).ok);
    // A fetch is refused in the middle of a read; the host starts the next read.
    ASSERT_TRUE(Send(board, Command(sim::kCmdRead, 1, 0, 200)));
    board.InjectFault(board.ExchangeCount(), sim::Fault::RefuseFeature);
    Report answer{};
    EXPECT_FALSE(Fetch(board, answer));
    EXPECT_EQ(Read(board, 2, 0, 10).size(), 10u);
    EXPECT_TRUE(board.Violations().empty());
}

// ---------------------------------------------------------------- status and bus

TEST(BoardStatusTest, AFetchWithNothingPendingIsAStatusAnswer) {
    sim::Board board;
    Report answer{};
    ASSERT_TRUE(Fetch(board, answer));
    EXPECT_EQ(answer[1], sim::kCmdGetStatus);
    EXPECT_EQ(answer[2], 0);
    EXPECT_EQ(answer[4], sim::kBusReleased);
    EXPECT_TRUE(board.Violations().empty());
}

TEST(BoardStatusTest, EraseIsBusyForTheSetNumberOfStatusAnswers) {
    for (int polls : {0, 1, 3}) {
        sim::Board board;
        board.SetEraseBusyPolls(polls);
        ASSERT_TRUE(Send(board, Command(sim::kCmdErase, 1)));
        for (int i = 0; i < polls; ++i) {
            EXPECT_EQ(GetStatus(board).busy, 1) << polls << " poll " << i;
        }
        EXPECT_EQ(GetStatus(board).busy, 0) << polls;
        EXPECT_EQ(GetStatus(board).busy, 0) << polls;
    }
}

struct BusCase {
    const char* name;
    int handoverPolls;
    bool heldByOther;
    std::vector<uint8_t> script;
    std::vector<bool> commands;    // true: request, false: release
    std::vector<uint8_t> answers;  // busState of the status queries after the last command
    uint8_t finalState;
};

class BoardBusTest : public ::testing::TestWithParam<BusCase> {};

TEST_P(BoardBusTest, StatusAnswersFollowTheHandOver) {
    const BusCase& c = GetParam();
    sim::Board board;
    board.SetBusHandoverPolls(c.handoverPolls);
    board.SetBusHeldByOther(c.heldByOther);
    for (size_t i = 0; i < c.commands.size(); ++i) {
        ASSERT_TRUE(Send(board, BusCommand(c.commands[i])));
        if (i + 1 < c.commands.size()) {
            while (GetStatus(board).bus == sim::kBusInProgress) {
            }
        }
    }
    board.ScriptBusStates(c.script);
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < c.answers.size(); ++i) {
        answers.push_back(GetStatus(board).bus);
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(board.BusState(), c.finalState);
    EXPECT_TRUE(board.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BoardBusTest,
    ::testing::Values(
        BusCase{"RequestGrantedAtOnce", 0, false, {}, {true}, {0, 0}, sim::kBusGranted},
        BusCase{"RequestInProgressFirst", 2, false, {}, {true}, {4, 4, 0, 0}, sim::kBusGranted},
        BusCase{"ReleaseAtOnce", 0, false, {}, {true, false}, {1}, sim::kBusReleased},
        BusCase{"ReleaseShowsTheOldStateFirst",
                2,
                false,
                {},
                {true, false},
                {0, 0, 1},
                sim::kBusReleased},
        BusCase{"RequestWhileHeldByOther", 1, true, {}, {true}, {3, 3, 3}, sim::kBusHeldByOther},
        BusCase{"ReleaseAfterBusy", 0, true, {}, {true, false}, {1}, sim::kBusReleased},
        BusCase{"ScriptComesFirstAndStopsTheHandOver",
                1,
                false,
                {1, 2, 1},
                {true},
                {1, 2, 1, 4, 0},
                sim::kBusGranted},
        BusCase{"NothingAsked", 0, false, {}, {}, {1}, sim::kBusReleased}),
    [](const ::testing::TestParamInfo<BusCase>& info) { return std::string(info.param.name); });

TEST(BoardBusOtherPartyTest, RequestIsGrantedOnceTheOtherPartyLetsGo) {
    sim::Board board;
    board.SetBusHandoverPolls(1);
    board.SetBusHeldByOther(true);
    ASSERT_TRUE(Send(board, BusCommand(true)));
    EXPECT_EQ(GetStatus(board).bus, sim::kBusHeldByOther);
    board.SetBusHeldByOther(false);
    EXPECT_EQ(GetStatus(board).bus, sim::kBusInProgress);
    EXPECT_EQ(GetStatus(board).bus, sim::kBusGranted);
}

TEST(BoardBusOtherPartyTest, HeldByOtherDoesNotTakeABusAlreadyGranted) {
    sim::Board board;
    ASSERT_TRUE(Send(board, BusCommand(true)));
    EXPECT_EQ(GetStatus(board).bus, sim::kBusGranted);
    board.SetBusHeldByOther(true);
    EXPECT_EQ(GetStatus(board).bus, sim::kBusGranted);
}

// ---------------------------------------------------------------- protocol breaches

struct BreachCase {
    const char* name;
    std::function<bool(sim::Board&)> act;  // what the host does; the last exchange's result
    bool accepted;
    const char* violation;
};

Report With(Report report, size_t index, uint8_t value) {
    report[index] = value;
    return report;
}

class BoardBreachTest : public ::testing::TestWithParam<BreachCase> {};

TEST_P(BoardBreachTest, IsRecordedAsAViolation) {
    const BreachCase& c = GetParam();
    sim::Board board;
    EXPECT_EQ(c.act(board), c.accepted);
    const std::vector<std::string> violations = board.Violations();
    ASSERT_EQ(violations.size(), 1u) << ::testing::PrintToString(violations);
    EXPECT_THAT(violations[0], HasSubstr(c.violation));
    EXPECT_THAT(violations[0], ::testing::StartsWith("exchange "));
    EXPECT_THAT(board.Transcript(), HasSubstr(std::string("! violation: ") + c.violation));
}

INSTANTIATE_TEST_SUITE_P(
    Breaches, BoardBreachTest,
    ::testing::Values(
        BreachCase{"ShortOutputReport",
                   [](sim::Board& b) {
                       const Report r = Command(sim::kCmdGetStatus);
                       return b.WriteOutputReport(r.data(), 64);
                   },
                   false, "output report of 64 bytes (must be 65)"},
        BreachCase{"NumberedOutputReport",
                   [](sim::Board& b) { return Send(b, With(Command(sim::kCmdGetStatus), 0, 1)); },
                   false, "output report with report ID 1"},
        BreachCase{"UnknownCommand", [](sim::Board& b) { return Send(b, Command(7)); }, true,
                   "unknown command 7"},
        BreachCase{"DataWithoutWrite", [](sim::Board& b) { return Send(b, Report{}); }, true,
                   "data report with no CMD_WRITE pending"},
        BreachCase{"WriteOfLengthZero",
                   [](sim::Board& b) { return Send(b, Command(sim::kCmdWrite, 1, 0, 0)); }, true,
                   "CMD_WRITE of length 0"},
        BreachCase{"ReadOfLengthZero",
                   [](sim::Board& b) { return Send(b, Command(sim::kCmdRead, 1, 0, 0)); }, true,
                   "CMD_READ of length 0"},
        BreachCase{"ShortFeatureFetch",
                   [](sim::Board& b) {
                       Report r{};
                       return b.GetFeatureReport(r.data(), 9);
                   },
                   false, "feature fetch of 9 bytes (must be 65)"},
        BreachCase{"NumberedFeatureFetch",
                   [](sim::Board& b) {
                       Report r{};
                       r[0] = 2;
                       return b.GetFeatureReport(r.data(), r.size());
                   },
                   false, "feature fetch with report ID 2"},
        BreachCase{"StaleByteInCommand",
                   [](sim::Board& b) { return Send(b, With(Command(sim::kCmdGetStatus), 64, 9)); },
                   true, "CMD_GET_STATUS command report has byte 64 = 9"},
        BreachCase{
            "StaleByteAfterTransferArguments",
            [](sim::Board& b) { return Send(b, With(Command(sim::kCmdRead, 0, 0, 1), 7, 1)); },
            true, "CMD_READ command report has byte 7 = 1"},
        BreachCase{"BusModeOtherThanRequestOrRelease",
                   [](sim::Board& b) { return Send(b, With(BusCommand(true), 3, 2)); }, true,
                   "CMD_BUS with byte 3 = 2"},
        BreachCase{"BusByte2NotZero",
                   [](sim::Board& b) { return Send(b, With(BusCommand(true), 2, 1)); }, true,
                   "CMD_BUS with byte 2 = 1"},
        BreachCase{"EraseWithOffset",
                   [](sim::Board& b) { return Send(b, Command(sim::kCmdErase, 1, 0x0010)); }, true,
                   "CMD_ERASE with offset 0x0010"},
        BreachCase{"CommandInsteadOfWriteData",
                   [](sim::Board& b) {
                       Send(b, Command(sim::kCmdWrite, 0, 0, 100));
                       Send(b, Report{});
                       return Send(b, Command(sim::kCmdGetStatus));
                   },
                   true, "CMD_WRITE abandoned by GET_STATUS with 37 bytes outstanding"},
        BreachCase{"CommandBeforeTheReadIsFetched",
                   [](sim::Board& b) {
                       Send(b, Command(sim::kCmdRead, 0, 0, 64));
                       return Send(b, BusCommand(false));
                   },
                   true, "CMD_READ abandoned by BUS release with 64 bytes outstanding"},
        BreachCase{"FetchDuringWriteData",
                   [](sim::Board& b) {
                       Send(b, Command(sim::kCmdWrite, 0, 0, 10));
                       Report r{};
                       return Fetch(b, r);
                   },
                   true, "CMD_WRITE abandoned by a feature fetch with 10 bytes outstanding"}),
    [](const ::testing::TestParamInfo<BreachCase>& info) { return std::string(info.param.name); });

TEST(BoardBreachTest, ViolationsNameTheExchangeAndOutliveClearLog) {
    sim::Board board;
    EXPECT_TRUE(GetStatus(board).ok);
    Send(board, Command(9));
    board.ClearLog();
    EXPECT_THAT(board.Violations(), ElementsAre("exchange 2: unknown command 9; ignored"));
    board.ClearViolations();
    EXPECT_TRUE(board.Violations().empty());
}

TEST(BoardBreachTest, AFullSessionOfSoundTrafficLeavesNone) {
    sim::Board board;
    board.SetEraseBusyPolls(2);
    board.SetBusHandoverPolls(1);
    EXPECT_TRUE(GetStatus(board).ok);
    ASSERT_TRUE(Send(board, BusCommand(true)));
    while (GetStatus(board).bus != sim::kBusGranted) {
    }
    ASSERT_TRUE(Send(board, Command(sim::kCmdErase, 3)));
    while (GetStatus(board).busy != 0) {
    }
    ASSERT_TRUE(Write(board, 3, 0, Pattern(32768)));
    ASSERT_TRUE(Write(board, 3, 32768, Pattern(32768, 1)));
    EXPECT_EQ(Read(board, 3, 0, 32768), Pattern(32768));
    ASSERT_TRUE(Send(board, BusCommand(false)));
    while (GetStatus(board).bus != sim::kBusReleased) {
    }
    EXPECT_TRUE(board.Violations().empty()) << ::testing::PrintToString(board.Violations());
    EXPECT_EQ(board.CountCommands(sim::kCmdWrite), 2);
    EXPECT_EQ(board.CountCommands(sim::kCmdBus), 2);
    EXPECT_EQ(board.CountCommands(sim::kCmdErase), 1);
    EXPECT_EQ(board.CountCommands(0), 0);
}

}  // namespace
