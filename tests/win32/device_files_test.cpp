// Device files on HID interfaces: opening, report traffic to the board, overlapped input reads.
#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>

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

    const std::pair<const char*, long> cases[] = {
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
        EXPECT_EQ(LastError(), error) << path;
        EXPECT_TRUE(device == INVALID_HANDLE_VALUE || CloseHandle(device)) << path;
    }

    // Every attempt on an interface path is recorded; other paths are not.
    std::vector<std::pair<std::string, bool>> attempts;
    for (const auto& open : standin::DeviceOpens())
        attempts.emplace_back(open.path, open.succeeded);
    EXPECT_EQ(
        attempts,
        (std::vector<std::pair<std::string, bool>>{
            {"board", true}, {"other device", true}, {"unplugged", false}, {"refusing", false}}));
    const standin::OpenRecord first = standin::DeviceOpens().at(0);
    EXPECT_EQ(std::tie(first.access, first.share, first.disposition, first.flags),
              std::make_tuple(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(standin::OpenHandleCount(), 0);
}

TEST_F(DeviceOpenTest, SharingModesOfOpenHandlesAreHonoured) {
    standin::AddHidInterface(BoardInterface(nullptr, "hid"));
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    const DWORD shareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Access and sharing of the first handle, of the second, and whether the second opens.
    const std::tuple<const char*, DWORD, DWORD, DWORD, DWORD, bool> cases[] = {
        {"both shared", readWrite, shareBoth, readWrite, shareBoth, true},
        {"first exclusive", readWrite, 0, readWrite, shareBoth, false},
        {"second exclusive", readWrite, shareBoth, readWrite, 0, false},
        {"first shares reading only", readWrite, FILE_SHARE_READ, GENERIC_READ, shareBoth, true},
        {"second writes too", readWrite, FILE_SHARE_READ, readWrite, shareBoth, false},
        {"attribute query", readWrite, 0, 0, 0, true},
    };
    for (const auto& [name, access, share, secondAccess, secondShare, secondOpens] : cases) {
        HANDLE first = CreateFileA("hid", access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(first, INVALID_HANDLE_VALUE) << name;
        SetLastError(ERROR_SUCCESS);
        HANDLE second =
            CreateFileA("hid", secondAccess, secondShare, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, secondOpens) << name;
        EXPECT_EQ(LastError(), secondOpens ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION) << name;
        if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
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
        EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER) << length;
    }
    EXPECT_FALSE(getFeature(device, answer, 64));
    EXPECT_EQ(LastError(), ERROR_INVALID_USER_BUFFER);

    ASSERT_EQ(board.Log().size(), 2u) << "a wrong length reached the board";
    EXPECT_EQ(board.Log()[0].bytes, OutputReport(sim::kCmdGetStatus));
    EXPECT_EQ(board.Log()[1].direction, sim::Direction::Feature);
    EXPECT_TRUE(board.Violations().empty());
    CloseHandle(device);
}

TEST_F(ReportTrafficTest, ExchangeFailuresSayWhetherTheBoardIsGone) {
    HANDLE device = OpenDevice(kBoardPath);
    auto bothFail = [&](long error, const char* when) {
        EXPECT_FALSE(WriteStatusCommand(device));
        EXPECT_EQ(LastError(), error) << when;
        EXPECT_FALSE(getFeature(device, answer, sizeof(answer)));
        EXPECT_EQ(LastError(), error) << when;
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
    const ULONG whole = sizeof(HIDD_ATTRIBUTES);
    const std::tuple<const char*, ULONG, bool, USHORT, USHORT> cases[] = {
        {kBoardPath, 10, true, sim::kVendorId, sim::kProductId},
        {"other", 0, true, 0x046D, 0xC077},
        {"failing", whole, false, 0, 0}};
    for (const auto& [path, size, ok, vendor, product] : cases) {
        HANDLE device = OpenDevice(path);
        HIDD_ATTRIBUTES attributes = {size, 0, 0, 0};
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(getAttributes(device, &attributes) != FALSE, ok) << path;
        EXPECT_EQ(LastError(), ok ? ERROR_SUCCESS : ERROR_GEN_FAILURE) << path;
        if (ok) {
            EXPECT_EQ(std::tie(attributes.VendorID, attributes.ProductID, attributes.Size),
                      std::make_tuple(vendor, product, whole));
        }
        CloseHandle(device);
    }
    EXPECT_EQ(standin::HidAttributeSizes(), (std::vector<ULONG>{10, 0, whole}));
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

// Queued reports complete reads at once, in order; a read with none queued is pending (its
// event cleared, though the last read had set it) until a report comes.
TEST_F(InputReadTest, QueuedReportsCompleteReadsAtOnceLaterOnesPendingReads) {
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
    EXPECT_EQ(LastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, FALSE));
    EXPECT_EQ(LastError(), ERROR_IO_INCOMPLETE);
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        board.QueueInputText(0, "kelm OK");
    });
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE waits[2] = {overlapped.hEvent, stop};
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, INFINITE), WAIT_OBJECT_0);
    sender.join();
    transferred = 0;
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
        DWORD transferred = 99;
        EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
        EXPECT_EQ(LastError(), unplug ? ERROR_DEVICE_NOT_CONNECTED : ERROR_OPERATION_ABORTED);
        EXPECT_EQ(transferred, 0u);
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
        board.QueueInputText(3, "abcdefg");
        EXPECT_EQ(StartRead(), !unplug);
        if (unplug) {
            EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED) << "later read";
        }
        EXPECT_EQ(buffer[1], unplug ? 0 : 3);
    }
}

// A read ended by a close or a cancel completes later, from another thread (the test's own
// waits for it): STATUS_CANCELLED in the record, its event set, its buffer left alone. A report
// that comes afterwards is the next read's.
TEST_F(InputReadTest, ClosedOrCancelledReadsCompleteLaterFromAnotherThread) {
    enum End { Close, Cancel, CancelRecord, CancelAll };
    for (End end : {Close, Cancel, CancelRecord, CancelAll}) {
        SCOPED_TRACE(end);
        auto record = std::make_unique<OVERLAPPED>();
        record->hEvent = overlapped.hEvent;
        buffer.fill(0xAB);
        ASSERT_FALSE(ReadFile(device, buffer.data(), sim::kInputReportSize, nullptr, record.get()));
        ASSERT_EQ(LastError(), ERROR_IO_PENDING);
        const BOOL ended = end == Close ? CloseHandle(device)
                           : end == Cancel
                               ? CancelIo(device)
                               : CancelIoEx(device, end == CancelAll ? nullptr : record.get());
        EXPECT_TRUE(ended);
        ASSERT_EQ(WaitForSingleObject(record->hEvent, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(record->Internal, 0xC0000120u);  // STATUS_CANCELLED
        EXPECT_EQ(record->InternalHigh, 0u);
        EXPECT_EQ(buffer, (std::array<uint8_t, sim::kInputReportSize>{0xAB, 0xAB, 0xAB, 0xAB, 0xAB,
                                                                      0xAB, 0xAB, 0xAB, 0xAB}));
        if (end == Close) {
            device = OpenDevice(kBoardPath, FILE_FLAG_OVERLAPPED);
        } else {
            DWORD transferred = 99;
            EXPECT_FALSE(GetOverlappedResult(device, record.get(), &transferred, FALSE));
            EXPECT_EQ(LastError(), ERROR_OPERATION_ABORTED);
            EXPECT_EQ(transferred, 0u);
        }
        board.QueueInputText(0, "later");
        ASSERT_TRUE(StartRead());
        EXPECT_EQ(buffer[2], 'l');
    }
    EXPECT_EQ(standin::ReadsOutlivingTheirThread(), 0);
}

// CancelIoEx ends reads of any thread, as long as they have not completed; CancelIo only the
// calling thread's.
TEST_F(InputReadTest, CancelIoExFindsReadsNotYetCompleted) {
    OVERLAPPED unused = {};
    EXPECT_FALSE(CancelIoEx(device, &unused));
    EXPECT_EQ(LastError(), ERROR_NOT_FOUND);
    EXPECT_FALSE(CancelIoEx(device, nullptr));
    EXPECT_EQ(LastError(), ERROR_NOT_FOUND);
    EXPECT_FALSE(CancelIoEx(reinterpret_cast<HANDLE>(0x7FF0), nullptr));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);

    ASSERT_FALSE(StartRead());
    std::thread other([this] {
        EXPECT_TRUE(CancelIo(device));  // not its read
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 20), WAIT_TIMEOUT);
        EXPECT_TRUE(CancelIoEx(device, &overlapped));
    });
    other.join();
    // Cancelled but perhaps not completed yet: still found.
    EXPECT_TRUE(CancelIoEx(device, &overlapped) || LastError() == ERROR_NOT_FOUND);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
    EXPECT_EQ(LastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(CancelIoEx(device, &overlapped));
    EXPECT_EQ(LastError(), ERROR_NOT_FOUND);
}

// A thread that ends while a read it started is owed a completion gets its read cancelled and
// waits for it, as a thread exiting on Windows does: the record is written before the thread
// counts as ended, and the read is counted. One that waits for its read first is not.
struct ReaderWork {
    enum Way { CloseAndReturn, ReturnLeavingItOpen, CancelAndWait } way;
    HANDLE device;
    OVERLAPPED* record;
    uint8_t* buffer;
};

DWORD WINAPI ReadThenEnd(LPVOID parameter) {
    ReaderWork& work = *static_cast<ReaderWork*>(parameter);
    if (ReadFile(work.device, work.buffer, sim::kInputReportSize, nullptr, work.record) ||
        GetLastError() != ERROR_IO_PENDING) {
        return 1;
    }
    if (work.way == ReaderWork::CloseAndReturn) CloseHandle(work.device);
    if (work.way == ReaderWork::CancelAndWait) {
        DWORD transferred = 0;
        CancelIoEx(work.device, work.record);
        GetOverlappedResult(work.device, work.record, &transferred, TRUE);
    }
    return 0;
}

using ThreadEndTest = BoardDeviceTest;

TEST_F(ThreadEndTest, ThreadEndingWithItsReadOwedWaitsForItAndIsCounted) {
    int counted = 0;
    for (auto way :
         {ReaderWork::CloseAndReturn, ReaderWork::ReturnLeavingItOpen, ReaderWork::CancelAndWait}) {
        SCOPED_TRACE(way);
        HANDLE device = OpenDevice(kBoardPath, FILE_FLAG_OVERLAPPED);
        auto record = std::make_unique<OVERLAPPED>();
        record->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::array<uint8_t, sim::kInputReportSize> report{};
        ReaderWork work{way, device, record.get(), report.data()};
        HANDLE thread = CreateThread(nullptr, 0, ReadThenEnd, &work, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(record->Internal, 0xC0000120u);
        if (way != ReaderWork::CancelAndWait) ++counted;
        EXPECT_EQ(standin::ReadsOutlivingTheirThread(), counted);
        CloseHandle(thread);
        if (way != ReaderWork::CloseAndReturn) CloseHandle(device);
        CloseHandle(record->hEvent);
    }
}

TEST_F(InputReadTest, ReadArgumentsAreChecked) {
    HANDLE closedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closedEvent);
    OVERLAPPED badEvent = {};
    badEvent.hEvent = closedEvent;
    DWORD read = 0;
    const std::tuple<const char*, DWORD, LPOVERLAPPED, long> cases[] = {
        {"no record on an overlapped handle", 9, nullptr, ERROR_INVALID_PARAMETER},
        {"buffer under 9 bytes", 8, &overlapped, ERROR_INVALID_USER_BUFFER},
        {"record with a closed event", 9, &badEvent, ERROR_INVALID_HANDLE},
    };
    for (const auto& [name, bytes, record, error] : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReadFile(device, buffer.data(), bytes, &read, record)) << name;
        EXPECT_EQ(LastError(), error) << name;
    }
    EXPECT_FALSE(GetOverlappedResult(device, nullptr, &read, FALSE));
}

}  // namespace
