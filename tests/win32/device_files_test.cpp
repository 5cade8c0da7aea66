// Device files on HID interfaces: opening, report traffic to the board, overlapped input reads.
#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "win32/kernel_fixture.h"

namespace {

std::vector<uint8_t> OutputReport(uint8_t command) {
    std::vector<uint8_t> report(sim::kReportSize, 0);
    report[1] = command;
    return report;
}

void ExpectError(DWORD error, const std::string& what) { EXPECT_EQ(GetLastError(), error) << what; }

using DeviceOpenTest = KernelTest;

TEST_F(DeviceOpenTest, OpensOnlyInterfacesThatArePresentAndWilling) {
    sim::Board board;
    sim::Board unplugged;
    unplugged.Unplug();
    standin::HidInterface refusing = BoardInterface(nullptr, "refusing");
    refusing.refusesOpen = true;
    standin::AddHidInterface(BoardInterface(&board, "board"));
    standin::AddHidInterface(BoardInterface(&unplugged, "unplugged"));
    standin::AddHidInterface(refusing);
    standin::AddHidInterface(BoardInterface(nullptr, "other device"));

    const std::pair<const char*, DWORD> cases[] = {
        {"board", ERROR_SUCCESS},  // ERROR_SUCCESS: opens
        {"other device", ERROR_SUCCESS},
        {"unplugged", ERROR_FILE_NOT_FOUND},
        {"refusing", ERROR_ACCESS_DENIED},
        {"BOARD", ERROR_FILE_NOT_FOUND},  // an exact match only
        {"C:\\kelm\\image.gcb", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& [path, error] : cases) {
        SetLastError(ERROR_SUCCESS);
        HANDLE device = OpenDevice(path, FILE_FLAG_OVERLAPPED);
        EXPECT_EQ(device != INVALID_HANDLE_VALUE, error == ERROR_SUCCESS) << path;
        ExpectError(error, path);
        if (device != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(device));
        }
    }

    // Every attempt on an interface path is recorded; other paths are not.
    std::vector<std::pair<std::string, bool>> attempts;
    for (const standin::OpenRecord& open : standin::DeviceOpens())
        attempts.emplace_back(open.path, open.succeeded);
    EXPECT_EQ(
        attempts,
        (std::vector<std::pair<std::string, bool>>{
            {"board", true}, {"other device", true}, {"unplugged", false}, {"refusing", false}}));
    const standin::OpenRecord first = standin::DeviceOpens().at(0);
    EXPECT_EQ(first.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(first.share, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(first.disposition, OPEN_EXISTING);
    EXPECT_EQ(first.flags, FILE_FLAG_OVERLAPPED);
    EXPECT_EQ(standin::OpenHandleCount(), 0);
}

TEST_F(DeviceOpenTest, SharingModesOfOpenHandlesAreHonoured) {
    standin::AddHidInterface(BoardInterface(nullptr, "hid"));
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    const DWORD shareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
    struct Case {
        const char* name;
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    } cases[] = {
        {"both shared", readWrite, shareBoth, readWrite, shareBoth, true},
        {"first exclusive", readWrite, 0, readWrite, shareBoth, false},
        {"second exclusive", readWrite, shareBoth, readWrite, 0, false},
        {"first shares reading only", readWrite, FILE_SHARE_READ, GENERIC_READ, shareBoth, true},
        {"second writes too", readWrite, FILE_SHARE_READ, readWrite, shareBoth, false},
        {"attribute query", readWrite, 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        HANDLE first =
            CreateFileA("hid", c.firstAccess, c.firstShare, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(first, INVALID_HANDLE_VALUE) << c.name;
        HANDLE second =
            CreateFileA("hid", c.secondAccess, c.secondShare, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens) << c.name;
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
        } else {
            ExpectError(ERROR_SHARING_VIOLATION, c.name);
        }
        CloseHandle(first);
    }
}

class BoardDeviceTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        standin::AddHidInterface(BoardInterface(&board));
        hid = LoadLibraryA("HID.DLL");
        getFeature = HidEntry<GetFeatureProc>(hid, "HidD_GetFeature");
        getAttributes = HidEntry<GetAttributesProc>(hid, "HidD_GetAttributes");
    }
    void TearDown() override {
        FreeLibrary(hid);
        EXPECT_EQ(standin::OpenHandleCount(), 0);
        KernelTest::TearDown();
    }
    bool WriteStatusCommand(HANDLE device, DWORD length = sim::kReportSize) {
        DWORD written = 99;
        const bool ok = WriteFile(device, status.data(), length, &written, nullptr) != FALSE;
        EXPECT_EQ(written, ok ? length : 0u) << length;
        return ok;
    }

    sim::Board board;
    HMODULE hid = nullptr;
    GetFeatureProc getFeature = nullptr;
    GetAttributesProc getAttributes = nullptr;
    std::vector<uint8_t> status = OutputReport(sim::kCmdGetStatus);  // one byte to spare
    uint8_t answer[sim::kReportSize] = {};
};

using ReportTrafficTest = BoardDeviceTest;

TEST_F(ReportTrafficTest, OnlyWholeReportsReachTheBoard) {
    HANDLE device = OpenDevice(kBoardPath);
    status.push_back(0);
    ASSERT_TRUE(WriteStatusCommand(device));
    EXPECT_TRUE(getFeature(device, answer, sim::kReportSize));
    for (DWORD length : {0u, 9u, 64u, 66u}) {
        EXPECT_FALSE(WriteStatusCommand(device, length));
        ExpectError(ERROR_INVALID_PARAMETER, std::to_string(length));
    }
    EXPECT_FALSE(getFeature(device, answer, 64));
    ExpectError(ERROR_INVALID_USER_BUFFER, "fetch of 64 bytes");

    ASSERT_EQ(board.Log().size(), 2u) << "a wrong length reached the board";
    EXPECT_EQ(board.Log()[0].bytes, OutputReport(sim::kCmdGetStatus));
    EXPECT_EQ(board.Log()[1].direction, sim::Direction::Feature);
    EXPECT_TRUE(board.Violations().empty());
    CloseHandle(device);
}

TEST_F(ReportTrafficTest, ExchangeFailuresSayWhetherTheBoardIsGone) {
    HANDLE device = OpenDevice(kBoardPath);
    auto bothFail = [&](DWORD error, const char* when) {
        EXPECT_FALSE(WriteStatusCommand(device));
        ExpectError(error, when);
        EXPECT_FALSE(getFeature(device, answer, sizeof(answer)));
        ExpectError(error, when);
    };
    board.InjectFault(0, sim::Fault::FailWrite);
    board.InjectFault(1, sim::Fault::RefuseFeature);
    bothFail(ERROR_GEN_FAILURE, "faults");
    board.Unplug();
    bothFail(ERROR_DEVICE_NOT_CONNECTED, "unplugged");
    // Plugged in again it is a new device: the old handle stays dead, a new one works.
    board.Plug();
    bothFail(ERROR_DEVICE_NOT_CONNECTED, "plugged again");
    HANDLE again = OpenDevice(kBoardPath);
    EXPECT_TRUE(WriteStatusCommand(again));
    CloseHandle(again);
    CloseHandle(device);
}

TEST_F(ReportTrafficTest, AttributesCarryTheInterfaceIdentity) {
    standin::HidInterface other = BoardInterface(nullptr, "other");
    other.vendorId = 0x046D;
    other.productId = 0xC077;
    standin::HidInterface failing = BoardInterface(nullptr, "failing");
    failing.attributesFail = true;
    standin::AddHidInterface(other);
    standin::AddHidInterface(failing);
    // Windows takes whatever Size says (the record is 12 bytes with its padding) and sets it.
    struct Case {
        const char* path;
        ULONG size;
        bool ok;
        USHORT vendor, product;
    } cases[] = {{kBoardPath, 10, true, sim::kVendorId, sim::kProductId},
                 {"other", 0, true, 0x046D, 0xC077},
                 {"failing", sizeof(HIDD_ATTRIBUTES), false, 0, 0}};
    for (const Case& c : cases) {
        HANDLE device = OpenDevice(c.path);
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = c.size;
        EXPECT_EQ(getAttributes(device, &attributes) != FALSE, c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(attributes.VendorID, c.vendor);
            EXPECT_EQ(attributes.ProductID, c.product);
            EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
        } else {
            ExpectError(ERROR_GEN_FAILURE, c.path);
        }
        CloseHandle(device);
    }
    EXPECT_EQ(standin::HidAttributeSizes(),
              (std::vector<ULONG>{10, 0, static_cast<ULONG>(sizeof(HIDD_ATTRIBUTES))}));
}

// The monitor's way of reading: an overlapped handle, an event in the record.
class InputReadTest : public BoardDeviceTest {
  protected:
    void SetUp() override {
        BoardDeviceTest::SetUp();
        device = OpenDevice(kBoardPath, FILE_FLAG_OVERLAPPED);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        CloseHandle(overlapped.hEvent);
        BoardDeviceTest::TearDown();
    }
    BOOL StartRead() {
        return ReadFile(device, buffer.data(), sim::kInputReportSize, nullptr, &overlapped);
    }

    HANDLE device = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    std::array<uint8_t, sim::kInputReportSize> buffer{};
};

TEST_F(InputReadTest, QueuedReportsCompleteReadsAtOnceInOrder) {
    board.QueueInputText(18, "ABCDEFG");
    board.QueueInputText(2, "second.");
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(device, buffer.data(), sim::kInputReportSize, &read, &overlapped));
    EXPECT_EQ(read, sim::kInputReportSize);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(buffer, (std::array<uint8_t, sim::kInputReportSize>{0, 18, 'A', 'B', 'C', 'D', 'E',
                                                                  'F', 'G'}));
    DWORD transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &transferred, FALSE));
    EXPECT_EQ(transferred, sim::kInputReportSize);
    ASSERT_TRUE(StartRead());
    EXPECT_EQ(buffer[1], 2);
    EXPECT_FALSE(StartRead());
    ExpectError(ERROR_IO_PENDING, "nothing queued");
}

TEST_F(InputReadTest, PendingReadIsCompletedByALaterReport) {
    SetEvent(overlapped.hEvent);  // starting the read clears it
    ASSERT_FALSE(StartRead());
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_TIMEOUT);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, FALSE));
    ExpectError(ERROR_IO_INCOMPLETE, "still pending");

    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        board.QueueInputText(0, "kelm OK");
    });
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE waits[2] = {overlapped.hEvent, stop};
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, INFINITE), WAIT_OBJECT_0);
    sender.join();
    EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
    EXPECT_EQ(transferred, sim::kInputReportSize);
    EXPECT_EQ(std::memcmp(buffer.data() + 2, "kelm OK", 7), 0);
    CloseHandle(stop);
}

// An unplug fails the pending read and every later one; a cancel ends only the pending read,
// and a report that comes afterwards waits for the next.
TEST_F(InputReadTest, UnplugOrCancelEndsThePendingRead) {
    for (bool unplug : {false, true}) {
        buffer.fill(0);
        ASSERT_FALSE(StartRead());
        if (unplug) {
            board.Unplug();
        } else {
            EXPECT_TRUE(CancelIo(device));
        }
        const DWORD error = unplug ? ERROR_DEVICE_NOT_CONNECTED : ERROR_OPERATION_ABORTED;
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
        DWORD transferred = 99;
        EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
        ExpectError(error, "pending read");
        EXPECT_EQ(transferred, 0u);
        board.QueueInputText(3, "abcdefg");
        EXPECT_EQ(StartRead(), !unplug);
        if (unplug) ExpectError(ERROR_DEVICE_NOT_CONNECTED, "later read");
        EXPECT_EQ(buffer[1], unplug ? 0 : 3);
    }
}

TEST_F(InputReadTest, ClosingWithAReadPendingNeverWritesTheBufferAgain) {
    // Buffer and record on the heap, freed right after the close: AddressSanitizer catches any
    // later write.
    auto record = std::make_unique<OVERLAPPED>();
    record->hEvent = overlapped.hEvent;
    auto report = std::make_unique<std::array<uint8_t, sim::kInputReportSize>>();
    ASSERT_FALSE(ReadFile(device, report->data(), sim::kInputReportSize, nullptr, record.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(CloseHandle(device));
    device = INVALID_HANDLE_VALUE;
    record.reset();
    report.reset();

    board.QueueInputText(0, "too late");
    // The report is still the board's, for whoever reads next.
    HANDLE reopened = OpenDevice(kBoardPath, FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(ReadFile(reopened, buffer.data(), sim::kInputReportSize, nullptr, &overlapped));
    EXPECT_EQ(buffer[2], 't');
    CloseHandle(reopened);
}

TEST_F(InputReadTest, ReadArgumentsAreChecked) {
    HANDLE closedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closedEvent);
    OVERLAPPED badEvent = {};
    badEvent.hEvent = closedEvent;
    DWORD read = 0;
    struct Case {
        const char* name;
        DWORD bytes;
        LPOVERLAPPED record;
        DWORD error;
    } cases[] = {
        {"no record on an overlapped handle", 9, nullptr, ERROR_INVALID_PARAMETER},
        {"buffer under 9 bytes", 8, &overlapped, ERROR_INVALID_USER_BUFFER},
        {"record with a closed event", 9, &badEvent, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReadFile(device, buffer.data(), c.bytes, &read, c.record)) << c.name;
        ExpectError(c.error, c.name);
    }
    EXPECT_FALSE(GetOverlappedResult(device, nullptr, &read, FALSE));
}

}  // namespace
