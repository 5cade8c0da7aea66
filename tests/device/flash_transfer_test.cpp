#include "device/flash_transfer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "device/command_protocol.h"
#include "support/app_fixture.h"
#include "support/board_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

const std::string kBusTaken = "> BUS request\n> GET_STATUS\n< status busy=0 bus=0\n";
const std::string kBusReleased = "> BUS release\n> GET_STATUS\n< status busy=0 bus=1\n";

Bytes Pattern(size_t length, uint32_t seed) { return AppTest::Pattern(length, seed); }

// The reading texts for these kilobyte numbers, in order.
Texts Shown(const std::vector<int>& kilobytes) {
    Texts texts;
    for (int k : kilobytes) {
        char text[80];
        std::snprintf(text, sizeof(text), kReadingText, k);
        texts.push_back(text);
    }
    return texts;
}

// Another thread that takes and lets go of the DeviceLock, to tell whether the program holds
// it; the future waits for that thread when it goes.
std::future<void> LockProbe() {
    return std::async(std::launch::async, [] {
        EnterCriticalSection(&DeviceLock);
        LeaveCriticalSection(&DeviceLock);
    });
}

// Gives the probe a while to take the lock: a moment where the lock is expected to be held.
bool TookTheLock(const std::future<void>& probe, int ms = 5000) {
    return probe.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

class FlashTransferTest : public BoardTest {
  protected:
    // Each case of a table starts from erased flash, an empty log and no faults, boxes or texts.
    void Fresh() {
        board.FillFlash(0xFF);
        board.ClearLog();
        board.ClearFaults();
        standin::ClearMessageBoxes();
        standin::ClearHistory(window);
    }
};

// Reports carry 63 bytes each and stop at the length; the command bytes are checked by the
// board, and a data report carries nothing before its payload.
TEST_F(FlashTransferTest, TransfersUseOneReportPer63BytesAndNoMore) {
    allowFlashWithoutBus = true;  // the transfer alone: its callers take the bus
    const size_t base = 0x12 * 65536 + 0x3456;
    for (const auto& [length, reports] :
         {std::pair<uint16_t, size_t>{1, 1}, {63, 1}, {64, 2}, {256, 5}, {32768, 521}}) {
        SCOPED_TRACE(length);
        const std::string address = "bank=18 offset=0x3456 length=" + std::to_string(length);
        const std::string data =
            "data x" + std::to_string(reports) + " (" + std::to_string(length) + " bytes)\n";
        Fresh();
        const Bytes flash = Pattern(length + 100, length);
        Lay(base, flash);
        Bytes destination(length + 16, 0xEE);

        EXPECT_EQ(ReadFlash(0x12, 0x3456, destination.data(), length), 1);

        EXPECT_EQ(board.Transcript(), "> READ " + address + "\n< " + data);
        EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + length, destination.begin()));
        EXPECT_EQ(Bytes(destination.begin() + length, destination.end()), Bytes(16, 0xEE));

        Fresh();
        const Bytes source = Pattern(length, length + 1);

        EXPECT_EQ(WriteFlash(0x12, 0x3456, source.data(), length), 1);

        EXPECT_EQ(board.Transcript(), "> WRITE " + address + "\n> " + data);
        const std::vector<sim::LogEntry> log = board.Log();
        for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ(log[i].bytes[kCommandByte], 0);
        const Bytes written = board.Flash();
        EXPECT_TRUE(std::equal(source.begin(), source.end(), written.begin() + base));
        EXPECT_EQ(written[base + length], 0xFF);
        EXPECT_TRUE(BoxTexts().empty());
    }
}

TEST_F(FlashTransferTest, ZeroLengthIsRefusedWithNothingSent) {
    uint8_t buffer[1] = {};
    for (bool write : {false, true}) {
        SCOPED_TRACE(write);
        Fresh();
        StartProgress(4096);

        EXPECT_EQ(write ? WriteFlash(0, 0, buffer, 0) : ReadFlash(0, 0, buffer, 0), 0);

        EXPECT_EQ(BoxTexts(), Texts{"Invalid parameter."});
        EXPECT_EQ(board.ExchangeCount(), 0u);
        EXPECT_EQ(ProgressCounter.remaining, 4096u);
        EXPECT_TRUE(TookTheLock(LockProbe()));
    }
}

// The box is shown while the transfer still holds the DeviceLock; the lock is free after it.
TEST_F(FlashTransferTest, FailureShowsItsMessageUnderTheLockAndReleasesItAfter) {
    const struct {
        bool write;
        uint64_t exchange;
        sim::Fault fault;
        const char* message;
        size_t bytesDone;  // bytes that arrived (read) or were programmed (write) before it
    } cases[] = {
        {false, 0, sim::Fault::FailWrite, "Error sending CMD_READ command.", 0},
        {false, 3, sim::Fault::RefuseFeature, "Error reading CMD_READ response.", 126},
        {true, 0, sim::Fault::FailWrite, "Error sending CMD_WRITE command.", 0},
        {true, 2, sim::Fault::FailWrite, "Error writing data.", 63},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Fresh();
        const Bytes data = Pattern(1000, 7);
        if (!c.write) Lay(2 * 65536, data);
        board.InjectFault(c.exchange, c.fault);
        StartProgress(1000);
        bool lockFreeDuringBox = true;
        std::future<void> probe;
        standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
            probe = LockProbe();
            lockFreeDuringBox = TookTheLock(probe, 50);
            return IDOK;
        });
        Bytes destination(1000, 0xEE);

        EXPECT_EQ(c.write ? WriteFlash(2, 0, data.data(), 1000)
                          : ReadFlash(2, 0, destination.data(), 1000),
                  0);

        EXPECT_EQ(BoxTexts(), Texts{c.message});
        EXPECT_FALSE(lockFreeDuringBox);
        ASSERT_TRUE(probe.valid());
        EXPECT_TRUE(TookTheLock(probe));
        EXPECT_EQ(ProgressCounter.remaining, 1000u - c.bytesDone);
        const Bytes flash = board.Flash();
        const uint8_t* got = c.write ? flash.data() + 2 * 65536 : destination.data();
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + c.bytesDone, got));
        EXPECT_EQ(got[c.bytesDone], c.write ? 0xFF : 0xEE);
    }
}

// The lock covers the whole transfer: from the command report to the last data report.
TEST_F(FlashTransferTest, TransferHoldsTheLockFromCommandToLastReport) {
    allowFlashWithoutBus = true;  // the transfer alone: its callers take the bus
    std::future<void> probe;
    int exchanges = 0, seenFree = 0;
    board.SetReportTime(0.001, [&](double) {
        if (exchanges++ == 0) probe = LockProbe();
        if (TookTheLock(probe, 50)) ++seenFree;
    });
    Bytes source = Pattern(300, 3);

    EXPECT_EQ(WriteFlash(4, 0, source.data(), 300), 1);

    board.SetReportTime(0, nullptr);
    EXPECT_EQ(exchanges, 6);
    Texts calls = standin::HidCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "HidD_SetFeature"), 0);
    EXPECT_EQ(seenFree, 0);
    ASSERT_TRUE(probe.valid());
    EXPECT_TRUE(TookTheLock(probe));
}

// An 8 KB job (a scan's 32 headers) shows 8 right after its first answer.
TEST_F(FlashTransferTest, FirstAnswerOfAnEightKilobyteJobShowsEight) {
    allowFlashWithoutBus = true;  // the transfer alone: its callers take the bus
    StartProgress(8192);
    Bytes answer(63);

    ASSERT_EQ(ReadFlash(0, 0, answer.data(), 63), 1);
    EXPECT_EQ(StatusHistory(), Shown({8}));
    EXPECT_EQ(standin::RepaintCount(window), 1);
    EXPECT_EQ(ProgressCounter.remaining, 8129u);
    EXPECT_EQ(ProgressCounter.lastShown, 8129u);
}

// The text shows the number from before the step whenever a kilobyte boundary is passed.
TEST_F(FlashTransferTest, CountdownWritesOneTextAndOneRepaintPerBoundaryPassed) {
    const struct {
        const char* name;
        uint32_t start;
        std::vector<uint32_t> steps;
        std::vector<int> shown;
        uint32_t remaining, lastShown;
    } cases[] = {
        {"within a kilobyte", 1500, {400, 50}, {}, 1050, 1500},
        {"onto a boundary", 2048, {1024, 1024}, {2, 1}, 0, 0},
        {"zero never shown at the end", 1024, {63, 961}, {1}, 0, 961},
        {"skips over several kilobytes", 5000, {4000}, {4}, 1000, 1000},
        {"wraps below zero", 100, {256}, {0}, 0xFFFFFF64u, 0xFFFFFF64u},
        {"largest counter", 0xFFFFFFFFu, {1023, 1}, {4194303}, 0xFFFFFBFFu, 0xFFFFFBFFu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearHistory(window);
        StartProgress(c.start);

        for (uint32_t step : c.steps) CountDownProgress(step, kReadingText);

        EXPECT_EQ(StatusHistory(), Shown(c.shown));
        EXPECT_EQ(standin::RepaintCount(window), static_cast<int>(c.shown.size()));
        EXPECT_EQ(ProgressCounter.remaining, c.remaining);
        EXPECT_EQ(ProgressCounter.lastShown, c.lastShown);
    }
}

// One bus request around the whole range, pieces cut by length and not at bank ends; a refused
// bus or a failed piece does not stop the reading, and the result is that of the release.
TEST_F(FlashTransferTest, ReadRangeReadsEveryPieceUnderOneBusRequest) {
    allowReadsAfterRefusedBus = true;  // "bus busy": the pieces are read all the same
    const std::string head = "> READ bank=0 offset=0x0000 length=256\n< data x5 (256 bytes)\n";
    const std::string piece = "< data x521 (32768 bytes)\n";
    const std::string empty = kBusTaken + kBusReleased;
    const std::string twoPieces = kBusTaken + "> READ bank=1 offset=0x0000 length=32768\n" + piece +
                                  "> READ bank=1 offset=0x8000 length=32768\n" + piece +
                                  kBusReleased;
    const std::string busy =
        "> BUS request\n> GET_STATUS\n< status busy=0 bus=3\n" + head + kBusReleased;
    // 0-2: bus request and its status; 3: the first CMD_READ; 4: its first answer.
    const std::string pieceFails =
        kBusTaken + "> READ bank=0 offset=0x0000 length=32768\n! feature fetch failed (refused)\n" +
        "> READ bank=0 offset=0x8000 length=7232\n< data x115 (7232 bytes)\n" + kBusReleased;
    // 3: CMD_READ; 4-8: five answers; 9: the release.
    const std::string releaseFails = kBusTaken + head + "! BUS release failed (write error)\n";
    const sim::Fault refuse = sim::Fault::RefuseFeature, failWrite = sim::Fault::FailWrite;
    const struct {
        const char* name;
        int32_t address, length;
        bool busHeld;
        int failAt;  // the exchange that fails
        sim::Fault fault;
        int result;
        const std::string& transcript;
        const char* box;
        size_t checkedFrom;  // the bytes from here on must have arrived
    } cases[] = {
        {"nothing", 0, 0, false, -1, {}, 1, empty, nullptr, 0},
        {"negative length", 0, -5, false, -1, {}, 1, empty, nullptr, 0},
        {"two pieces in one bank", 65536, 65536, false, -1, {}, 1, twoPieces, nullptr, 0},
        {"bus busy", 0, 256, true, -1, {}, 1, busy, "Bus busy. Please try again later", 0},
        {"first piece fails", 0, 40000, false, 4, refuse, 1, pieceFails,
         "Error reading CMD_READ response.", 32768},
        {"release fails", 0, 256, false, 9, failWrite, 0, releaseFails,
         "Error sending ReleaseBus command.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        board.SetBusHeldByOther(c.busHeld);
        if (c.failAt >= 0) board.InjectFault(c.failAt, c.fault);
        const Bytes flash = Pattern(std::max(c.length, 0), c.address);
        Lay(c.address, flash);
        Bytes destination(std::max(c.length, 1), 0xEE);

        EXPECT_EQ(ReadRange(destination.data(), c.address, c.length), c.result);

        EXPECT_EQ(board.Transcript(), c.transcript);
        EXPECT_EQ(BoxTexts(), c.box ? Texts{c.box} : Texts{});
        if (c.length <= 0) {
            EXPECT_EQ(destination, Bytes(1, 0xEE));
        } else {
            EXPECT_TRUE(std::equal(flash.begin() + c.checkedFrom, flash.end(),
                                   destination.begin() + c.checkedFrom));
        }
    }
}

}  // namespace
