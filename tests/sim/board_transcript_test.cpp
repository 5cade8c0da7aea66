// The transcript is compared byte for byte in golden transcripts of whole operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/sim/host_reports.h"

namespace sim::test {
namespace {

TEST(BoardTranscriptTest, ShortCommandsStatusAnswersAndDataRuns) {
    Board board;
    board.SetClock([] { return uint64_t{99}; });  // times never show
    GetStatus(board);
    Send(board, BusCommand(true));
    GetStatus(board);
    Read(board, 2, 0, 256);
    Write(board, 2, 0x8000, Pattern(32768));
    Send(board, BusCommand(false));
    GetStatus(board);
    board.Unplug();
    Report answer{};
    Fetch(board, answer);

    EXPECT_EQ(board.Transcript(),
              "> GET_STATUS\n"
              "< status busy=0 bus=1\n"
              "> BUS request\n"
              "> GET_STATUS\n"
              "< status busy=0 bus=0\n"
              "> READ bank=2 offset=0x0000 length=256\n"
              "< data x5 (256 bytes)\n"
              "> WRITE bank=2 offset=0x8000 length=32768\n"
              "> data x521 (32768 bytes)\n"
              "> BUS release\n"
              "> GET_STATUS\n"
              "< status busy=0 bus=1\n"
              "-- unplugged\n"
              "! feature fetch failed (unplugged)\n");
}

TEST(BoardTranscriptTest, EraseWithBusyPollsResetAndOddOrRejectedReports) {
    Board board;
    board.SetEraseBusyPolls(1);
    const Report status = Command(kCmdGetStatus);
    EXPECT_FALSE(board.WriteOutputReport(status.data(), 64));
    Report numbered{};
    numbered[0] = 1;
    EXPECT_FALSE(board.GetFeatureReport(numbered.data(), numbered.size()));
    Send(board, Command(kCmdErase, 31));
    GetStatus(board);
    GetStatus(board);
    Send(board, Command(kCmdRead, 0x1F, 0xABCD, 1));  // left unfetched
    Report odd = BusCommand(true);
    odd[3] = 7;
    Send(board, odd);
    Send(board, Command(6));
    Send(board, Command(kCmdReset));
    Send(board, Command(kCmdGetStatus));
    board.Plug();

    EXPECT_EQ(board.Transcript(),
              "! violation: output report of 64 bytes (must be 65)\n"
              "! output report failed (rejected)\n"
              "! violation: feature fetch with report ID 1 (the board has no numbered reports)\n"
              "! feature fetch failed (rejected)\n"
              "> ERASE bank=31\n"
              "> GET_STATUS\n"
              "< status busy=1 bus=1\n"
              "> GET_STATUS\n"
              "< status busy=0 bus=1\n"
              "> READ bank=31 offset=0xABCD length=1\n"
              "> BUS mode=7\n"
              "! violation: CMD_READ abandoned by BUS mode=7 with 1 bytes outstanding\n"
              "! violation: CMD_BUS with byte 3 = 7 (1 request, 0 release); ignored\n"
              "> command 6\n"
              "! violation: unknown command 6; ignored\n"
              "> RESET\n"
              "! GET_STATUS failed (unplugged)\n"
              "-- plugged\n");
}

TEST(BoardTranscriptTest, FailuresBreakDataRuns) {
    Board board;
    board.InjectFault(3, Fault::FailWrite);  // the third data report
    board.InjectFault(7, Fault::RefuseFeature);
    board.InjectFault(9, Fault::Unplug);
    Write(board, 0, 0, Pattern(300));           // exchanges 0-5
    Send(board, Command(kCmdRead, 0, 0, 200));  // 6
    Report answer{};
    Fetch(board, answer);  // 7 refused
    Fetch(board, answer);  // 8
    Fetch(board, answer);  // 9 unplugged
    const uint8_t shortReport[3] = {0, 5, 0};
    board.WriteOutputReport(shortReport, sizeof shortReport);  // 10, gone anyway

    EXPECT_EQ(board.Transcript(),
              "> WRITE bank=0 offset=0x0000 length=300\n"
              "> data x2 (126 bytes)\n"
              "! data report failed (write error)\n"
              "> data x2 (126 bytes)\n"
              "> READ bank=0 offset=0x0000 length=200\n"
              "! feature fetch failed (refused)\n"
              "< data x1 (63 bytes)\n"
              "-- unplugged\n"
              "! feature fetch failed (unplugged)\n"
              "! output report failed (unplugged)\n");
    // The write was abandoned after a failure, so it is no breach; the short report found the
    // board gone before anything else.
    EXPECT_TRUE(board.Violations().empty());
}

}  // namespace
}  // namespace sim::test
