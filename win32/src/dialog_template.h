// Reading compiled resources: the entries of a .res file and the dialog templates among them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "win32/standin.h"

namespace standin {
namespace detail {

// A resource type or name: an ordinal, or a string (UTF-16 as stored).
struct ResourceId {
    bool isOrdinal = true;
    WORD ordinal = 0;
    std::u16string name;
};

// One entry of a .res file; data points into the bytes it was read from.
struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Splits a .res file into its entries. False when any entry runs past the end or its header is
// not well formed; the bytes come from a file and are trusted in nothing.
bool ReadResourceFile(const uint8_t* bytes, size_t size, std::vector<ResourceEntry>* entries);

// Whether the entry's type or name is what a Win32 caller asked for with an LPCSTR that is either
// MAKEINTRESOURCEA(n), "#n", or a name (compared without regard to case, as Windows does).
bool MatchesResource(const ResourceId& id, LPCSTR wanted);

// Texts of resources, UTF-16, in the 8-bit code page (Latin-1 here; anything beyond it becomes
// '?', as a conversion to an ANSI code page that lacks the character does).
std::string Narrow(const std::u16string& text);

struct DialogTemplate {
    DialogInfo info;
    std::vector<ControlInfo> controls;  // check and the current state are not part of it
};

// Parses a DLGTEMPLATEEX or an old DLGTEMPLATE. False when the data is truncated or not a
// dialog template.
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog);

}  // namespace detail
}  // namespace standin
