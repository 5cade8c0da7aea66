#include "support/app_fixture.h"

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "catalogue/catalogue_scan.h"
#include "support/protocol_check.h"
#include "ui/resource.h"

namespace {

// The shape of a real HID interface path of the board.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#7&2c3d4e5f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// How long TearDown gives the program's threads to end (real time).
constexpr auto kThreadEndGrace = std::chrono::seconds(5);

}  // namespace

void AppTest::SetUp() {
    standin::Reset();
    standin::SetVirtualClock(true);
    standin::RegisterModule(kKelmRes, kKelmResSize);
    board.SetClock([] { return standin::NowMs(); });

    standin::HidInterface hid;
    hid.path = kBoardPath;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = &board;
    standin::AddHidInterface(hid);

    char folder[] = "/tmp/kelm_app_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr) << "no temporary folder";
    tempDir = folder;
}

void AppTest::TearDown() {
    // A monitor stopped without a wait (StopMonitor) ends by itself, soon.
    auto deadline = std::chrono::steady_clock::now() + kThreadEndGrace;
    while ((standin::OpenHandleCount() != 0 || standin::RunningThreads() != 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(standin::OpenHandleCount(), 0) << "handles left open or a thread still running";
    EXPECT_EQ(standin::RunningThreads(), 0) << "a thread of the program still running";
    EXPECT_EQ(standin::ReadsOutlivingTheirThread(), 0)
        << "a thread ended while its read was still owed a completion, which then wrote into "
           "the record the thread had left behind";
    EXPECT_EQ(standin::OpenDeviceInfoSets(), 0) << "device information lists left open";
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0) << "HID.DLL left loaded";
    CheckProtocol(board, {allowViolations, allowFlashWithoutBus, allowReadsAfterRefusedBus});
    if (!tempDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir, ignored);
    }
}

int AppTest::Run(std::function<void(HWND dialog)> script) {
    HINSTANCE instance = standin::RegisterModule(kKelmRes, kKelmResSize);
    standin::SetUserScript([this, script](HWND running) {
        dialog = running;
        if (script) script(running);
    });
    int result = WinMain(instance, nullptr, const_cast<char*>(""), 1);
    dialog = nullptr;
    return result;
}

int AppTest::RunConnected(std::function<void(HWND dialog)> script) {
    return Run([this, script](HWND running) {
        Click(IDC_CONNECT);
        EXPECT_EQ(Status(), "KELM OK!") << "connecting did not end with the catalogue";
        if (Status() != "KELM OK!") return;
        if (script) script(running);
    });
}

void AppTest::RemoveBoard() { board.Unplug(); }

void AppTest::AddBoard() { board.Plug(); }

bool AppTest::Click(int id) { return standin::Click(dialog, id); }

bool AppTest::ClickSlot(int slot) { return Click(SlotButtonIds[slot]); }

void AppTest::Command(int id) {
    standin::PumpMessages();
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string AppTest::Status() const { return standin::Text(dialog, IDC_STATUS); }

std::string AppTest::SlotCaption(int slot) const {
    return standin::Text(dialog, SlotButtonIds[slot]);
}

bool AppTest::SlotEnabled(int slot) const { return standin::Enabled(dialog, SlotButtonIds[slot]); }

bool AppTest::SlotChecked(int slot) const { return standin::Checked(dialog, SlotButtonIds[slot]); }

std::vector<int> AppTest::EnabledSlots() const {
    std::vector<int> slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (SlotEnabled(slot)) slots.push_back(slot);
    }
    return slots;
}

std::vector<int> AppTest::CheckedSlots() const {
    std::vector<int> slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (SlotChecked(slot)) slots.push_back(slot);
    }
    return slots;
}

void AppTest::AnswerBoxes(const std::vector<int>& answers) {
    standin::QueueMessageBoxAnswers(answers);
}

std::vector<standin::MessageBoxRecord> AppTest::Boxes() const { return standin::MessageBoxes(); }

std::vector<std::string> AppTest::BoxTexts() const {
    std::vector<std::string> texts;
    for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) texts.push_back(box.text);
    return texts;
}

void AppTest::AnswerOpen(const std::string& path, int filterIndex) {
    standin::FileDialogAnswer answer;
    answer.path = path;
    answer.filterIndex = static_cast<DWORD>(filterIndex);
    standin::QueueFileDialogAnswers({answer});
}

void AppTest::AnswerSave(const std::string& path) {
    standin::FileDialogAnswer answer;
    answer.path = path;
    standin::QueueFileDialogAnswers({answer});
}

void AppTest::CancelFileDialog() {
    standin::FileDialogAnswer answer;
    answer.cancel = true;
    standin::QueueFileDialogAnswers({answer});
}

std::vector<standin::FileDialogRecord> AppTest::FileDialogs() const {
    return standin::FileDialogs();
}

void AppTest::Lay(size_t address, const std::vector<uint8_t>& bytes) {
    board.SetFlash(address, bytes);
}

std::vector<uint8_t> AppTest::Header(const char magic[4], const std::string& name, uint32_t size) {
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

std::string AppTest::TempPath(const std::string& name) const { return tempDir + "/" + name; }

void AppTest::WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file) << "cannot create " << path;
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file) << "cannot write " << path;
}

std::vector<uint8_t> AppTest::ReadFileBytes(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

std::vector<uint8_t> AppTest::Pattern(size_t length, uint32_t seed) {
    // xorshift32: cheap, deterministic, and no run of equal bytes that could hide an offset.
    uint32_t state = seed != 0 ? seed : 0x9E3779B9u;
    std::vector<uint8_t> bytes(length);
    for (uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}
