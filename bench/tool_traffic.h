// What kelmtool sent and fetched, by kind. Kept apart from kelmtool's own headers, so that the
// window's benchmark code can hold the figures without meeting kelmtool's types.
#pragma once

#include <cstdint>

struct ToolTraffic {
    uint64_t out = 0;            // output reports: commands and data
    uint64_t feature = 0;        // feature reports fetched
    uint64_t writes = 0;         // CMD_WRITE reports
    uint64_t data = 0;           // CMD_WRITE data reports
    uint64_t erasedData = 0;     // data reports whose payload is all 0xFF
    uint64_t bankCrossings = 0;  // CMD_WRITEs that run past the end of their bank
    uint64_t erases = 0;         // CMD_ERASE reports
    uint64_t polls = 0;          // CMD_GET_STATUS reports

    uint64_t Reports() const { return out + feature; }
    ToolTraffic& operator+=(const ToolTraffic& more);
};
