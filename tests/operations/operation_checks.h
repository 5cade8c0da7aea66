// Checks shared by the operation scenarios: what the program sent the simulated board, read
// back from its log as commands; the error boxes; golden transcripts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "sim/board.h"
#include "win32/standin.h"

namespace traffic {

constexpr size_t kCommandByte = 1;
constexpr size_t kBankByte = 2;
constexpr size_t kBusArgumentByte = 3;

struct SentCommand {
    uint8_t code = 0;
    uint8_t bank = 0;
    uint16_t offset = 0;
    uint16_t length = 0;
    uint8_t busArgument = 0;  // CMD_BUS: 1 request, 0 release
};

// Command reports (data reports carry command byte 0) from log entry first on.
inline std::vector<SentCommand> Commands(const sim::Board& board, size_t first = 0) {
    std::vector<SentCommand> commands;
    const std::vector<sim::LogEntry> log = board.Log();
    for (size_t i = first; i < log.size(); ++i) {
        const sim::LogEntry& entry = log[i];
        if (entry.direction != sim::Direction::Out || entry.bytes.size() < 7) continue;
        if (entry.bytes[kCommandByte] == 0) continue;
        SentCommand command;
        command.code = entry.bytes[kCommandByte];
        command.bank = entry.bytes[kBankByte];
        command.offset = static_cast<uint16_t>(entry.bytes[3] << 8 | entry.bytes[4]);
        command.length = static_cast<uint16_t>(entry.bytes[5] << 8 | entry.bytes[6]);
        command.busArgument = entry.bytes[kBusArgumentByte];
        commands.push_back(command);
    }
    return commands;
}

// Bank and offset of every command with this code, in order.
inline std::vector<std::pair<int, int>> Addresses(const std::vector<SentCommand>& commands,
                                                  uint8_t code) {
    std::vector<std::pair<int, int>> addresses;
    for (const SentCommand& command : commands) {
        if (command.code == code) addresses.emplace_back(command.bank, command.offset);
    }
    return addresses;
}

inline std::vector<uint16_t> Lengths(const std::vector<SentCommand>& commands, uint8_t code) {
    std::vector<uint16_t> lengths;
    for (const SentCommand& command : commands) {
        if (command.code == code) lengths.push_back(command.length);
    }
    return lengths;
}

// The bus commands in order: 1 for a request, 0 for a release.
inline std::vector<int> BusSequence(const std::vector<SentCommand>& commands) {
    std::vector<int> sequence;
    for (const SentCommand& command : commands) {
        if (command.code == sim::kCmdBus) sequence.push_back(command.busArgument);
    }
    return sequence;
}

inline int Count(const std::vector<SentCommand>& commands, uint8_t code) {
    int count = 0;
    for (const SentCommand& command : commands) count += command.code == code ? 1 : 0;
    return count;
}

// The boxes shown, all of them error boxes: no owner, "Error", warning icon, OK.
inline void ExpectErrorBoxes(const std::vector<std::string>& texts) {
    const std::vector<standin::MessageBoxRecord> boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), texts.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].text, texts[i]);
        EXPECT_EQ(boxes[i].caption, "Error");
        EXPECT_EQ(boxes[i].owner, nullptr);
        EXPECT_EQ(boxes[i].type, MB_OK | MB_ICONWARNING);
    }
}

// A common file dialog as the program opens every one: owned by the window, a 260-character
// name buffer, no flags, and no title, folder or default extension of its own.
inline void ExpectPlainFileDialog(const standin::FileDialogRecord& record, bool save, HWND owner,
                                  const std::vector<std::string>& filter,
                                  const std::string& initialName) {
    EXPECT_EQ(record.save, save);
    EXPECT_EQ(record.owner, owner);
    EXPECT_EQ(record.filter, filter);
    EXPECT_EQ(record.initialName, initialName);
    EXPECT_EQ(record.maxFile, 260u);
    EXPECT_EQ(record.flags, 0u);
    EXPECT_FALSE(record.hasTitle);
    EXPECT_FALSE(record.hasInitialDir);
    EXPECT_FALSE(record.hasDefExt);
    EXPECT_EQ(record.structSize, sizeof(OPENFILENAMEA));
}

// Compares a board transcript with tests/operations/golden/<name>.txt. With KELM_UPDATE_GOLDEN
// set, writes the file instead: review the difference before committing it.
inline void ExpectGoldenTranscript(const std::string& transcript, const std::string& name) {
    const std::string path = std::string(KELM_SOURCE_DIR) + "/tests/operations/golden/" + name;
    if (std::getenv("KELM_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << transcript;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "no golden transcript " << path;
    const std::string golden((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(transcript, golden) << "differs from " << path;
}

}  // namespace traffic
