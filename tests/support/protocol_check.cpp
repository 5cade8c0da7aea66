#include "support/protocol_check.h"

#include <gtest/gtest.h>

#include <string>

void CheckProtocol(const sim::Board& board, const ProtocolAllowance& allowed) {
    for (const std::string& fault : testworld::ProtocolFaults(board, allowed)) {
        ADD_FAILURE() << fault;
    }
}
