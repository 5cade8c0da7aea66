#include "device/command_protocol.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_access.h"
#include "support/board_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

constexpr char kSendStatus[] = "Error sending CMD_STATUS response.";
constexpr char kReadStatus[] = "Error reading CMD_GET_STATUS response.";
constexpr char kBusBusy[] = "Bus busy. Please try again later";
constexpr char kResetFailed[] = "Error sending CMD_RESET command.";

int StatusQuery() {
    FeatureReport answer = {};
    return GetStatus(answer);
}

class CommandProtocolTest : public BoardTest {
  protected:
    // Each case of a table starts from an idle board with an empty log and no boxes.
    void Fresh() {
        board.ClearLog();
        board.ClearFaults();
        board.ScriptBusStates({});
        board.SetEraseBusyPolls(0);
        standin::ClearMessageBoxes();
    }
};

TEST_F(CommandProtocolTest, CommandReportIsZeroButForItsFields) {
    allowViolations = true;       // bank 44 of EraseBank(300) is past the flash
    allowFlashWithoutBus = true;  // EraseBank alone: its callers take the bus
    const struct {
        std::function<int()> run;
        uint8_t command, byte2, byte3;
    } cases[] = {
        {StatusQuery, 5, 0, 0},
        {[] { return EraseBank(7); }, 2, 7, 0},
        {[] { return EraseBank(300); }, 2, 44, 0},  // only the low byte goes out
        {GetBus, 8, 0, 1},
        {ReleaseBus, 8, 0, 0},
        {ResetBoard, 1, 0, 0},  // last: the board is gone after it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.command) << " " << int(c.byte2));
        Fresh();
        EXPECT_EQ(c.run(), 1);
        Bytes expected(kReportSize, 0);
        expected[1] = c.command;
        expected[2] = c.byte2;
        expected[3] = c.byte3;
        ASSERT_FALSE(board.Log().empty());
        EXPECT_EQ(board.Log()[0].bytes, expected);
    }
}

TEST_F(CommandProtocolTest, GetStatusHandsOverTheAnswerOrReportsTheFailure) {
    board.ScriptBusStates({3});
    FeatureReport answer;
    answer.fill(0xAA);
    EXPECT_EQ(GetStatus(answer), 1);
    EXPECT_EQ(answer[kReportIdByte], 0);
    EXPECT_EQ(answer[kBusyByte], 0);
    EXPECT_EQ(answer[kBusStateByte], 3);
    EXPECT_TRUE(BoxTexts().empty());

    // A failed send leaves the caller's buffer as it was.
    board.InjectFault(2, sim::Fault::FailWrite);
    board.InjectFault(4, sim::Fault::RefuseFeature);
    answer.fill(0xAA);
    const FeatureReport untouched = answer;
    EXPECT_EQ(GetStatus(answer), 0);
    EXPECT_EQ(answer, untouched);
    EXPECT_EQ(GetStatus(answer), 0);
    EXPECT_EQ(BoxTexts(), (Texts{kSendStatus, kReadStatus}));
}

int EraseOne() { return EraseBank(1); }

// Exchanges: 0 the command, then per status query its command and its answer. A failure ends
// a poll with one box and result 1; a poll that went on would make more exchanges, since the
// board stays. A failed send of the command itself queries nothing and yields 0.
TEST_F(CommandProtocolTest, PollsQueryUntilTheAnswerIsFinalOrAQueryFails) {
    const std::vector<uint8_t> inProgress(1000, sim::kBusInProgress),
        granted(1000, sim::kBusGranted);
    const struct {
        const char* name;
        std::function<int()> run;
        std::vector<uint8_t> busStates;  // answered by the successive status queries
        int eraseBusy;                   // polls that the erase answers busy
        int failAt;  // this exchange fails: a report is refused where one goes out, else a fetch
        int result;
        uint64_t exchanges;
        Texts boxes;
    } cases[] = {
        {"status, send", StatusQuery, {}, 0, 0, 0, 1, {kSendStatus}},
        {"erase, send", EraseOne, {}, 0, 0, 0, 1, {"Error sending CMD_ERASE command."}},
        {"GetBus, send", GetBus, {}, 0, 0, 0, 1, {"Error sending GetBus command."}},
        {"ReleaseBus, send", ReleaseBus, {}, 0, 0, 0, 1, {"Error sending ReleaseBus command."}},
        {"erase idle at once", EraseOne, {}, 0, -1, 1, 3, {}},
        {"erase busy for 4 polls", EraseOne, {}, 4, -1, 1, 11, {}},
        {"erase, first query fails", EraseOne, {}, 1000, 1, 1, 2, {kSendStatus}},
        {"erase, later answer refused", EraseOne, {}, 1000, 6, 1, 7, {kReadStatus}},
        {"GetBus granted at once", GetBus, {0}, 0, -1, 1, 3, {}},
        {"GetBus after released", GetBus, {1, 1, 0}, 0, -1, 1, 7, {}},
        {"GetBus busy at once", GetBus, {3}, 0, -1, 0, 3, {kBusBusy}},
        {"GetBus busy bit among others", GetBus, {1, 4, 0xFE}, 0, -1, 0, 7, {kBusBusy}},
        {"GetBus, first answer refused", GetBus, inProgress, 0, 2, 1, 3, {kReadStatus}},
        {"GetBus, later query fails", GetBus, inProgress, 0, 5, 1, 6, {kSendStatus}},
        {"ReleaseBus at once", ReleaseBus, {1}, 0, -1, 1, 3, {}},
        // The release waits out the other side's busy bit.
        {"ReleaseBus over granted, busy", ReleaseBus, {0, 2, 0, 3, 1}, 0, -1, 1, 11, {}},
        {"ReleaseBus, first query fails", ReleaseBus, granted, 0, 1, 1, 2, {kSendStatus}},
        {"ReleaseBus, later answer refused", ReleaseBus, granted, 0, 8, 1, 9, {kReadStatus}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        board.ScriptBusStates(c.busStates);
        board.SetEraseBusyPolls(c.eraseBusy);
        if (c.failAt >= 0) {
            const bool goesOut = c.failAt == 0 || c.failAt % 2 == 1;
            board.InjectFault(c.failAt,
                              goesOut ? sim::Fault::FailWrite : sim::Fault::RefuseFeature);
        }

        EXPECT_EQ(c.run(), c.result);

        EXPECT_EQ(board.ExchangeCount(), c.exchanges);
        EXPECT_EQ(BoxTexts(), c.boxes);
        EXPECT_TRUE(IsConnected());
    }
}

// The channel is given up before the box of a failed send, and closed whether or not the
// command went out or there was a channel at all.
TEST_F(CommandProtocolTest, ResetBoardSendsAfterTwoSecondsAndGivesUpTheChannel) {
    const struct {
        bool connected, sendFails;
    } cases[] = {{true, false}, {true, true}, {false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connected ? (c.sendFails ? "send fails" : "sent") : "not connected");
        board.Plug();  // after the reset of the case before
        Fresh();
        ASSERT_TRUE(IsConnected() || OpenBoard() == 1);
        if (!c.connected) CloseCommandChannel();
        if (c.sendFails) board.InjectFault(0, sim::Fault::FailWrite);
        bool connectedDuringBox = false;
        int handlesDuringBox = 0;
        standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
            connectedDuringBox = IsConnected();
            handlesDuringBox = standin::OpenHandleCount();
            return IDOK;
        });
        const uint64_t start = standin::NowMs();
        const bool sent = c.connected && !c.sendFails;

        EXPECT_EQ(ResetBoard(), sent ? 1 : 0);

        EXPECT_FALSE(IsConnected());
        EXPECT_EQ(standin::OpenHandleCount(), 0);
        EXPECT_EQ(board.IsPresent(), !sent);
        EXPECT_EQ(board.Log().size(), c.connected ? 1u : 0u);
        for (const sim::LogEntry& entry : board.Log()) EXPECT_GE(entry.timeMs, start + 2000);
        EXPECT_EQ(BoxTexts(), sent ? Texts{} : Texts{kResetFailed});
        EXPECT_FALSE(connectedDuringBox);
        EXPECT_EQ(handlesDuringBox, 0);
    }
    EXPECT_EQ(standin::SleepCalls(), (std::vector<DWORD>(3, 2000)));
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
