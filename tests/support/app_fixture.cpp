#include "support/app_fixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "catalogue/catalogue_scan.h"
#include "support/protocol_check.h"
#include "testworld/world.h"
#include "ui/resource.h"

namespace {

// How long TearDown gives the program's threads to end (real time).
constexpr auto kThreadEndGrace = std::chrono::seconds(5);

}  // namespace

void AppTest::SetUp() {
    testworld::ResetStandin();
    standin::RegisterModule(kKelmRes, kKelmResSize);
    board.SetClock([] { return standin::NowMs(); });
    testworld::PlugIn(board);

    tempDir = testworld::MakeTempFolder("kelm_app");
    ASSERT_NE(tempDir, "") << "no temporary folder";
}

void AppTest::TearDown() {
    // A monitor stopped without a wait (StopMonitor) ends by itself, soon.
    auto deadline = std::chrono::steady_clock::now() + kThreadEndGrace;
    while ((standin::OpenHandleCount() != 0 || standin::RunningThreads() != 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(standin::RunningThreads(), 0) << "a thread of the program still running";
    for (const std::string& fault : testworld::LeftBehind(0)) ADD_FAILURE() << fault;
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

std::string AppTest::Status() const { return testworld::Status(dialog); }

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

std::vector<std::string> AppTest::BoxTexts() const { return testworld::BoxTexts(); }

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
    return testworld::SlotHeaderBytes(magic, name, size);
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
    return testworld::PatternBytes(length, seed);
}
