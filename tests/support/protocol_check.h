// The fixtures' check of what the board saw of the host: breaches of the protocol, and flash
// commands sent without the bus.
#pragma once

#include "sim/board.h"
#include "testworld/world.h"

using testworld::ProtocolAllowance;

// Fails the running test for every breach and every flash command without the bus that the
// allowance does not cover.
void CheckProtocol(const sim::Board& board, const ProtocolAllowance& allowed);
