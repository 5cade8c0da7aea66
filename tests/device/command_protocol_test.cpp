#include "device/command_protocol.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_access.h"
#include "support/board_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

// A 65-byte report, zero but for the bytes named.
Bytes Report(const std::map<size_t, uint8_t>& bytes) {
    Bytes report(kReportSize, 0);
    for (const auto& [at, value] : bytes) {
        report[at] = value;
    }
    return report;
}

std::vector<Bytes> OutReports(const sim::Board& board) {
    std::vector<Bytes> reports;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction == sim::Direction::Out && !entry.failed) {
            reports.push_back(entry.bytes);
        }
    }
    return reports;
}

int StatusQuery() {
    FeatureReport answer = {};
    return GetStatus(answer);
}

using CommandProtocolTest = BoardTest;

struct CommandLayout {
    const char* name;
    std::function<int()> run;
    std::map<size_t, uint8_t> bytes;
};

class CommandLayoutTest : public BoardTest, public ::testing::WithParamInterface<CommandLayout> {};

TEST_P(CommandLayoutTest, CommandReportIsZeroButForItsFields) {
    allowViolations = true;  // bank 44 of EraseBank(300) is past the flash
    EXPECT_EQ(GetParam().run(), 1);

    std::vector<Bytes> reports = OutReports(board);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0], Report(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandLayoutTest,
    ::testing::Values(CommandLayout{"GetStatus", StatusQuery, {{1, 5}}},
                      CommandLayout{"ResetBoard", ResetBoard, {{1, 1}}},
                      CommandLayout{"EraseBank7", [] { return EraseBank(7); }, {{1, 2}, {2, 7}}},
                      // Only the low byte of the bank number goes out.
                      CommandLayout{
                          "EraseBank300", [] { return EraseBank(300); }, {{1, 2}, {2, 44}}},
                      CommandLayout{"GetBus", GetBus, {{1, 8}, {3, 1}}},
                      CommandLayout{"ReleaseBus", ReleaseBus, {{1, 8}}}),
    [](const ::testing::TestParamInfo<CommandLayout>& info) { return info.param.name; });

TEST_F(CommandProtocolTest, GetStatusHandsTheAnswerToTheCaller) {
    board.ScriptBusStates({3});
    FeatureReport answer;
    answer.fill(0xAA);

    EXPECT_EQ(GetStatus(answer), 1);

    EXPECT_EQ(answer[kReportIdByte], 0);
    EXPECT_EQ(answer[kBusyByte], 0);
    EXPECT_EQ(answer[kBusStateByte], 3);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CommandProtocolTest, GetStatusReportsEachFailureAndKeepsTheBufferOnAFailedSend) {
    board.InjectFault(0, sim::Fault::FailWrite);
    board.InjectFault(2, sim::Fault::RefuseFeature);
    FeatureReport answer;
    answer.fill(0xAA);
    const FeatureReport untouched = answer;

    EXPECT_EQ(GetStatus(answer), 0);
    EXPECT_EQ(answer, untouched);
    EXPECT_EQ(GetStatus(answer), 0);
    EXPECT_EQ(BoxTexts(), (Texts{"Error sending CMD_STATUS response.",
                                 "Error reading CMD_GET_STATUS response."}));
}

struct SendFailure {
    const char* name;
    std::function<int()> run;
    const char* message;
};

class SendFailureTest : public BoardTest, public ::testing::WithParamInterface<SendFailure> {};

TEST_P(SendFailureTest, ReportsItsOwnMessageAndQueriesNothing) {
    board.InjectFault(0, sim::Fault::FailWrite);

    EXPECT_EQ(GetParam().run(), 0);

    EXPECT_EQ(BoxTexts(), Texts{GetParam().message});
    EXPECT_EQ(board.ExchangeCount(), 1u);
    EXPECT_TRUE(IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SendFailureTest,
    ::testing::Values(SendFailure{"GetStatus", StatusQuery, "Error sending CMD_STATUS response."},
                      SendFailure{"EraseBank", [] { return EraseBank(3); },
                                  "Error sending CMD_ERASE command."},
                      SendFailure{"GetBus", GetBus, "Error sending GetBus command."},
                      SendFailure{"ReleaseBus", ReleaseBus, "Error sending ReleaseBus command."}),
    [](const ::testing::TestParamInfo<SendFailure>& info) { return info.param.name; });

struct BusPoll {
    const char* name;
    std::function<int()> run;
    std::vector<uint8_t> states;  // busState answered by the successive status queries
    int result;
    int queries;
    Texts boxes;
};

class BusPollTest : public BoardTest, public ::testing::WithParamInterface<BusPoll> {};

TEST_P(BusPollTest, QueriesUntilTheHandOverEnds) {
    board.ScriptBusStates(GetParam().states);

    EXPECT_EQ(GetParam().run(), GetParam().result);

    EXPECT_EQ(board.CountCommands(CMD_GET_STATUS), GetParam().queries);
    EXPECT_EQ(board.CountCommands(CMD_BUS), 1);
    EXPECT_EQ(BoxTexts(), GetParam().boxes);
}

const Texts kBusBusy = {"Bus busy. Please try again later"};

INSTANTIATE_TEST_SUITE_P(
    Polls, BusPollTest,
    ::testing::Values(
        BusPoll{"GetBusGrantedAtOnce", GetBus, {0}, 1, 1, {}},
        BusPoll{"GetBusAfterReleased", GetBus, {1, 1, 0}, 1, 3, {}},
        BusPoll{"GetBusBusyAtOnce", GetBus, {3}, 0, 1, kBusBusy},
        BusPoll{"GetBusBusyBitAmongOthers", GetBus, {1, 4, 0xFE}, 0, 3, kBusBusy},
        BusPoll{"ReleaseBusAtOnce", ReleaseBus, {1}, 1, 1, {}},
        // The release waits out the other side's busy bit.
        BusPoll{"ReleaseBusRidesOverGrantedAndBusy", ReleaseBus, {0, 2, 0, 3, 1}, 1, 5, {}}),
    [](const ::testing::TestParamInfo<BusPoll>& info) { return info.param.name; });

TEST_F(CommandProtocolTest, EraseBankPollsUntilTheBoardIsIdle) {
    for (int busyPolls : {0, 1, 4}) {
        board.ClearLog();
        board.SetEraseBusyPolls(busyPolls);
        EXPECT_EQ(EraseBank(5), 1);
        EXPECT_EQ(board.CountCommands(CMD_GET_STATUS), busyPolls + 1) << busyPolls;
    }
    EXPECT_TRUE(BoxTexts().empty());
}

struct FailingQuery {
    const char* name;
    std::function<void(sim::Board&)> arrange;
    std::function<int()> run;
    uint64_t exchange;
    sim::Fault fault;
    const char* message;
};

class FailingQueryTest : public BoardTest, public ::testing::WithParamInterface<FailingQuery> {};

// Exchanges: 0 the command, then per status query its command and its answer.
TEST_P(FailingQueryTest, EndsThePollWithOneBoxAndResultOne) {
    GetParam().arrange(board);
    board.InjectFault(GetParam().exchange, GetParam().fault);

    EXPECT_EQ(GetParam().run(), 1);

    EXPECT_EQ(BoxTexts(), Texts{GetParam().message});
    EXPECT_EQ(board.ExchangeCount(), GetParam().exchange + 1);
}

const char kSendStatus[] = "Error sending CMD_STATUS response.";
const char kReadStatus[] = "Error reading CMD_GET_STATUS response.";
void EraseStaysBusy(sim::Board& b) { b.SetEraseBusyPolls(1000); }
void BusStaysInProgress(sim::Board& b) { b.ScriptBusStates(std::vector<uint8_t>(1000, 4)); }
void BusStaysGranted(sim::Board& b) { b.ScriptBusStates(std::vector<uint8_t>(1000, 0)); }

INSTANTIATE_TEST_SUITE_P(
    Polls, FailingQueryTest,
    ::testing::Values(FailingQuery{"EraseFirstQueryUnplugged", EraseStaysBusy,
                                   [] { return EraseBank(1); }, 1, sim::Fault::Unplug, kSendStatus},
                      FailingQuery{"EraseLaterAnswerRefused", EraseStaysBusy,
                                   [] { return EraseBank(1); }, 6, sim::Fault::RefuseFeature,
                                   kReadStatus},
                      FailingQuery{"GetBusFirstAnswerRefused", BusStaysInProgress, GetBus, 2,
                                   sim::Fault::RefuseFeature, kReadStatus},
                      FailingQuery{"GetBusLaterQueryUnplugged", BusStaysInProgress, GetBus, 5,
                                   sim::Fault::Unplug, kSendStatus},
                      FailingQuery{"ReleaseBusFirstQueryUnplugged", BusStaysGranted, ReleaseBus, 1,
                                   sim::Fault::Unplug, kSendStatus},
                      FailingQuery{"ReleaseBusLaterAnswerRefused", BusStaysGranted, ReleaseBus, 8,
                                   sim::Fault::RefuseFeature, kReadStatus}),
    [](const ::testing::TestParamInfo<FailingQuery>& info) { return info.param.name; });

TEST_F(CommandProtocolTest, ResetBoardWaitsTwoSecondsThenResetsAndGivesUpTheChannel) {
    uint64_t start = standin::NowMs();

    EXPECT_EQ(ResetBoard(), 1);

    EXPECT_FALSE(IsConnected());
    EXPECT_EQ(standin::OpenHandleCount(), 0);
    EXPECT_EQ(standin::SleepCalls(), std::vector<DWORD>{2000});
    std::vector<sim::LogEntry> log = board.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_GE(log[0].timeMs, start + 2000);
    EXPECT_FALSE(board.IsPresent());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CommandProtocolTest, ResetBoardClosesTheHandleEvenWhenTheWriteFails) {
    board.InjectFault(0, sim::Fault::FailWrite);
    bool connectedDuringBox = true;
    int handlesDuringBox = -1;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
        connectedDuringBox = IsConnected();
        handlesDuringBox = standin::OpenHandleCount();
        return IDOK;
    });

    EXPECT_EQ(ResetBoard(), 0);

    EXPECT_EQ(BoxTexts(), Texts{"Error sending CMD_RESET command."});
    EXPECT_FALSE(connectedDuringBox);
    EXPECT_EQ(handlesDuringBox, 0);
    EXPECT_FALSE(IsConnected());
}

TEST_F(CommandProtocolTest, ResetBoardWhenNotConnectedSendsNothing) {
    CloseCommandChannel();

    EXPECT_EQ(ResetBoard(), 0);

    EXPECT_EQ(BoxTexts(), Texts{"Error sending CMD_RESET command."});
    EXPECT_EQ(board.ExchangeCount(), 0u);
}

// The only way to see the order of marking and waiting is to look from another thread during
// the real two seconds.
TEST_F(CommandProtocolTest, ResetBoardIsNotConnectedDuringItsWait) {
    standin::SetVirtualClock(false);
    std::atomic<bool> done{false};
    std::thread resetter([&] {
        ResetBoard();
        done = true;
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (IsConnected() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool connected = IsConnected();
    uint64_t exchangesSeen = board.ExchangeCount();
    bool finished = done;
    resetter.join();

    EXPECT_FALSE(connected);
    EXPECT_EQ(exchangesSeen, 0u);
    EXPECT_FALSE(finished);
    EXPECT_EQ(board.CountCommands(CMD_RESET), 1);
}

}  // namespace
