#include "device/flash_transfer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/command_protocol.h"
#include "device/hid_access.h"
#include "support/board_fixture.h"
#include "ui/resource.h"
#include "ui/status_line.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

Bytes Pattern(size_t length, uint32_t seed) {
    Bytes bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

std::string ProgressText(const char* format, int kilobytes) {
    char text[80];
    std::snprintf(text, sizeof(text), format, kilobytes);
    return text;
}

Texts CountdownTexts(const char* format, int from, int to) {
    Texts texts;
    for (int k = from; k >= to; --k) {
        texts.push_back(ProgressText(format, k));
    }
    return texts;
}

std::vector<sim::LogEntry> Entries(const sim::Board& board, sim::Direction direction) {
    std::vector<sim::LogEntry> entries;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction == direction && !entry.failed) {
            entries.push_back(entry);
        }
    }
    return entries;
}

// Command reports of one kind, in order.
std::vector<Bytes> Commands(const sim::Board& board, uint8_t command) {
    std::vector<Bytes> reports;
    for (const sim::LogEntry& entry : Entries(board, sim::Direction::Out)) {
        if (entry.bytes.size() == kReportSize && entry.bytes[kCommandByte] == command) {
            reports.push_back(entry.bytes);
        }
    }
    return reports;
}

Bytes TransferHeader(uint8_t command, uint8_t bank, uint16_t offset, uint16_t length) {
    Bytes report(kReportSize, 0);
    report[1] = command;
    report[2] = bank;
    report[3] = static_cast<uint8_t>(offset >> 8);
    report[4] = static_cast<uint8_t>(offset);
    report[5] = static_cast<uint8_t>(length >> 8);
    report[6] = static_cast<uint8_t>(length);
    return report;
}

// Another thread that waits for the DeviceLock, to tell whether the program holds it.
class LockProbe {
  public:
    LockProbe()
        : thread_([this] {
              EnterCriticalSection(&DeviceLock);
              acquired_ = true;
              LeaveCriticalSection(&DeviceLock);
          }) {}
    ~LockProbe() { Join(); }
    // Gives the probe a moment to take the lock if it is free.
    bool AcquiredSoon() const {
        for (int i = 0; i < 50 && !acquired_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return acquired_;
    }
    bool Acquired() const { return acquired_; }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    std::atomic<bool> acquired_{false};
    std::thread thread_;
};

using FlashTransferTest = BoardTest;

struct TransferSize {
    uint16_t length;
    size_t reports;  // data-carrying reports
};

class TransferSizeTest : public BoardTest, public ::testing::WithParamInterface<TransferSize> {};

TEST_P(TransferSizeTest, ReadUsesOneAnswerPer63BytesAndStopsAtTheLength) {
    const uint16_t length = GetParam().length;
    Bytes flash = Pattern(length + 100, length);
    Lay(3 * 65536 + 0x100, flash);
    Bytes destination(length + 16, 0xEE);

    EXPECT_EQ(ReadFlash(3, 0x100, destination.data(), length), 1);

    EXPECT_EQ(Entries(board, sim::Direction::Feature).size(), GetParam().reports);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + length, destination.begin()));
    EXPECT_EQ(Bytes(destination.begin() + length, destination.end()), Bytes(16, 0xEE));
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_P(TransferSizeTest, WriteSendsOneDataReportPer63BytesAndNoMore) {
    const uint16_t length = GetParam().length;
    Bytes source = Pattern(length, length + 1);

    EXPECT_EQ(WriteFlash(3, 0x100, source.data(), length), 1);

    std::vector<sim::LogEntry> out = Entries(board, sim::Direction::Out);
    ASSERT_EQ(out.size(), GetParam().reports + 1);
    EXPECT_EQ(out[0].bytes, TransferHeader(CMD_WRITE, 3, 0x100, length));
    size_t lastPayload = length - (GetParam().reports - 1) * kPayloadSize;
    EXPECT_TRUE(std::equal(source.end() - lastPayload, source.end(),
                           out.back().bytes.begin() + kPayloadByte));
    EXPECT_TRUE(Entries(board, sim::Direction::Feature).empty());
    Bytes flash = board.Flash();
    EXPECT_TRUE(std::equal(source.begin(), source.end(), flash.begin() + 3 * 65536 + 0x100));
    EXPECT_EQ(flash[3 * 65536 + 0x100 + length], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferSizeTest,
                         ::testing::Values(TransferSize{1, 1}, TransferSize{63, 1},
                                           TransferSize{64, 2}, TransferSize{256, 5},
                                           TransferSize{32768, 521}),
                         [](const ::testing::TestParamInfo<TransferSize>& info) {
                             return "Bytes" + std::to_string(info.param.length);
                         });

TEST_F(FlashTransferTest, ReadCommandCarriesBankOffsetAndLengthBigEndian) {
    Bytes destination(0x0102);

    EXPECT_EQ(ReadFlash(0x12, 0x3456, destination.data(), 0x0102), 1);

    EXPECT_EQ(Commands(board, CMD_READ),
              std::vector<Bytes>{TransferHeader(CMD_READ, 0x12, 0x3456, 0x0102)});
}

TEST_F(FlashTransferTest, OneByteWriteSendsTheHeaderAndOneDataReport) {
    const uint8_t data = 0x5A;

    EXPECT_EQ(WriteFlash(0x1F, 0xFFFF, &data, 1), 1);

    std::vector<sim::LogEntry> out = Entries(board, sim::Direction::Out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes, TransferHeader(CMD_WRITE, 0x1F, 0xFFFF, 1));
    EXPECT_EQ(out[1].bytes[kReportIdByte], 0);
    EXPECT_EQ(out[1].bytes[kCommandByte], 0);
    EXPECT_EQ(out[1].bytes[kPayloadByte], data);
    EXPECT_EQ(board.FlashByte(0x1F * 65536 + 0xFFFF), data);
}

struct ZeroLength {
    const char* name;
    std::function<int()> run;
};

class ZeroLengthTest : public BoardTest, public ::testing::WithParamInterface<ZeroLength> {};

TEST_P(ZeroLengthTest, IsRefusedWithNothingSent) {
    StartProgress(4096);

    EXPECT_EQ(GetParam().run(), 0);

    EXPECT_EQ(BoxTexts(), Texts{"Invalid parameter."});
    EXPECT_EQ(board.ExchangeCount(), 0u);
    EXPECT_EQ(ProgressCounter.remaining, 4096u);
    LockProbe probe;
    EXPECT_TRUE(probe.AcquiredSoon());
}

uint8_t zeroLengthBuffer[1];

INSTANTIATE_TEST_SUITE_P(
    Transfers, ZeroLengthTest,
    ::testing::Values(ZeroLength{"Read", [] { return ReadFlash(0, 0, zeroLengthBuffer, 0); }},
                      ZeroLength{"Write", [] { return WriteFlash(0, 0, zeroLengthBuffer, 0); }}),
    [](const ::testing::TestParamInfo<ZeroLength>& info) { return info.param.name; });

struct TransferFailure {
    const char* name;
    bool write;
    uint64_t exchange;
    sim::Fault fault;
    const char* message;
    size_t bytesDone;  // bytes that arrived (read) or were programmed (write) before the failure
};

class TransferFailureTest : public BoardTest,
                            public ::testing::WithParamInterface<TransferFailure> {};

// The box is shown while the transfer still holds the DeviceLock; the lock is free after it.
TEST_P(TransferFailureTest, ShowsItsMessageUnderTheLockAndReleasesItAfter) {
    const TransferFailure& failure = GetParam();
    Bytes data = Pattern(1000, 7);
    if (!failure.write) {
        Lay(2 * 65536, data);
    }
    board.InjectFault(failure.exchange, failure.fault);
    StartProgress(1000);
    bool lockFreeDuringBox = true;
    std::unique_ptr<LockProbe> probe;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxRecord&) {
        probe = std::make_unique<LockProbe>();
        lockFreeDuringBox = probe->AcquiredSoon();
        return IDOK;
    });
    Bytes destination(1000, 0xEE);

    int result = failure.write ? WriteFlash(2, 0, data.data(), 1000)
                               : ReadFlash(2, 0, destination.data(), 1000);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(BoxTexts(), Texts{failure.message});
    EXPECT_FALSE(lockFreeDuringBox);
    ASSERT_NE(probe, nullptr);
    probe->Join();
    EXPECT_TRUE(probe->Acquired());
    EXPECT_EQ(ProgressCounter.remaining, 1000u - failure.bytesDone);
    size_t done = failure.bytesDone;
    if (failure.write) {
        Bytes flash = board.Flash();
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + done, flash.begin() + 2 * 65536));
        EXPECT_EQ(flash[2 * 65536 + done], 0xFF);
    } else {
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + done, destination.begin()));
        EXPECT_EQ(destination[done], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TransferFailureTest,
    ::testing::Values(TransferFailure{"ReadCommand", false, 0, sim::Fault::FailWrite,
                                      "Error sending CMD_READ command.", 0},
                      TransferFailure{"ReadThirdAnswer", false, 3, sim::Fault::RefuseFeature,
                                      "Error reading CMD_READ response.", 126},
                      TransferFailure{"WriteCommand", true, 0, sim::Fault::FailWrite,
                                      "Error sending CMD_WRITE command.", 0},
                      TransferFailure{"WriteSecondData", true, 2, sim::Fault::FailWrite,
                                      "Error writing data.", 63}),
    [](const ::testing::TestParamInfo<TransferFailure>& info) { return info.param.name; });

// The lock covers the whole transfer: from the command report to the last data report.
TEST_F(FlashTransferTest, TransferHoldsTheLockFromCommandToLastReport) {
    std::unique_ptr<LockProbe> probe;
    int exchanges = 0;
    int seenFree = 0;
    board.SetReportTime(0.001, [&](double) {
        if (exchanges++ == 0) {
            probe = std::make_unique<LockProbe>();
        }
        if (probe->AcquiredSoon()) {
            ++seenFree;
        }
    });
    Bytes source = Pattern(300, 3);

    EXPECT_EQ(WriteFlash(4, 0, source.data(), 300), 1);

    board.SetReportTime(0, nullptr);
    EXPECT_EQ(exchanges, 6);
    Texts calls = standin::HidCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "HidD_SetFeature"), 0);
    EXPECT_EQ(seenFree, 0);
    ASSERT_NE(probe, nullptr);
    probe->Join();
    EXPECT_TRUE(probe->Acquired());
}

TEST_F(FlashTransferTest, ScanLikeReadsCountDownFromEightToOneWithOneRepaintPerKilobyte) {
    StartProgress(8192);
    Bytes header(256);

    for (int slot = 0; slot < 32; ++slot) {
        ReadRange(header.data(), slot * 65536, 256);
    }

    EXPECT_EQ(StatusHistory(), CountdownTexts(kReadingText, 8, 1));
    EXPECT_EQ(standin::RepaintCount(window), 8);
    EXPECT_EQ(ProgressCounter.remaining, 0u);
}

TEST_F(FlashTransferTest, FirstAnswerOfAnEightKilobyteRunShowsEight) {
    StartProgress(8192);
    Bytes destination(63);

    ASSERT_EQ(ReadFlash(0, 0, destination.data(), 63), 1);

    EXPECT_EQ(StatusHistory(), Texts{ProgressText(kReadingText, 8)});
    EXPECT_EQ(standin::RepaintCount(window), 1);
    EXPECT_EQ(ProgressCounter.remaining, 8129u);
    EXPECT_EQ(ProgressCounter.lastShown, 8129u);
}

struct Countdown {
    const char* name;
    uint32_t start;
    std::vector<uint32_t> steps;
    std::vector<int> shown;  // the numbers of the texts written, in order
    uint32_t remaining;
    uint32_t lastShown;
};

class CountdownTest : public BoardTest, public ::testing::WithParamInterface<Countdown> {};

TEST_P(CountdownTest, WritesTheNumberFromBeforeTheStepWhenAKilobyteBoundaryIsPassed) {
    StartProgress(GetParam().start);

    for (uint32_t step : GetParam().steps) {
        CountDownProgress(step, kReadingText);
    }

    Texts expected;
    for (int k : GetParam().shown) {
        expected.push_back(ProgressText(kReadingText, k));
    }
    EXPECT_EQ(StatusHistory(), expected);
    EXPECT_EQ(standin::RepaintCount(window), static_cast<int>(expected.size()));
    EXPECT_EQ(ProgressCounter.remaining, GetParam().remaining);
    EXPECT_EQ(ProgressCounter.lastShown, GetParam().lastShown);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CountdownTest,
    ::testing::Values(
        Countdown{"WithinAKilobyte", 1500, {400, 50}, {}, 1050, 1500},
        Countdown{"OntoABoundary", 2048, {1024, 1024}, {2, 1}, 0, 0},
        Countdown{"ZeroNeverShownAtTheEnd", 1024, {63, 961}, {1}, 0, 961},
        Countdown{"SkipsOverSeveralKilobytes", 5000, {4000}, {4}, 1000, 1000},
        Countdown{"WrapsBelowZero", 100, {256}, {0}, 0xFFFFFF64u, 0xFFFFFF64u},
        Countdown{"LargestCounter", 0xFFFFFFFFu, {1023, 1}, {4194303}, 0xFFFFFBFFu, 0xFFFFFBFFu}),
    [](const ::testing::TestParamInfo<Countdown>& info) { return info.param.name; });

TEST_F(FlashTransferTest, ReadRangeOfNothingStillTakesAndReleasesTheBus) {
    EXPECT_EQ(ReadRange(nullptr, 0, 0), 1);

    EXPECT_EQ(board.CountCommands(CMD_BUS), 2);
    EXPECT_EQ(board.CountCommands(CMD_READ), 0);
    EXPECT_EQ(board.BusState(), kBusReleased);
}

TEST_F(FlashTransferTest, ReadRangeOfANegativeLengthReadsNothing) {
    uint8_t guard = 0xEE;

    EXPECT_EQ(ReadRange(&guard, 0, -5), 1);

    EXPECT_EQ(board.CountCommands(CMD_READ), 0);
    EXPECT_EQ(guard, 0xEE);
}

TEST_F(FlashTransferTest, ReadRangeCutsPiecesByLengthNotAtBankEnds) {
    Bytes flash = Pattern(65536, 11);
    Lay(65536, flash);
    Bytes destination(65536);

    EXPECT_EQ(ReadRange(destination.data(), 65536, 65536), 1);

    EXPECT_EQ(Commands(board, CMD_READ),
              (std::vector<Bytes>{TransferHeader(CMD_READ, 1, 0, 32768),
                                  TransferHeader(CMD_READ, 1, 32768, 32768)}));
    EXPECT_EQ(destination, flash);
    std::vector<Bytes> bus = Commands(board, CMD_BUS);
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(bus[0][kBusArgumentByte], kBusRequest);
    EXPECT_EQ(bus[1][kBusArgumentByte], kBusRelease);
}

TEST_F(FlashTransferTest, ReadRangeReadsAndReleasesAfterTheBusWasRefused) {
    board.SetBusHeldByOther(true);
    Lay(0, Pattern(256, 5));
    Bytes destination(256);

    EXPECT_EQ(ReadRange(destination.data(), 0, 256), 1);

    EXPECT_EQ(BoxTexts(), Texts{"Bus busy. Please try again later"});
    EXPECT_EQ(board.CountCommands(CMD_READ), 1);
    EXPECT_EQ(destination, Pattern(256, 5));
    std::vector<Bytes> bus = Commands(board, CMD_BUS);
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(bus[1][kBusArgumentByte], kBusRelease);
}

TEST_F(FlashTransferTest, ReadRangeGoesOnAfterAFailedPiece) {
    Bytes flash = Pattern(40000, 13);
    Lay(0, flash);
    Bytes destination(40000, 0xEE);
    // 0-2: bus request and its status; 3: the first CMD_READ; 4: its first answer.
    board.InjectFault(4, sim::Fault::RefuseFeature);

    EXPECT_EQ(ReadRange(destination.data(), 0, 40000), 1);

    EXPECT_EQ(BoxTexts(), Texts{"Error reading CMD_READ response."});
    EXPECT_EQ(board.CountCommands(CMD_READ), 2);
    EXPECT_TRUE(std::equal(flash.begin() + 32768, flash.end(), destination.begin() + 32768));
}

TEST_F(FlashTransferTest, ReadRangeAnswersWithTheResultOfTheRelease) {
    // 0-2: bus request and its status; 3: CMD_READ; 4-8: five answers; 9: the release.
    board.InjectFault(9, sim::Fault::FailWrite);
    Bytes destination(256);

    EXPECT_EQ(ReadRange(destination.data(), 0, 256), 0);

    EXPECT_EQ(BoxTexts(), Texts{"Error sending ReleaseBus command."});
}

}  // namespace
