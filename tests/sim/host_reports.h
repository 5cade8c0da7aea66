// What a host puts on the link, built by hand for the board's own tests.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "sim/board.h"

namespace sim::test {

using Report = std::array<uint8_t, kReportSize>;

// Offset and length big-endian, as the firmware reads them.
inline Report Command(uint8_t command, uint8_t bank = 0, uint16_t offset = 0, uint16_t length = 0) {
    const auto byte = [](unsigned value) { return static_cast<uint8_t>(value); };
    return Report{0,           command, bank, byte(offset >> 8), byte(offset), byte(length >> 8),
                  byte(length)};
}

inline Report BusCommand(bool request) {
    return Report{0, kCmdBus, 0, static_cast<uint8_t>(request)};
}

inline bool Send(Board& board, const Report& report) {
    return board.WriteOutputReport(report.data(), report.size());
}

// Sends CMD_WRITE and its data reports, 63 bytes each; false when any report failed.
inline bool Write(Board& board, uint8_t bank, uint16_t offset, const std::vector<uint8_t>& bytes) {
    bool ok = Send(board, Command(kCmdWrite, bank, offset, static_cast<uint16_t>(bytes.size())));
    for (size_t at = 0; at < bytes.size(); at += kPayloadSize) {
        Report data{};
        const size_t count = std::min(kPayloadSize, bytes.size() - at);
        std::copy(bytes.begin() + at, bytes.begin() + at + count, data.begin() + 2);
        ok = Send(board, data) && ok;
    }
    return ok;
}

inline bool Fetch(Board& board, Report& answer) {
    answer.fill(0);
    return board.GetFeatureReport(answer.data(), answer.size());
}

// Sends CMD_READ and fetches its answers; the bytes that arrived.
inline std::vector<uint8_t> Read(Board& board, uint8_t bank, uint16_t offset, uint16_t length) {
    std::vector<uint8_t> bytes;
    Report answer{};
    if (!Send(board, Command(kCmdRead, bank, offset, length))) return bytes;
    while (bytes.size() < length && Fetch(board, answer)) {
        const size_t count = std::min<size_t>(kPayloadSize, length - bytes.size());
        bytes.insert(bytes.end(), answer.begin() + 2, answer.begin() + 2 + count);
    }
    return bytes;
}

struct Status {
    bool ok = false;
    uint8_t busy = 0;
    uint8_t bus = 0;
};

inline Status GetStatus(Board& board) {
    Status status;
    Report answer{};
    status.ok = Send(board, Command(kCmdGetStatus)) && Fetch(board, answer);
    status.busy = answer[2];
    status.bus = answer[4];
    return status;
}

inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

}  // namespace sim::test
