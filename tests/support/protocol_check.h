// The fixtures' check of what the board saw of the host: breaches of the protocol, and flash
// commands sent without the bus.
#pragma once

#include "sim/board.h"

// What a test makes the board see on purpose.
struct ProtocolAllowance {
    bool violations = false;            // reports the firmware rejects (e.g. a bank past 31)
    bool flashWithoutBus = false;       // flash commands without the bus: the engineering
                                        // panel's, or the transfer routines called alone
    bool readsAfterRefusedBus = false;  // reads that go on after the bus was refused, as the
                                        // catalogue scan's do
};

// Fails the running test for every breach and every flash command without the bus that the
// allowance does not cover.
void CheckProtocol(const sim::Board& board, const ProtocolAllowance& allowed);
