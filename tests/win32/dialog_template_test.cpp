#include "win32/src/dialog_template.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "test_dialog.h"

namespace {

using standin::ControlInfo;
using standin::detail::DialogTemplate;
using standin::detail::ParseDialogTemplate;
using standin::detail::ReadResourceFile;
using standin::detail::ResourceEntry;

constexpr DWORD kExToolWindow = 0x00000080;
constexpr DWORD kEsAutoHScroll = 0x0080;
constexpr DWORD kCbsDropDownList = 0x0003;

std::vector<ResourceEntry> TestEntries() {
    std::vector<ResourceEntry> entries;
    EXPECT_TRUE(ReadResourceFile(kTestDialogRes, kTestDialogResSize, &entries));
    return entries;
}

const ResourceEntry* FindDialog(const std::vector<ResourceEntry>& entries, LPCSTR name) {
    for (const ResourceEntry& entry : entries) {
        if (standin::detail::MatchesResource(entry.type, RT_DIALOG) &&
            standin::detail::MatchesResource(entry.name, name)) {
            return &entry;
        }
    }
    return nullptr;
}

DialogTemplate ParsedDialog(int id) {
    std::vector<ResourceEntry> entries = TestEntries();
    const ResourceEntry* entry = FindDialog(entries, MAKEINTRESOURCEA(id));
    DialogTemplate dialog;
    if (entry == nullptr) {
        ADD_FAILURE() << "dialog " << id << " is missing";
        return dialog;
    }
    EXPECT_TRUE(ParseDialogTemplate(entry->data, entry->size, &dialog));
    return dialog;
}

// A little-endian byte writer for hand-made templates.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& Word(unsigned value) {
        data.push_back(static_cast<uint8_t>(value));
        data.push_back(static_cast<uint8_t>(value >> 8));
        return *this;
    }
    Bytes& Dword(uint32_t value) { return Word(value & 0xFFFF).Word(value >> 16); }
    Bytes& Text(const std::u16string& text) {
        for (char16_t unit : text) Word(unit);
        return Word(0);
    }
    Bytes& Align() {
        while (data.size() % 4 != 0) data.push_back(0);
        return *this;
    }
};

// An extended template without a font whose items name their class by atom.
std::vector<uint8_t> AtomTemplate(const std::vector<unsigned>& atoms) {
    Bytes b;
    b.Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(WS_POPUP).Word(atoms.size());
    b.Word(0).Word(0).Word(50).Word(40).Word(0).Word(0).Text(u"");
    int id = 100;
    for (unsigned atom : atoms) {
        b.Align().Dword(0).Dword(0).Dword(WS_CHILD | WS_VISIBLE);
        b.Word(1).Word(2).Word(3).Word(4).Dword(id++);
        b.Word(0xFFFF).Word(atom).Word(0xFFFF).Word(7).Word(0);
    }
    return b.data;
}

TEST(ResourceFileTest, ListsEveryEntryWithItsTypeAndName) {
    std::vector<ResourceEntry> entries = TestEntries();
    ASSERT_EQ(entries.size(), 7u);
    // The file opens with an empty entry.
    EXPECT_TRUE(entries[0].type.isOrdinal);
    EXPECT_EQ(entries[0].type.ordinal, 0);
    EXPECT_EQ(entries[0].size, 0u);

    int dialogs = 0;
    bool sawRaw = false;
    bool sawCustom = false;
    for (const ResourceEntry& entry : entries) {
        if (standin::detail::MatchesResource(entry.type, RT_DIALOG)) ++dialogs;
        if (standin::detail::MatchesResource(entry.type, RT_RCDATA)) {
            sawRaw = true;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data), entry.size), "odd");
        }
        if (standin::detail::MatchesResource(entry.type, "custom")) {
            sawCustom = true;
            EXPECT_FALSE(entry.type.isOrdinal);
            EXPECT_TRUE(
                standin::detail::MatchesResource(entry.name, MAKEINTRESOURCEA(IDR_CUSTOM_DATA)));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data), entry.size), "abcde");
        }
    }
    EXPECT_EQ(dialogs, 4);
    EXPECT_TRUE(sawRaw);
    EXPECT_TRUE(sawCustom);
}

TEST(ResourceFileTest, EmptyFileHasNoEntries) {
    std::vector<ResourceEntry> entries(1);
    EXPECT_TRUE(ReadResourceFile(nullptr, 0, &entries));
    EXPECT_TRUE(entries.empty());
}

// Cut anywhere but at the end of an entry (its padding may be missing), the file is refused,
// and nothing is read beyond the cut (the copy is exactly as long as the cut, so the address
// sanitizer sees any overrun).
TEST(ResourceFileTest, RefusesEveryCutInsideAnEntry) {
    std::vector<ResourceEntry> entries = TestEntries();
    auto atEntryEnd = [&](size_t cut) {
        for (const ResourceEntry& entry : entries) {
            size_t end = static_cast<size_t>(entry.data - kTestDialogRes) + entry.size;
            if (cut >= end && cut <= ((end + 3) & ~static_cast<size_t>(3))) return true;
        }
        return false;
    };
    for (size_t cut = 1; cut < kTestDialogResSize; ++cut) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[cut]);
        std::copy(kTestDialogRes, kTestDialogRes + cut, copy.get());
        std::vector<ResourceEntry> partial;
        EXPECT_EQ(ReadResourceFile(copy.get(), cut, &partial), atEntryEnd(cut)) << "cut at " << cut;
    }
}

TEST(ResourceFileTest, RefusesHeaderSizesThatLie) {
    struct Case {
        const char* what;
        uint32_t dataSize;
        uint32_t headerSize;
    };
    const Case cases[] = {
        {"header shorter than its fixed fields", 0, 8},
        {"header past the end", 0, 0x1000},
        {"data past the end", 0x7FFFFFF0, 32},
        {"sizes that wrap around", 0xFFFFFFF0, 0x20},
    };
    for (const Case& c : cases) {
        Bytes b;
        b.Dword(c.dataSize).Dword(c.headerSize).Word(0xFFFF).Word(0).Word(0xFFFF).Word(0);
        b.Dword(0).Dword(0).Dword(0).Dword(0);
        std::vector<ResourceEntry> entries;
        EXPECT_FALSE(ReadResourceFile(b.data.data(), b.data.size(), &entries)) << c.what;
    }
}

TEST(ResourceFileTest, RefusesANameThatRunsPastItsHeader) {
    Bytes b;
    b.Dword(0).Dword(32).Word(0xFFFF).Word(5);
    while (b.data.size() < 32) b.Word('A');  // a name with no terminator inside the header
    b.Word(0).Dword(0).Dword(0).Dword(0).Dword(0);
    std::vector<ResourceEntry> entries;
    EXPECT_FALSE(ReadResourceFile(b.data.data(), b.data.size(), &entries));
}

TEST(MatchesResourceTest, OrdinalsNumberedNamesAndNames) {
    standin::detail::ResourceId ordinal;
    ordinal.ordinal = 101;
    standin::detail::ResourceId named;
    named.isOrdinal = false;
    named.name = u"Named";
    struct Case {
        const standin::detail::ResourceId* id;
        LPCSTR wanted;
        bool matches;
    };
    const Case cases[] = {
        {&ordinal, MAKEINTRESOURCEA(101), true},
        {&ordinal, MAKEINTRESOURCEA(102), false},
        {&ordinal, "#101", true},
        {&ordinal, "#0101", true},
        {&ordinal, "#101x", false},
        {&ordinal, "101", false},
        {&named, "NAMED", true},
        {&named, "named", true},
        {&named, "Name", false},
        {&named, MAKEINTRESOURCEA(101), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(standin::detail::MatchesResource(*c.id, c.wanted), c.matches)
            << (reinterpret_cast<uintptr_t>(c.wanted) > 0xFFFF ? c.wanted : "ordinal");
    }
}

TEST(DialogTemplateTest, ExtendedHeaderAndFont) {
    DialogTemplate dialog = ParsedDialog(IDD_EXTENDED);
    const standin::DialogInfo& info = dialog.info;
    EXPECT_TRUE(info.extended);
    EXPECT_EQ(info.helpId, 55u);
    EXPECT_EQ(info.exStyle, kExToolWindow);
    EXPECT_EQ(info.style, static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION |
                                             WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(info.place.x, 10);
    EXPECT_EQ(info.place.y, 20);
    EXPECT_EQ(info.place.cx, 200);
    EXPECT_EQ(info.place.cy, 150);
    EXPECT_EQ(info.menu, "");
    EXPECT_EQ(info.windowClass, "");
    EXPECT_EQ(info.caption, "Test Box");
    ASSERT_TRUE(info.hasFont);
    EXPECT_EQ(info.font.typeface, "Tahoma");
    EXPECT_EQ(info.font.pointSize, 9);
    EXPECT_EQ(info.font.weight, 700);
    EXPECT_TRUE(info.font.italic);
    EXPECT_EQ(info.font.charset, 2);
}

TEST(DialogTemplateTest, ExtendedItemsInTemplateOrder) {
    struct Expected {
        int id;
        const char* className;
        const char* text;
        DWORD style;  // without WS_CHILD | WS_VISIBLE, which every item has unless said
        int x, y, cx, cy;
    };
    const DWORD hidden = WS_VISIBLE;  // marks the one item without WS_VISIBLE
    const Expected expected[] = {
        {IDC_GO, "BUTTON", "&Go", BS_DEFPUSHBUTTON | WS_TABSTOP, 5, 6, 50, 14},
        {IDC_HIDDEN, "BUTTON", "Hidden", BS_PUSHBUTTON | WS_TABSTOP | hidden, 60, 6, 50, 14},
        {IDC_OFF, "BUTTON", "Off", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 115, 6, 50, 14},
        {IDC_CHECK, "BUTTON", "Check", BS_AUTOCHECKBOX | WS_TABSTOP, 5, 24, 60, 10},
        {IDC_TRISTATE, "BUTTON", "Three", BS_AUTO3STATE | WS_TABSTOP, 70, 24, 60, 10},
        {IDC_PLAIN_CHECK, "BUTTON", "Plain", BS_CHECKBOX | WS_TABSTOP, 135, 24, 60, 10},
        {IDC_RADIO_A, "BUTTON", "A", BS_AUTORADIOBUTTON | WS_GROUP, 5, 40, 30, 10},
        {IDC_RADIO_B, "BUTTON", "B", BS_AUTORADIOBUTTON, 40, 40, 30, 10},
        {IDC_RADIO_C, "BUTTON", "C", BS_AUTORADIOBUTTON, 75, 40, 30, 10},
        {IDC_RADIO_D, "BUTTON", "D", BS_AUTORADIOBUTTON | WS_GROUP, 110, 40, 30, 10},
        {IDC_FIELD, "EDIT", "typed", kEsAutoHScroll | WS_BORDER | WS_TABSTOP, 5, 55, 80, 12},
        {IDC_CHOICE, "COMBOBOX", "", kCbsDropDownList | WS_TABSTOP, 90, 55, 80, 60},
        {IDC_STATUS, "STATIC", "Status", SS_CENTER | SS_SUNKEN | WS_GROUP, 5, 130, 190, 11},
        {IDC_ANONYMOUS, "STATIC", "", SS_BITMAP, 150, 70, 40, 30},
        {IDC_ANONYMOUS, "BUTTON", "Frame", BS_GROUPBOX, 5, 70, 140, 55},
        {IDC_LATIN, "STATIC",
         "Gr\xF6\xDF"
         "e",
         SS_LEFT, 10, 80, 60, 8},
        {IDC_WIDE, "STATIC", "Smile ?", SS_LEFT, 10, 90, 60, 8},
        // The resource compiler writes a class name in capitals.
        {IDC_CUSTOM, "MYCLASS", "Custom", 0x1234, 10, 100, 60, 8},
        {IDC_FRAME, "BUTTON", "Frame", BS_GROUPBOX, 100, 100, 40, 20},
    };
    DialogTemplate dialog = ParsedDialog(IDD_EXTENDED);
    ASSERT_EQ(dialog.controls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const ControlInfo& c = dialog.controls[i];
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.className, e.className);
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ(c.style, (WS_CHILD | WS_VISIBLE) ^ e.style);
        EXPECT_EQ(c.place.x, e.x);
        EXPECT_EQ(c.place.y, e.y);
        EXPECT_EQ(c.place.cx, e.cx);
        EXPECT_EQ(c.place.cy, e.cy);
    }
    // The bitmap's title is the ordinal of its image; the check box has a help id and ex-style.
    EXPECT_EQ(dialog.controls[13].titleOrdinal, IDB_PICTURE);
    EXPECT_EQ(dialog.controls[3].helpId, 77u);
    EXPECT_EQ(dialog.controls[3].exStyle, static_cast<DWORD>(WS_EX_STATICEDGE));
    EXPECT_EQ(dialog.controls[0].titleOrdinal, 0);
}

TEST(DialogTemplateTest, OldStyleTemplate) {
    DialogTemplate dialog = ParsedDialog(IDD_CLASSIC);
    const standin::DialogInfo& info = dialog.info;
    EXPECT_FALSE(info.extended);
    EXPECT_EQ(info.style & (DS_SETFONT | WS_POPUP | WS_CAPTION),
              static_cast<DWORD>(DS_SETFONT | WS_POPUP | WS_CAPTION));
    EXPECT_EQ(info.menu, "#300");
    EXPECT_EQ(info.caption, "Old");
    EXPECT_EQ(info.place.x, 1);
    EXPECT_EQ(info.place.cy, 50);
    ASSERT_TRUE(info.hasFont);
    EXPECT_EQ(info.font.typeface, "MS Sans Serif");
    EXPECT_EQ(info.font.pointSize, 8);
    ASSERT_EQ(dialog.controls.size(), 3u);
    EXPECT_EQ(dialog.controls[0].id, IDOK);
    EXPECT_EQ(dialog.controls[1].id, IDCANCEL);
    EXPECT_NE(dialog.controls[1].style & WS_DISABLED, 0u);
    // IDC_STATIC is stored in 16 bits and comes back as -1.
    EXPECT_EQ(dialog.controls[2].id, -1);
    EXPECT_EQ(dialog.controls[2].className, "STATIC");
    EXPECT_EQ(dialog.controls[2].text, "label");
}

TEST(DialogTemplateTest, NoFontNoCaptionOwnClass) {
    DialogTemplate dialog = ParsedDialog(IDD_EMPTY);
    EXPECT_FALSE(dialog.info.hasFont);
    EXPECT_EQ(dialog.info.caption, "");
    EXPECT_EQ(dialog.info.windowClass, "SPECIAL");
    EXPECT_TRUE(dialog.controls.empty());
}

TEST(DialogTemplateTest, ClassAtomsNameThePredefinedClasses) {
    std::vector<uint8_t> bytes = AtomTemplate({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x99});
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialogTemplate(bytes.data(), bytes.size(), &dialog));
    std::vector<std::string> classes;
    for (const ControlInfo& control : dialog.controls) {
        classes.push_back(control.className);
        EXPECT_EQ(control.titleOrdinal, 7);
    }
    EXPECT_EQ(classes, (std::vector<std::string>{"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR",
                                                 "COMBOBOX", "#153"}));
}

// Every cut of a template is refused without reading past the cut.
TEST(DialogTemplateTest, RefusesEveryTruncation) {
    std::vector<ResourceEntry> entries = TestEntries();
    for (int id : {IDD_EXTENDED, IDD_CLASSIC}) {
        const ResourceEntry* entry = FindDialog(entries, MAKEINTRESOURCEA(id));
        ASSERT_NE(entry, nullptr);
        for (size_t cut = 0; cut < entry->size; ++cut) {
            std::unique_ptr<uint8_t[]> copy(new uint8_t[cut + 1]);
            std::copy(entry->data, entry->data + cut, copy.get());
            DialogTemplate dialog;
            EXPECT_FALSE(ParseDialogTemplate(copy.get(), cut, &dialog))
                << "dialog " << id << " cut at " << cut;
        }
    }
}

TEST(DialogTemplateTest, RefusesAnUnknownExtendedVersion) {
    std::vector<uint8_t> bytes = AtomTemplate({0x80});
    bytes[0] = 2;
    DialogTemplate dialog;
    EXPECT_FALSE(ParseDialogTemplate(bytes.data(), bytes.size(), &dialog));
}

TEST(NarrowTest, KeepsLatin1AndMarksTheRest) {
    EXPECT_EQ(standin::detail::Narrow(u""), "");
    EXPECT_EQ(standin::detail::Narrow(u"Slot 1"), "Slot 1");
    EXPECT_EQ(standin::detail::Narrow(u"\u00e9\u00ff"), "\xE9\xFF");
    EXPECT_EQ(standin::detail::Narrow(u"a\u0100b\u263a"), "a?b?");
}

}  // namespace
