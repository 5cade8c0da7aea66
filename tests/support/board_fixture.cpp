#include "support/board_fixture.h"

#include <cstring>

#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "support/protocol_check.h"
#include "ui/resource.h"
#include "ui/status_line.h"

namespace {

// The shape of a real HID interface path of the board.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#6&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

constexpr int kSlotButtons[] = {
    IDC_SLOT_0,  IDC_SLOT_1,  IDC_SLOT_2,  IDC_SLOT_3,  IDC_SLOT_4,  IDC_SLOT_5,  IDC_SLOT_6,
    IDC_SLOT_7,  IDC_SLOT_8,  IDC_SLOT_9,  IDC_SLOT_10, IDC_SLOT_11, IDC_SLOT_12, IDC_SLOT_13,
    IDC_SLOT_14, IDC_SLOT_15, IDC_SLOT_16, IDC_SLOT_17, IDC_SLOT_18, IDC_SLOT_19, IDC_SLOT_20,
    IDC_SLOT_21, IDC_SLOT_22, IDC_SLOT_23, IDC_SLOT_24, IDC_SLOT_25, IDC_SLOT_26, IDC_SLOT_27,
    IDC_SLOT_28, IDC_SLOT_29, IDC_SLOT_30, IDC_SLOT_31,
};

}  // namespace

void BoardTest::SetUp() {
    standin::Reset();
    standin::SetVirtualClock(true);
    board.SetClock([] { return standin::NowMs(); });

    standin::HidInterface hid;
    hid.path = kBoardPath;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = &board;
    standin::AddHidInterface(hid);

    InitializeCriticalSection(&DeviceLock);
    StartProgress(0);

    std::vector<standin::ControlSpec> controls;
    standin::ControlSpec status;
    status.id = IDC_STATUS;
    status.className = "STATIC";
    status.text = "Not connected to kelm";
    status.style = WS_CHILD | WS_VISIBLE | SS_CENTER | SS_SUNKEN;
    controls.push_back(status);
    for (int id : kSlotButtons) {
        standin::ControlSpec slot;
        slot.id = id;
        slot.className = "BUTTON";
        slot.style = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | BS_PUSHLIKE;
        controls.push_back(slot);
    }
    window = standin::CreateTestDialog(controls);
    MainWindow = window;

    ASSERT_TRUE(BindHidLibrary());
    ASSERT_EQ(OpenBoard(), 1);
    standin::ClearHistory(window);
    standin::ClearMessageBoxes();
    board.ClearLog();
}

void BoardTest::TearDown() {
    CloseCommandChannel();
    ReleaseHidLibrary();
    MainWindow = nullptr;
    if (window != nullptr) {
        standin::DestroyTestDialog(window);
        window = nullptr;
    }
    EXPECT_EQ(standin::OpenHandleCount(), 0) << "handles left open";
    EXPECT_EQ(standin::ReadsOutlivingTheirThread(), 0)
        << "a thread ended while its read was still owed a completion";
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 0) << "device information lists left open";
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0) << "HID.DLL left loaded";
    CheckProtocol(board, {allowViolations, allowFlashWithoutBus, allowReadsAfterRefusedBus});
}

std::string BoardTest::Status() const { return standin::Text(window, IDC_STATUS); }

std::vector<std::string> BoardTest::StatusHistory() const {
    return standin::TextHistory(window, IDC_STATUS);
}

std::vector<std::string> BoardTest::BoxTexts() const {
    std::vector<std::string> texts;
    for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) {
        texts.push_back(box.text);
    }
    return texts;
}

void BoardTest::Lay(size_t address, const std::vector<uint8_t>& bytes) {
    board.SetFlash(address, bytes);
}

std::vector<uint8_t> BoardTest::Header(const char magic[4], const std::string& name,
                                       uint32_t size) {
    std::vector<uint8_t> header(256, 0);
    std::memcpy(header.data(), magic, 4);
    // The name field is bytes 4-247 and keeps a terminating zero.
    size_t nameLength = name.size() < 243 ? name.size() : 243;
    std::memcpy(header.data() + 4, name.data(), nameLength);
    header[252] = static_cast<uint8_t>(size >> 24);
    header[253] = static_cast<uint8_t>(size >> 16);
    header[254] = static_cast<uint8_t>(size >> 8);
    header[255] = static_cast<uint8_t>(size);
    return header;
}
