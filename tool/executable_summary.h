// What a DOL or ELF file says of itself in its own header, for `info FILE`: where it starts and
// what it loads, in a line of text and as JSON members.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "image_file.h"
#include "outcome.h"

struct ExecutableSummary {
    std::string text;  // one line; empty for a kind that has no header of its own
    nlohmann::json data = nlohmann::json::object();
};

// The summary of image's file header (a DOL's or an ELF's; nothing for .gcb and VGC).
Outcome SummarizeExecutable(ImageFile& image, ExecutableSummary& summary);
