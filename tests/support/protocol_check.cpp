#include "support/protocol_check.h"

#include <gtest/gtest.h>

#include <string>

void CheckProtocol(const sim::Board& board, const ProtocolAllowance& allowed) {
    if (!allowed.violations) {
        for (const std::string& violation : board.Violations()) {
            ADD_FAILURE() << "protocol breach: " << violation;
        }
    }
    if (allowed.flashWithoutBus) return;
    for (const sim::ProtocolEvent& event : board.ProtocolEvents()) {
        const bool refusedRead =
            event.command == sim::kCmdRead && event.lapse == sim::BusLapse::Refused;
        if (refusedRead && allowed.readsAfterRefusedBus) continue;
        ADD_FAILURE() << "careless host: " << event.text;
    }
}
