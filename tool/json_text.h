// A JSON document as kelmtool prints it.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Indented by two (-1: on one line); invalid UTF-8 (8-bit texts of slot headers, of the command
// line) replaced.
std::string JsonText(const nlohmann::json& document, int indent = 2);
