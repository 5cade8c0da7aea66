// Device files on HID interfaces: opening, report traffic to the board, overlapped input reads.
#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "win32/kernel_fixture.h"

namespace {

std::vector<uint8_t> OutputReport(uint8_t command) {
    std::vector<uint8_t> report(sim::kReportSize, 0);
    report[1] = command;
    return report;
}

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

    struct Case {
        const char* path;
        DWORD error;  // ERROR_SUCCESS: opens
    } cases[] = {
        {"board", ERROR_SUCCESS},
        {"other device", ERROR_SUCCESS},
        {"unplugged", ERROR_FILE_NOT_FOUND},
        {"refusing", ERROR_ACCESS_DENIED},
        {"BOARD", ERROR_FILE_NOT_FOUND},  // an exact match only
        {"C:\\kelm\\image.gcb", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(ERROR_SUCCESS);
        HANDLE device = OpenDevice(c.path, FILE_FLAG_OVERLAPPED);
        EXPECT_EQ(device != INVALID_HANDLE_VALUE, c.error == ERROR_SUCCESS) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
        if (device != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(device));
        }
    }

    // Every attempt on an interface path is recorded; other paths are not.
    const std::vector<standin::OpenRecord> opens = standin::DeviceOpens();
    ASSERT_EQ(opens.size(), 4u);
    EXPECT_EQ(opens[0].path, "board");
    EXPECT_EQ(opens[0].access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(opens[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(opens[0].disposition, OPEN_EXISTING);
    EXPECT_EQ(opens[0].flags, FILE_FLAG_OVERLAPPED);
    EXPECT_TRUE(opens[0].succeeded);
    EXPECT_FALSE(opens[2].succeeded);
    EXPECT_FALSE(opens[3].succeeded);
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
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.name;
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

    sim::Board board;
    HMODULE hid = nullptr;
    GetFeatureProc getFeature = nullptr;
    GetAttributesProc getAttributes = nullptr;
};

using ReportTrafficTest = BoardDeviceTest;

TEST_F(ReportTrafficTest, WritesWholeOutputReportsToTheBoard) {
    HANDLE device = OpenDevice(kBoardPath);
    const std::vector<uint8_t> report = OutputReport(sim::kCmdGetStatus);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(device, report.data(), sim::kReportSize, &written, nullptr));
    EXPECT_EQ(written, sim::kReportSize);
    ASSERT_EQ(board.Log().size(), 1u);
    EXPECT_EQ(board.Log()[0].bytes, report);

    std::vector<uint8_t> longer = report;
    longer.push_back(0);
    for (DWORD length : {0u, 9u, 64u, 66u}) {
        written = 99;
        EXPECT_FALSE(WriteFile(device, longer.data(), length, &written, nullptr)) << length;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << length;
        EXPECT_EQ(written, 0u) << length;
    }
    EXPECT_EQ(board.Log().size(), 1u) << "a wrong length reached the board";
    CloseHandle(device);
}

TEST_F(ReportTrafficTest, FetchesFeatureReportsThroughHidDll) {
    HANDLE device = OpenDevice(kBoardPath);
    const std::vector<uint8_t> status = OutputReport(sim::kCmdGetStatus);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(device, status.data(), sim::kReportSize, &written, nullptr));
    uint8_t answer[sim::kReportSize] = {};
    EXPECT_TRUE(getFeature(device, answer, sizeof(answer)));
    EXPECT_EQ(board.Log().back().direction, sim::Direction::Feature);
    EXPECT_FALSE(getFeature(device, answer, 64));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(board.Violations().empty());
    CloseHandle(device);
}

TEST_F(ReportTrafficTest, ExchangeFailuresSayWhetherTheBoardIsGone) {
    HANDLE device = OpenDevice(kBoardPath);
    const std::vector<uint8_t> report = OutputReport(sim::kCmdGetStatus);
    uint8_t answer[sim::kReportSize] = {};
    DWORD written = 0;
    board.InjectFault(0, sim::Fault::FailWrite);
    board.InjectFault(1, sim::Fault::RefuseFeature);
    EXPECT_FALSE(WriteFile(device, report.data(), sim::kReportSize, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_FALSE(getFeature(device, answer, sizeof(answer)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));

    board.Unplug();
    EXPECT_FALSE(WriteFile(device, report.data(), sim::kReportSize, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(getFeature(device, answer, sizeof(answer)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

    // Plugged in again it is a new device: the old handle stays dead, a new one works.
    board.Plug();
    EXPECT_FALSE(WriteFile(device, report.data(), sim::kReportSize, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    HANDLE again = OpenDevice(kBoardPath);
    EXPECT_TRUE(WriteFile(again, report.data(), sim::kReportSize, &written, nullptr));
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

    HANDLE kelm = OpenDevice(kBoardPath);
    HANDLE mouse = OpenDevice("other");
    HANDLE broken = OpenDevice("failing");
    // Windows takes whatever Size says (the record is 12 bytes with its padding) and sets it.
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = 10;
    ASSERT_TRUE(getAttributes(kelm, &attributes));
    EXPECT_EQ(attributes.VendorID, sim::kVendorId);
    EXPECT_EQ(attributes.ProductID, sim::kProductId);
    EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
    attributes.Size = 0;
    ASSERT_TRUE(getAttributes(mouse, &attributes));
    EXPECT_EQ(attributes.VendorID, 0x046D);
    EXPECT_EQ(attributes.ProductID, 0xC077);
    EXPECT_FALSE(getAttributes(broken, &attributes));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(standin::HidAttributeSizes(),
              (std::vector<ULONG>{10, 0, static_cast<ULONG>(sizeof(HIDD_ATTRIBUTES))}));
    CloseHandle(kelm);
    CloseHandle(mouse);
    CloseHandle(broken);
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
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
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

TEST_F(InputReadTest, QueuedReportCompletesTheReadAtOnce) {
    board.QueueInputText(18, "ABCDEFG");
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(device, buffer.data(), sim::kInputReportSize, &read, &overlapped));
    EXPECT_EQ(read, sim::kInputReportSize);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    const std::array<uint8_t, sim::kInputReportSize> expected = {0,   18,  'A', 'B', 'C',
                                                                 'D', 'E', 'F', 'G'};
    EXPECT_EQ(buffer, expected);
    DWORD transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &transferred, FALSE));
    EXPECT_EQ(transferred, sim::kInputReportSize);
}

TEST_F(InputReadTest, PendingReadIsCompletedByALaterReport) {
    SetEvent(overlapped.hEvent);  // starting the read clears it
    ASSERT_FALSE(StartRead());
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_TIMEOUT);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

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

TEST_F(InputReadTest, UnplugFailsThePendingReadAndLaterReadsAtOnce) {
    ASSERT_FALSE(StartRead());
    std::thread unplugger([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        board.Unplug();
    });
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), WAIT_OBJECT_0);
    unplugger.join();
    DWORD transferred = 99;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(transferred, 0u);

    EXPECT_FALSE(StartRead());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

TEST_F(InputReadTest, ReportsQueuedWhileNoReadWaitsAreKeptInOrder) {
    board.QueueInputText(1, "first..");
    board.QueueInputText(2, "second.");
    ASSERT_TRUE(StartRead());
    EXPECT_EQ(buffer[1], 1);
    ASSERT_TRUE(StartRead());
    EXPECT_EQ(buffer[1], 2);
    EXPECT_FALSE(StartRead());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
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

TEST_F(InputReadTest, CancelIoEndsThePendingRead) {
    ASSERT_FALSE(StartRead());
    EXPECT_TRUE(CancelIo(device));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // A report that comes afterwards waits for the next read.
    board.QueueInputText(3, "abcdefg");
    EXPECT_TRUE(StartRead());
    EXPECT_EQ(buffer[1], 3);
}

TEST_F(InputReadTest, ReadArgumentsAreChecked) {
    HANDLE closedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closedEvent);
    OVERLAPPED badEvent = {};
    badEvent.hEvent = closedEvent;
    DWORD read = 0;
    struct Case {
        const char* name;
        HANDLE handle;
        DWORD bytes;
        LPOVERLAPPED record;
        DWORD error;
    } cases[] = {
        {"no record on an overlapped handle", device, 9, nullptr, ERROR_INVALID_PARAMETER},
        {"buffer under 9 bytes", device, 8, &overlapped, ERROR_INVALID_USER_BUFFER},
        {"record with a closed event", device, 9, &badEvent, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReadFile(c.handle, buffer.data(), c.bytes, &read, c.record)) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_FALSE(GetOverlappedResult(device, nullptr, &read, FALSE));
}

TEST_F(InputReadTest, SynchronousHandleReadsBlockUntilAReportComes) {
    HANDLE synchronous = OpenDevice(kBoardPath);
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        board.QueueInputText(7, "sync...");
    });
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(synchronous, buffer.data(), sim::kInputReportSize, &read, nullptr));
    sender.join();
    EXPECT_EQ(read, sim::kInputReportSize);
    EXPECT_EQ(buffer[1], 7);
    CloseHandle(synchronous);
}

}  // namespace
