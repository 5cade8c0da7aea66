// The board's firmware as the host sees it: command reports in, answers out, flash changed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/sim/host_reports.h"

namespace sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<uint8_t> FlashAt(const Board& board, size_t address, size_t length) {
    const std::vector<uint8_t> flash = board.Flash();
    return std::vector<uint8_t>(flash.begin() + address, flash.begin() + address + length);
}

struct TransferCase {
    uint16_t length;
    size_t reports;
};

class TransferCountTest : public ::testing::TestWithParam<TransferCase> {};

// The longest transfers run on from bank 7 into bank 8.
TEST_P(TransferCountTest, OneReportPer63BytesAndThenTheTransferEnds) {
    const TransferCase c = GetParam();
    Board board;
    const std::vector<uint8_t> content = Pattern(c.length, 3);
    const size_t at = 7 * kBankSize + 0x0100;
    ASSERT_TRUE(Write(board, 7, 0x0100, content));
    EXPECT_EQ(board.Log().size(), 1 + c.reports);
    EXPECT_EQ(FlashAt(board, at, c.length), content);
    EXPECT_EQ(board.FlashByte(at - 1), 0xFF);
    EXPECT_EQ(board.FlashByte(at + c.length), 0xFF);

    board.ClearLog();
    EXPECT_EQ(Read(board, 7, 0x0100, c.length), content);
    const std::vector<LogEntry> log = board.Log();
    ASSERT_EQ(log.size(), 1 + c.reports);
    // Data in bytes 2 to 64; the last answer is padded with zeros.
    const std::vector<uint8_t>& last = log.back().bytes;
    const size_t tail = c.length - kPayloadSize * (c.reports - 1);
    EXPECT_EQ(last[0], 0);
    EXPECT_EQ(last[2 + tail - 1], content.back());
    EXPECT_EQ(std::vector<uint8_t>(last.begin() + 2 + tail, last.end()),
              std::vector<uint8_t>(kPayloadSize - tail, 0));
    // Both are over: one more fetch finds no read (the status answers it, asked for by
    // nobody), one more data report finds no write.
    EXPECT_TRUE(board.Violations().empty());
    Report answer{};
    ASSERT_TRUE(Fetch(board, answer));
    EXPECT_EQ(answer[1], kCmdGetStatus);
    Send(board, Report{});
    EXPECT_THAT(board.Violations(),
                ElementsAre(HasSubstr("feature fetch with no CMD_GET_STATUS or CMD_READ"),
                            HasSubstr("data report with no CMD_WRITE pending")));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransferCountTest,
                         ::testing::Values(TransferCase{1, 1}, TransferCase{63, 1},
                                           TransferCase{64, 2}, TransferCase{256, 5},
                                           TransferCase{32768, 521}, TransferCase{65535, 1041}));

// NOR flash: an erase sets its bank, and no other, to 0xFF; programming only clears bits.
TEST(BoardTransferTest, EraseSetsOnlyTheNamedBankToFFProgrammingOnlyClearsBits) {
    Board board;
    board.FillFlash(0x00);
    ASSERT_TRUE(Send(board, Command(kCmdErase, 4)));
    EXPECT_EQ(FlashAt(board, 4 * kBankSize, kBankSize), std::vector<uint8_t>(kBankSize, 0xFF));
    EXPECT_EQ(board.FlashByte(4 * kBankSize - 1), 0x00);
    EXPECT_EQ(board.FlashByte(5 * kBankSize), 0x00);
    board.SetFlash(0, {0xFF, 0x5A, 0x0F, 0xA5});
    ASSERT_TRUE(Write(board, 0, 0, {0x5A, 0xFF, 0xF0, 0x3C}));
    EXPECT_EQ(FlashAt(board, 0, 5), (std::vector<uint8_t>{0x5A, 0x5A, 0x00, 0x24, 0x00}));
    EXPECT_TRUE(board.Violations().empty());

    ASSERT_TRUE(Send(board, Command(kCmdErase, 44)));
    const std::vector<uint8_t> flash = board.Flash();
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), static_cast<long>(kBankSize));
    EXPECT_THAT(board.Violations(), ElementsAre(HasSubstr("CMD_ERASE of bank 44")));
}

TEST(BoardTransferTest, TransferPastTheEndOfTheFlashReadsFFAndDropsData) {
    Board board;
    board.FillFlash(0x11);
    EXPECT_EQ(Read(board, 31, 0xFFFE, 4), (std::vector<uint8_t>{0x11, 0x11, 0xFF, 0xFF}));
    // The second data report starts past the end.
    ASSERT_TRUE(Write(board, 31, 0xFFFF, std::vector<uint8_t>(100, 0x01)));
    EXPECT_EQ(board.FlashByte(kFlashSize - 2), 0x11);
    EXPECT_EQ(board.FlashByte(kFlashSize - 1), 0x01);
    EXPECT_EQ(board.FlashByte(0), 0x11);  // nothing wrapped round
    EXPECT_THAT(board.Violations(), ElementsAre(HasSubstr("CMD_READ past the end of the flash"),
                                                HasSubstr("CMD_WRITE past the end of the flash")));
}

// A host that gives a transfer up after a failure and starts the next command breaches nothing
// (the golden transcripts show the same for a write).
TEST(BoardTransferTest, NewCommandAfterAFailedExchangeEndsTheTransferQuietly) {
    Board board;
    ASSERT_TRUE(Send(board, Command(kCmdRead, 1, 0, 200)));
    board.InjectFault(board.ExchangeCount(), Fault::RefuseFeature);
    Report answer{};
    EXPECT_FALSE(Fetch(board, answer));
    EXPECT_EQ(Read(board, 2, 0, 10).size(), 10u);
    EXPECT_TRUE(board.Violations().empty());
}

TEST(BoardStatusTest, EraseIsBusyForTheSetNumberOfStatusAnswers) {
    for (int polls : {0, 1, 3}) {
        Board board;
        board.SetEraseBusyPolls(polls);
        ASSERT_TRUE(Send(board, Command(kCmdErase, 1)));
        std::vector<uint8_t> busy;
        for (int i = 0; i < polls + 2; ++i) busy.push_back(GetStatus(board).busy);
        std::vector<uint8_t> expected(polls + 2, 0);
        std::fill(expected.begin(), expected.begin() + polls, 1);
        EXPECT_EQ(busy, expected) << polls;
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
    Board board;
    board.SetBusHandoverPolls(c.handoverPolls);
    board.SetBusHeldByOther(c.heldByOther);
    for (size_t i = 0; i < c.commands.size(); ++i) {
        ASSERT_TRUE(Send(board, BusCommand(c.commands[i])));
        while (i + 1 < c.commands.size() && GetStatus(board).bus == kBusInProgress) {
        }
    }
    board.ScriptBusStates(c.script);
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < c.answers.size(); ++i) answers.push_back(GetStatus(board).bus);
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(board.BusState(), c.finalState);
    EXPECT_TRUE(board.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BoardBusTest,
    ::testing::Values(
        BusCase{"RequestGrantedAtOnce", 0, false, {}, {true}, {0, 0}, kBusGranted},
        BusCase{"RequestInProgressFirst", 2, false, {}, {true}, {4, 4, 0, 0}, kBusGranted},
        BusCase{"ReleaseAtOnce", 0, false, {}, {true, false}, {1}, kBusReleased},
        BusCase{"ReleaseShowsOldStateFirst", 2, false, {}, {true, false}, {0, 0, 1}, kBusReleased},
        BusCase{"RequestWhileHeldByOther", 1, true, {}, {true}, {3, 3, 3}, kBusHeldByOther},
        BusCase{"ReleaseAfterBusy", 0, true, {}, {true, false}, {1}, kBusReleased},
        BusCase{"ScriptFirstHoldsHandOver", 1, false, {1, 2, 1}, {true}, {1, 2, 1, 4, 0}, 0},
        BusCase{"NothingAsked", 0, false, {}, {}, {1}, kBusReleased}),
    [](const ::testing::TestParamInfo<BusCase>& info) { return std::string(info.param.name); });

// The other party takes the bus only from a board that has not granted it, and once it lets go
// the waiting request goes on with its hand-over.
TEST(BoardBusOtherPartyTest, HoldsOffOnlyARequestNotYetGranted) {
    Board granted;
    ASSERT_TRUE(Send(granted, BusCommand(true)));
    EXPECT_EQ(GetStatus(granted).bus, kBusGranted);
    granted.SetBusHeldByOther(true);
    EXPECT_EQ(GetStatus(granted).bus, kBusGranted);

    Board waiting;
    waiting.SetBusHandoverPolls(1);
    waiting.SetBusHeldByOther(true);
    ASSERT_TRUE(Send(waiting, BusCommand(true)));
    std::vector<uint8_t> answers = {GetStatus(waiting).bus};
    waiting.SetBusHeldByOther(false);
    answers.push_back(GetStatus(waiting).bus);
    answers.push_back(GetStatus(waiting).bus);
    EXPECT_EQ(answers, (std::vector<uint8_t>{kBusHeldByOther, kBusInProgress, kBusGranted}));
}

struct BreachCase {
    const char* name;
    std::function<bool(Board&)> act;  // what the host does; the last exchange's result
    bool accepted;
    const char* violation;
};

Report With(Report report, size_t index, uint8_t value) {
    report[index] = value;
    return report;
}

bool FetchWith(Board& board, uint8_t id, size_t length) {
    Report report{};
    report[0] = id;
    return board.GetFeatureReport(report.data(), length);
}

class BoardBreachTest : public ::testing::TestWithParam<BreachCase> {};

TEST_P(BoardBreachTest, IsRecordedAsAViolation) {
    const BreachCase& c = GetParam();
    Board board;
    EXPECT_EQ(c.act(board), c.accepted);
    const std::vector<std::string> violations = board.Violations();
    ASSERT_EQ(violations.size(), 1u) << ::testing::PrintToString(violations);
    EXPECT_THAT(violations[0], HasSubstr(c.violation));
    EXPECT_THAT(violations[0], ::testing::StartsWith("exchange "));
    EXPECT_THAT(board.Transcript(), HasSubstr(std::string("! violation: ") + c.violation));
}

// The breaches that the golden transcripts already show (a short output report, a numbered
// fetch, an unknown command, a bus mode of 7, a read left unfetched) and a data report with no
// write, which the transfer counts end with, are not repeated here.
using B = Board;
INSTANTIATE_TEST_SUITE_P(
    Breaches, BoardBreachTest,
    ::testing::Values(
        BreachCase{"NumberedOutputReport",
                   [](B& b) { return Send(b, With(Command(kCmdGetStatus), 0, 1)); }, false,
                   "output report with report ID 1"},
        BreachCase{"WriteOfLengthZero", [](B& b) { return Send(b, Command(kCmdWrite, 1, 0, 0)); },
                   true, "CMD_WRITE of length 0"},
        BreachCase{"ReadOfLengthZero", [](B& b) { return Send(b, Command(kCmdRead, 1, 0, 0)); },
                   true, "CMD_READ of length 0"},
        BreachCase{"ShortFeatureFetch", [](B& b) { return FetchWith(b, 0, 9); }, false,
                   "feature fetch of 9 bytes (must be 65)"},
        BreachCase{"StaleByteInCommand",
                   [](B& b) { return Send(b, With(Command(kCmdGetStatus), 64, 9)); }, true,
                   "CMD_GET_STATUS command report has byte 64 = 9"},
        BreachCase{"StaleByteAfterTransferArguments",
                   [](B& b) { return Send(b, With(Command(kCmdRead, 0, 0, 1), 7, 1)); }, true,
                   "CMD_READ command report has byte 7 = 1"},
        BreachCase{"BusByte2NotZero", [](B& b) { return Send(b, With(BusCommand(true), 2, 1)); },
                   true, "CMD_BUS with byte 2 = 1"},
        BreachCase{"EraseWithOffset", [](B& b) { return Send(b, Command(kCmdErase, 1, 0x0010)); },
                   true, "CMD_ERASE with offset 0x0010"},
        BreachCase{"CommandInsteadOfWriteData",
                   [](B& b) {
                       Send(b, Command(kCmdWrite, 0, 0, 100));
                       Send(b, Report{});
                       return Send(b, Command(kCmdGetStatus));
                   },
                   true, "CMD_WRITE abandoned by GET_STATUS with 37 bytes outstanding"},
        BreachCase{"FetchDuringWriteData",
                   [](B& b) {
                       return Send(b, Command(kCmdWrite, 0, 0, 10)) && FetchWith(b, 0, kReportSize);
                   },
                   true, "CMD_WRITE abandoned by a feature fetch with 10 bytes outstanding"},
        // A status answer is for the one fetch right after CMD_GET_STATUS.
        BreachCase{"FetchNobodyAskedFor", [](B& b) { return FetchWith(b, 0, kReportSize); }, true,
                   "feature fetch with no CMD_GET_STATUS or CMD_READ before it"},
        BreachCase{"SecondFetchForOneStatusQuery",
                   [](B& b) { return GetStatus(b).ok && FetchWith(b, 0, kReportSize); }, true,
                   "feature fetch with no CMD_GET_STATUS or CMD_READ before it"},
        BreachCase{"StatusQueryOvertakenByACommand",
                   [](B& b) {
                       return Send(b, Command(kCmdGetStatus)) && Send(b, BusCommand(true)) &&
                              FetchWith(b, 0, kReportSize);
                   },
                   true, "feature fetch with no CMD_GET_STATUS or CMD_READ before it"},
        BreachCase{"FetchAfterTheLastReadAnswer",
                   [](B& b) { return Read(b, 3, 0, 70).size() == 70 && FetchWith(b, 0, 65); }, true,
                   "feature fetch with no CMD_GET_STATUS or CMD_READ before it"}),
    [](const ::testing::TestParamInfo<BreachCase>& info) { return std::string(info.param.name); });

// A refused fetch leaves the status query waiting for its answer, as it leaves a read answer.
TEST(BoardStatusTest, RefusedFetchKeepsTheQueryAsked) {
    Board board;
    ASSERT_TRUE(Send(board, Command(kCmdGetStatus)));
    board.InjectFault(board.ExchangeCount(), Fault::RefuseFeature);
    Report answer{};
    EXPECT_FALSE(Fetch(board, answer));
    EXPECT_TRUE(Fetch(board, answer));
    EXPECT_TRUE(board.Violations().empty());
}

// Flash commands are served with or without the bus; one sent by a host that does not hold it
// is noted, unless an exchange failed while the host waited for the bus.
struct BusLapseCase {
    const char* name;
    std::function<void(Board&)> before;  // what the host does before its flash command
    const char* why;                     // nullptr: no event
    BusLapse lapse;
};

class BoardBusLapseTest : public ::testing::TestWithParam<BusLapseCase> {};

TEST_P(BoardBusLapseTest, FlashCommandsWithoutTheBusAreNotedAndServed) {
    const BusLapseCase& c = GetParam();
    for (uint8_t command : {kCmdRead, kCmdWrite, kCmdErase}) {
        SCOPED_TRACE(static_cast<int>(command));
        Board board;
        board.SetBusHandoverPolls(1);
        board.SetFlash(2 * kBankSize, {0x00});
        c.before(board);
        const uint64_t at = board.ExchangeCount();
        const std::string transcriptBefore = board.Transcript();
        const std::string name = command == kCmdRead    ? "CMD_READ"
                                 : command == kCmdWrite ? "CMD_WRITE"
                                                        : "CMD_ERASE";
        // Served all the same.
        if (command == kCmdRead) {
            EXPECT_EQ(Read(board, 2, 0, 1), std::vector<uint8_t>{0x00});
        } else if (command == kCmdWrite) {
            EXPECT_TRUE(Write(board, 2, 1, {0x5A}));
            EXPECT_EQ(board.FlashByte(2 * kBankSize + 1), 0x5A);
        } else {
            EXPECT_TRUE(Send(board, Command(kCmdErase, 2)));
        }
        EXPECT_EQ(board.FlashByte(2 * kBankSize), command == kCmdErase ? 0xFF : 0x00);
        const std::vector<ProtocolEvent> events = board.ProtocolEvents();
        ASSERT_EQ(events.size(), c.why == nullptr ? 0u : 1u);
        if (c.why != nullptr) {
            EXPECT_EQ(events[0].text, "exchange " + std::to_string(at) + ": " + name +
                                          " without the bus (" + c.why + ")");
            EXPECT_EQ(events[0].exchange, at);
            EXPECT_EQ(events[0].command, command);
            EXPECT_EQ(events[0].lapse, c.lapse);
        }
        // Not in the transcript, and no breach.
        EXPECT_THAT(board.Transcript(), ::testing::Not(HasSubstr("without the bus")));
        EXPECT_EQ(board.Transcript().substr(0, transcriptBefore.size()), transcriptBefore);
        EXPECT_TRUE(board.Violations().empty());
        board.ClearProtocolEvents();
        EXPECT_TRUE(board.ProtocolEvents().empty());
    }
}

// Polls the status until the bus is granted.
void TakeBus(Board& board) {
    ASSERT_TRUE(Send(board, BusCommand(true)));
    while (GetStatus(board).bus != kBusGranted) {
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, BoardBusLapseTest,
    ::testing::Values(BusLapseCase{"NeverRequested", [](Board&) {}, "never requested",
                                   BusLapse::NeverRequested},
                      BusLapseCase{"Granted", TakeBus, nullptr, {}},
                      BusLapseCase{"NotWaitedFor", [](Board& b) { Send(b, BusCommand(true)); },
                                   "requested, not granted yet", BusLapse::NotGranted},
                      BusLapseCase{"StillInProgress",
                                   [](Board& b) {
                                       Send(b, BusCommand(true));
                                       GetStatus(b);  // answers kBusInProgress
                                   },
                                   "requested, not granted yet", BusLapse::NotGranted},
                      BusLapseCase{"Refused",
                                   [](Board& b) {
                                       b.SetBusHeldByOther(true);
                                       Send(b, BusCommand(true));
                                       GetStatus(b);
                                   },
                                   "refused, the other side holds it", BusLapse::Refused},
                      BusLapseCase{"Released",
                                   [](Board& b) {
                                       TakeBus(b);
                                       Send(b, BusCommand(false));
                                   },
                                   "released", BusLapse::Released},
                      // The host goes by the answers it got.
                      BusLapseCase{"GrantedByAScriptedAnswer",
                                   [](Board& b) {
                                       Send(b, BusCommand(true));
                                       b.ScriptBusStates({kBusGranted});
                                       GetStatus(b);
                                   },
                                   nullptr,
                                   {}},
                      // A host whose poll or request failed cannot know better.
                      BusLapseCase{"PollRefusedOnTheLink",
                                   [](Board& b) {
                                       Send(b, BusCommand(true));
                                       Send(b, Command(kCmdGetStatus));
                                       b.InjectFault(b.ExchangeCount(), Fault::RefuseFeature);
                                       Report answer{};
                                       Fetch(b, answer);
                                   },
                                   nullptr,
                                   {}},
                      BusLapseCase{"RequestLostOnTheLink",
                                   [](Board& b) {
                                       b.InjectFault(b.ExchangeCount(), Fault::FailWrite);
                                       Send(b, BusCommand(true));
                                   },
                                   nullptr,
                                   {}},
                      BusLapseCase{"GrantedBeforeAReplug",
                                   [](Board& b) {
                                       TakeBus(b);
                                       b.Unplug();
                                       b.Plug();
                                   },
                                   "never requested", BusLapse::NeverRequested}),
    [](const ::testing::TestParamInfo<BusLapseCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace sim::test
