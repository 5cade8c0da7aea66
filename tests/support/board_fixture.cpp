#include "support/board_fixture.h"

#include "device/flash_transfer.h"
#include "support/protocol_check.h"
#include "testworld/world.h"
#include "ui/resource.h"

void BoardTest::SetUp() {
    testworld::ResetStandin();
    board.SetClock([] { return standin::NowMs(); });
    testworld::PlugIn(board);

    InitializeCriticalSection(&DeviceLock);
    window = testworld::OpenMainWindow(testworld::Buttons::SlotsOnly);
    const std::string failed = testworld::OpenBoardLink();
    ASSERT_EQ(failed, "");
    standin::ClearHistory(window);
    standin::ClearMessageBoxes();
    board.ClearLog();
}

void BoardTest::TearDown() {
    testworld::CloseBoardLinkAndWindow(window);
    for (const std::string& fault : testworld::LeftBehind(0)) ADD_FAILURE() << fault;
    CheckProtocol(board, {allowViolations, allowFlashWithoutBus, allowReadsAfterRefusedBus});
}

std::string BoardTest::Status() const { return testworld::Status(window); }

std::vector<std::string> BoardTest::StatusHistory() const {
    return standin::TextHistory(window, IDC_STATUS);
}

std::vector<std::string> BoardTest::BoxTexts() const { return testworld::BoxTexts(); }

void BoardTest::Lay(size_t address, const std::vector<uint8_t>& bytes) {
    board.SetFlash(address, bytes);
}

std::vector<uint8_t> BoardTest::Header(const char magic[4], const std::string& name,
                                       uint32_t size) {
    return testworld::SlotHeaderBytes(magic, name, size);
}
