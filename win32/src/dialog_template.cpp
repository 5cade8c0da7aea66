#include "win32/src/dialog_template.h"

#include <cstdlib>

namespace standin {
namespace detail {
namespace {

constexpr WORD kOrdinalMark = 0xFFFF;
constexpr WORD kExtendedVersion = 1;
constexpr size_t kResourceFixedTail = 16;  // DataVersion, MemoryFlags, LanguageId, Version,
                                           // Characteristics
constexpr size_t kResourceMinHeader = 8 + 4 + 4 + kResourceFixedTail;

// Class atoms of the predefined control classes in a dialog item.
struct ClassAtom {
    WORD atom;
    const char* name;
};
constexpr ClassAtom kClassAtoms[] = {
    {0x80, "BUTTON"},  {0x81, "EDIT"},      {0x82, "STATIC"},
    {0x83, "LISTBOX"}, {0x84, "SCROLLBAR"}, {0x85, "COMBOBOX"},
};

// Reads little-endian fields and never past the end; a read beyond it marks the cursor failed
// and yields zeros.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool ok;
};

bool Has(Cursor& c, size_t count) {
    if (!c.ok || c.pos > c.size || c.size - c.pos < count) {
        c.ok = false;
        return false;
    }
    return true;
}

WORD Word(Cursor& c) {
    if (!Has(c, 2)) return 0;
    WORD value = static_cast<WORD>(c.data[c.pos] | (c.data[c.pos + 1] << 8));
    c.pos += 2;
    return value;
}

DWORD Dword(Cursor& c) {
    DWORD low = Word(c);
    DWORD high = Word(c);
    return low | (high << 16);
}

BYTE Byte(Cursor& c) {
    if (!Has(c, 1)) return 0;
    return c.data[c.pos++];
}

int Short(Cursor& c) { return static_cast<int16_t>(Word(c)); }

void AlignDword(Cursor& c) {
    size_t aligned = (c.pos + 3) & ~static_cast<size_t>(3);
    // Padding at the very end of the data may be missing; that is not an error by itself.
    c.pos = aligned <= c.size ? aligned : c.size;
}

// A zero-terminated UTF-16 string whose first unit has been read already.
std::u16string RestOfString(Cursor& c, WORD first) {
    std::u16string text;
    for (WORD unit = first; c.ok && unit != 0; unit = Word(c)) text.push_back(unit);
    return text;
}

std::u16string String(Cursor& c) { return RestOfString(c, Word(c)); }

// A resource type or name in a .res entry header: 0xFFFF and an ordinal, or a string.
ResourceId ResourceIdAt(Cursor& c) {
    ResourceId id;
    WORD first = Word(c);
    if (first == kOrdinalMark) {
        id.ordinal = Word(c);
    } else {
        id.isOrdinal = false;
        id.name = RestOfString(c, first);
    }
    return id;
}

std::string Ordinal(WORD value) { return "#" + std::to_string(value); }

// A menu or class field of a dialog header: 0 none, 0xFFFF and an ordinal, or a string.
std::string MenuOrClass(Cursor& c) {
    WORD first = Word(c);
    if (first == 0) return "";
    if (first == kOrdinalMark) return Ordinal(Word(c));
    return Narrow(RestOfString(c, first));
}

std::string UpperAscii(std::string text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return text;
}

// Control class: an atom of a predefined class or a name. Class names are not case sensitive,
// so a predefined class given by name is reported like its atom.
std::string ItemClass(Cursor& c) {
    WORD first = Word(c);
    if (first == kOrdinalMark) {
        WORD atom = Word(c);
        for (const ClassAtom& known : kClassAtoms) {
            if (known.atom == atom) return known.name;
        }
        return Ordinal(atom);
    }
    std::string name = Narrow(RestOfString(c, first));
    for (const ClassAtom& known : kClassAtoms) {
        if (UpperAscii(name) == known.name) return known.name;
    }
    return name;
}

// Control title: a string, or 0xFFFF and the ordinal of a resource (the image of SS_BITMAP).
void ItemTitle(Cursor& c, ControlInfo* control) {
    WORD first = Word(c);
    if (first == kOrdinalMark) {
        control->titleOrdinal = Word(c);
    } else {
        control->text = Narrow(RestOfString(c, first));
    }
}

void SkipCreationData(Cursor& c) {
    WORD extra = Word(c);
    if (Has(c, extra)) c.pos += extra;
}

Rect Place(Cursor& c) {
    Rect place;
    place.x = Short(c);
    place.y = Short(c);
    place.cx = Short(c);
    place.cy = Short(c);
    return place;
}

bool ParseExtended(Cursor& c, DialogTemplate* dialog) {
    DialogInfo& info = dialog->info;
    info.extended = true;
    Word(c);  // version
    Word(c);  // signature
    info.helpId = Dword(c);
    info.exStyle = Dword(c);
    info.style = Dword(c);
    WORD count = Word(c);
    info.place = Place(c);
    info.menu = MenuOrClass(c);
    info.windowClass = MenuOrClass(c);
    info.caption = Narrow(String(c));
    if (info.style & DS_SETFONT) {
        info.hasFont = true;
        info.font.pointSize = Word(c);
        info.font.weight = Word(c);
        info.font.italic = Byte(c) != 0;
        info.font.charset = Byte(c);
        info.font.typeface = Narrow(String(c));
    }
    for (WORD i = 0; i < count && c.ok; ++i) {
        AlignDword(c);
        ControlInfo control;
        control.helpId = Dword(c);
        control.exStyle = Dword(c);
        control.style = Dword(c);
        control.place = Place(c);
        control.id = static_cast<int32_t>(Dword(c));
        control.className = ItemClass(c);
        ItemTitle(c, &control);
        SkipCreationData(c);
        dialog->controls.push_back(control);
    }
    return c.ok;
}

bool ParseClassic(Cursor& c, DialogTemplate* dialog) {
    DialogInfo& info = dialog->info;
    info.style = Dword(c);
    info.exStyle = Dword(c);
    WORD count = Word(c);
    info.place = Place(c);
    info.menu = MenuOrClass(c);
    info.windowClass = MenuOrClass(c);
    info.caption = Narrow(String(c));
    if (info.style & DS_SETFONT) {
        info.hasFont = true;
        info.font.pointSize = Word(c);
        info.font.typeface = Narrow(String(c));
    }
    for (WORD i = 0; i < count && c.ok; ++i) {
        AlignDword(c);
        ControlInfo control;
        control.style = Dword(c);
        control.exStyle = Dword(c);
        control.place = Place(c);
        // A 16-bit identifier; IDC_STATIC (-1) is stored as 0xFFFF.
        control.id = static_cast<int16_t>(Word(c));
        control.className = ItemClass(c);
        ItemTitle(c, &control);
        SkipCreationData(c);
        dialog->controls.push_back(control);
    }
    return c.ok;
}

}  // namespace

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t unit : text) narrow.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    return narrow;
}

bool ReadResourceFile(const uint8_t* bytes, size_t size, std::vector<ResourceEntry>* entries) {
    entries->clear();
    Cursor c{bytes, size, 0, true};
    while (c.pos < size) {
        size_t start = c.pos;
        DWORD dataSize = Dword(c);
        DWORD headerSize = Dword(c);
        if (!c.ok || headerSize < kResourceMinHeader || headerSize > size - start ||
            dataSize > size - start - headerSize) {
            return false;
        }
        // The names must end inside the header.
        Cursor header{bytes, start + headerSize, c.pos, true};
        ResourceEntry entry;
        entry.type = ResourceIdAt(header);
        entry.name = ResourceIdAt(header);
        AlignDword(header);
        Dword(header);  // DataVersion
        Word(header);   // MemoryFlags
        entry.language = Word(header);
        Dword(header);  // Version
        Dword(header);  // Characteristics
        if (!header.ok) return false;
        entry.data = bytes + start + headerSize;
        entry.size = dataSize;
        entries->push_back(entry);
        c.pos = start + headerSize + dataSize;
        AlignDword(c);
    }
    return true;
}

bool MatchesResource(const ResourceId& id, LPCSTR wanted) {
    uintptr_t value = reinterpret_cast<uintptr_t>(wanted);
    if (value <= 0xFFFF) return id.isOrdinal && id.ordinal == value;
    std::string text = wanted;
    if (text.size() > 1 && text[0] == '#') {
        char* end = nullptr;
        unsigned long ordinal = std::strtoul(text.c_str() + 1, &end, 10);
        if (*end == '\0' && ordinal <= 0xFFFF) return id.isOrdinal && id.ordinal == ordinal;
    }
    return !id.isOrdinal && UpperAscii(Narrow(id.name)) == UpperAscii(text);
}

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog) {
    *dialog = DialogTemplate();
    Cursor c{data, size, 0, true};
    WORD version = Word(c);
    WORD signature = Word(c);
    if (!c.ok) return false;
    c.pos = 0;
    if (signature == kOrdinalMark) {
        if (version != kExtendedVersion) return false;
        return ParseExtended(c, dialog);
    }
    return ParseClassic(c, dialog);
}

}  // namespace detail
}  // namespace standin
