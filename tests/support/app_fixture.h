// The whole program driven as a user drives it: WinMain runs on the test's thread, dialog 101 is
// built from the program's own compiled resources, and a script plays the user.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "win32/standin.h"

// Bytes of the program's compiled .res file, embedded by the host build.
extern const uint8_t kKelmRes[];
extern const size_t kKelmResSize;

// SetUp: the stand-in reset with a virtual clock, the kelm module registered, the board plugged
// in as the only HID interface (AddBoard/RemoveBoard change that before Run), a fresh temporary
// folder for files. TearDown: fails the test when handles are left open, the board saw a
// protocol breach or served a flash command to a host without the bus, the program's threads
// are still running, or one of them ended with a read still owed a completion; removes the
// folder.
class AppTest : public ::testing::Test {
  public:
    // Builders that free helper functions of a test file may use too.
    // A 256-byte header: magic, name (cut to keep its zero), reserved 0, size big-endian.
    static std::vector<uint8_t> Header(const char magic[4], const std::string& name, uint32_t size);
    static std::vector<uint8_t> Pattern(size_t length, uint32_t seed);  // deterministic bytes

  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs WinMain with the script as the user; returns WinMain's result.
    int Run(std::function<void(HWND dialog)> script);
    // Runs WinMain with a script that connects first (asserting "KELM OK!"), then the rest.
    int RunConnected(std::function<void(HWND dialog)> script);

    // Before Run (or during it): the board unplugged, so that no kelm is among the HID
    // interfaces, or plugged back in (flash kept).
    void RemoveBoard();
    void AddBoard();

    // The main dialog while Run is active.
    HWND dialog = nullptr;

    // User actions and looks inside a script.
    bool Click(int id);
    bool ClickSlot(int slot);
    void Command(int id);  // WM_COMMAND by identifier, as for the hidden engineering commands
    std::string Status() const;
    std::string SlotCaption(int slot) const;
    bool SlotEnabled(int slot) const;
    bool SlotChecked(int slot) const;
    std::vector<int> EnabledSlots() const;
    std::vector<int> CheckedSlots() const;

    // Message boxes and file dialogs.
    void AnswerBoxes(const std::vector<int>& answers);  // IDYES, IDNO, IDOK ... in order
    std::vector<standin::MessageBoxRecord> Boxes() const;
    std::vector<std::string> BoxTexts() const;
    void AnswerOpen(const std::string& path, int filterIndex);  // the next file dialog
    void AnswerSave(const std::string& path);
    void CancelFileDialog();
    std::vector<standin::FileDialogRecord> FileDialogs() const;

    // Flash layout and files.
    void Lay(size_t address, const std::vector<uint8_t>& bytes);
    std::string TempPath(const std::string& name) const;
    void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> ReadFileBytes(const std::string& path) const;

    sim::Board board;
    std::string tempDir;
    bool allowViolations = false;  // set by tests that make the board see a breach on purpose
    // Set by tests whose flash commands go out without the bus on purpose (the engineering
    // panel's), or whose bus is refused (the catalogue scan reads on all the same).
    bool allowFlashWithoutBus = false;
    bool allowReadsAfterRefusedBus = false;
};
