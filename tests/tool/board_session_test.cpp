// The protocol layer in-process on the simulated board: transfers split at bank ends, polls that
// wait for a slow board but not for ever.
#include "board_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "flash_io.h"
#include "sim/board.h"
#include "tool/tool_process.h"

namespace {

using std::chrono::milliseconds;

class LinkOnBoard : public BoardLink {
  public:
    explicit LinkOnBoard(sim::Board& board) : board_(board) {}
    bool WriteReport(const uint8_t* report) override {
        return board_.WriteOutputReport(report, sim::kReportSize);
    }
    bool GetFeature(uint8_t* report) override {
        return board_.GetFeatureReport(report, sim::kReportSize);
    }
    InputRead ReadInput(uint8_t*, int) override { return InputRead::Timeout; }

  private:
    sim::Board& board_;
};

struct Transfer {
    int bank;
    int offset;
    int length;
};

std::vector<Transfer> Transfers(const sim::Board& board, uint8_t command) {
    std::vector<Transfer> transfers;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction != sim::Direction::Out || entry.bytes[1] != command) continue;
        transfers.push_back({entry.bytes[2], entry.bytes[3] << 8 | entry.bytes[4],
                             entry.bytes[5] << 8 | entry.bytes[6]});
    }
    return transfers;
}

// Reads and writes across two bank ends: no CMD_READ or CMD_WRITE reaches past its bank, none
// is longer than a chunk, and the bytes arrive whole.
TEST(BoardSessionTest, TransfersStayInsideTheirBank) {
    sim::Board board;
    board.SetFlash(0, tooltest::Pattern(sim::kFlashSize, 1));
    LinkOnBoard link(board);
    BoardSession session(link, milliseconds(1000));
    constexpr uint32_t kFrom = 3 * 65536 - 1000;
    constexpr uint32_t kLength = 65536 + 2000;
    std::vector<uint8_t> read(kLength);
    ASSERT_TRUE(session.TakeBus().ok());
    ASSERT_TRUE(session.Read(kFrom, read.data(), kLength).ok());
    const std::vector<uint8_t> flash = board.Flash();
    EXPECT_EQ(read, std::vector<uint8_t>(flash.begin() + kFrom, flash.begin() + kFrom + kLength));

    board.FillFlash(0xFF);
    const std::vector<uint8_t> image = tooltest::Pattern(kLength, 2);
    Progress progress(stderr, false);
    const ByteSource source = [&](uint64_t offset, uint8_t* out, uint32_t count) {
        std::copy(image.begin() + static_cast<long>(offset),
                  image.begin() + static_cast<long>(offset + count), out);
        return Outcome();
    };
    ASSERT_TRUE(WriteBytes(session, kFrom, kLength, source, progress).ok());
    ASSERT_TRUE(VerifyBytes(session, kFrom, kLength, source, progress).ok());
    const std::vector<uint8_t> written = board.Flash();
    EXPECT_EQ(std::vector<uint8_t>(written.begin() + kFrom, written.begin() + kFrom + kLength),
              image);
    for (uint8_t command : {sim::kCmdRead, sim::kCmdWrite}) {
        const std::vector<Transfer> transfers = Transfers(board, command);
        EXPECT_GE(transfers.size(), 4u);
        for (const Transfer& transfer : transfers) {
            EXPECT_LE(transfer.offset + transfer.length, 65536) << int(command);
            EXPECT_LE(transfer.length, 32768);
            EXPECT_GT(transfer.length, 0);
        }
    }
    EXPECT_TRUE(board.Violations().empty());
}

// A slow board is waited for; one that stays busy is given up at the limit, naming what it was
// doing; a bus held by the other side is refused at once.
TEST(BoardSessionTest, PollsWaitForASlowBoardButNotForEver) {
    sim::Board board;
    LinkOnBoard link(board);
    BoardSession session(link, milliseconds(50));
    board.SetBusHandoverPolls(20);
    board.SetEraseBusyPolls(20);
    ASSERT_TRUE(session.TakeBus().ok());
    EXPECT_TRUE(session.EraseBank(5).ok());
    EXPECT_TRUE(session.ReleaseBus().ok());

    board.SetEraseBusyPolls(1000000000);
    ASSERT_TRUE(session.TakeBus().ok());
    const auto started = std::chrono::steady_clock::now();
    const Outcome erase = session.EraseBank(7);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(erase.code(), ExitCode::Failed);
    EXPECT_EQ(erase.message(),
              "the board did not finish the erase of slot 7 within 50 ms (--timeout)");

    sim::Board held;
    held.SetBusHeldByOther(true);
    LinkOnBoard heldLink(held);
    const Outcome bus = BoardSession(heldLink, milliseconds(50)).TakeBus();
    EXPECT_EQ(bus.code(), ExitCode::Failed);
    EXPECT_NE(bus.message().find("bus is busy"), std::string::npos);
}

}  // namespace
