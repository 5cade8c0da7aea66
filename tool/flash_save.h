// Flash read into a file that appears under its name only when complete: what backup and dump
// share.
#pragma once

#include <cstdint>
#include <string>

#include "board_session.h"
#include "output_file.h"
#include "tool_context.h"

// Refuses a target that may not be written and creates the file under construction, both before
// the board is touched: a folder that cannot take the file refuses the run there.
Outcome PrepareOutput(const ToolContext& context, const std::string& output, bool force,
                      OutputFile& file);

// Reads length bytes from address into file under one bus request, then commits the file.
Outcome SaveFlash(ToolContext& context, BoardSession& session, uint32_t address, uint64_t length,
                  OutputFile& file, const char* label);
