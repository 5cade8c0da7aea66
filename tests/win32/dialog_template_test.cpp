#include "win32/src/dialog_template.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "test_dialog.h"

namespace {

using standin::detail::DialogTemplate;
using standin::detail::ParseDialogTemplate;
using standin::detail::ReadResourceFile;
using standin::detail::ResourceEntry;

const ResourceEntry* FindDialog(const std::vector<ResourceEntry>& entries, int id) {
    for (const ResourceEntry& entry : entries) {
        if (standin::detail::MatchesResource(entry.type, RT_DIALOG) &&
            standin::detail::MatchesResource(entry.name, MAKEINTRESOURCEA(id))) {
            return &entry;
        }
    }
    return nullptr;
}

DialogTemplate Parsed(int id) {
    std::vector<ResourceEntry> entries;
    EXPECT_TRUE(ReadResourceFile(kTestDialogRes, kTestDialogResSize, &entries));
    const ResourceEntry* entry = FindDialog(entries, id);
    DialogTemplate dialog;
    EXPECT_TRUE(entry != nullptr && ParseDialogTemplate(entry->data, entry->size, &dialog)) << id;
    return dialog;
}

std::vector<int> Place(const standin::Rect& place) {
    return {place.x, place.y, place.cx, place.cy};
}

TEST(DialogTemplateTest, ExtendedTemplate) {
    DialogTemplate dialog = Parsed(IDD_EXTENDED);
    const standin::DialogInfo& info = dialog.info;
    EXPECT_TRUE(info.extended);
    EXPECT_EQ(info.helpId, 55u);
    EXPECT_EQ(info.style, static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION |
                                             WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(Place(info.place), (std::vector<int>{10, 20, 200, 150}));
    EXPECT_EQ(info.caption, "Test Box");
    const standin::DialogFont& font = info.font;
    EXPECT_EQ(std::tie(font.typeface, font.pointSize, font.weight, font.italic, font.charset),
              std::make_tuple("Tahoma", 9, 700, true, 2));

    std::vector<int> ids;
    std::vector<std::string> texts;
    std::vector<std::string> classes;
    for (const standin::ControlInfo& control : dialog.controls) {
        ids.push_back(control.id);
        texts.push_back(control.text);
        classes.push_back(control.className);
    }
    EXPECT_EQ(ids, (std::vector<int>{IDC_GO, IDC_HIDDEN, IDC_OFF, IDC_CHECK, IDC_TRISTATE,
                                     IDC_PLAIN_CHECK, IDC_RADIO_A, IDC_RADIO_B, IDC_RADIO_C,
                                     IDC_RADIO_D, IDC_FIELD, IDC_CHOICE, IDC_STATUS, -1, -1,
                                     IDC_LATIN, IDC_WIDE, IDC_CUSTOM, IDC_FRAME}));
    // UTF-16 comes back in the 8-bit code page, '?' where that lacks the character.
    EXPECT_EQ(texts,
              (std::vector<std::string>{"&Go", "Hidden", "Off", "Check", "Three", "Plain", "A", "B",
                                        "C", "D", "typed", "", "Status", "", "Frame",
                                        "Gr\xF6\xDF"
                                        "e",
                                        "Smile ?", "Custom", "Frame"}));
    EXPECT_EQ(std::vector<std::string>(classes.begin() + 10, classes.begin() + 14),
              (std::vector<std::string>{"EDIT", "COMBOBOX", "STATIC", "STATIC"}));
    EXPECT_EQ(classes[17], "MYCLASS");  // the resource compiler writes class names in capitals
    const standin::ControlInfo& check = dialog.controls[3];
    EXPECT_EQ(check.style,
              static_cast<DWORD>(WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP));
    EXPECT_EQ(check.exStyle, static_cast<DWORD>(WS_EX_STATICEDGE));
    EXPECT_EQ(check.helpId, 77u);
    EXPECT_EQ(Place(check.place), (std::vector<int>{5, 24, 60, 10}));
    EXPECT_EQ(dialog.controls[1].style & WS_VISIBLE, 0u);
    EXPECT_EQ(dialog.controls[13].titleOrdinal, IDB_PICTURE);  // the SS_BITMAP's image
}

TEST(DialogTemplateTest, OldStyleTemplate) {
    DialogTemplate dialog = Parsed(IDD_CLASSIC);
    EXPECT_FALSE(dialog.info.extended);
    EXPECT_EQ(dialog.info.menu, "#300");
    EXPECT_EQ(dialog.info.caption, "Old");
    EXPECT_EQ(dialog.info.font.typeface, "MS Sans Serif");
    EXPECT_EQ(dialog.info.font.pointSize, 8);
    ASSERT_EQ(dialog.controls.size(), 3u);
    EXPECT_EQ(dialog.controls[1].id, IDCANCEL);
    EXPECT_EQ(dialog.controls[2].id, -1);  // IDC_STATIC, stored in 16 bits
    EXPECT_EQ(dialog.controls[2].text, "label");
    EXPECT_EQ(Parsed(IDD_EMPTY).info.windowClass, "SPECIAL");
}

// The bytes come from a file: every cut is refused without a read past it (each copy is exactly
// as long as the cut, so the address sanitizer sees an overrun). A .res file cut at the end of
// an entry is a shorter file, and fine.
TEST(DialogTemplateTest, RefusesEveryTruncation) {
    std::vector<ResourceEntry> entries;
    ASSERT_TRUE(ReadResourceFile(kTestDialogRes, kTestDialogResSize, &entries));
    for (int id : {IDD_EXTENDED, IDD_CLASSIC}) {
        const ResourceEntry* entry = FindDialog(entries, id);
        ASSERT_NE(entry, nullptr);
        for (size_t cut = 0; cut < entry->size; ++cut) {
            std::unique_ptr<uint8_t[]> copy(new uint8_t[cut + 1]);
            std::copy(entry->data, entry->data + cut, copy.get());
            DialogTemplate dialog;
            EXPECT_FALSE(ParseDialogTemplate(copy.get(), cut, &dialog)) << id << " cut " << cut;
        }
    }
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
        EXPECT_EQ(ReadResourceFile(copy.get(), cut, &partial), atEntryEnd(cut)) << cut;
    }
}

TEST(DialogTemplateTest, RefusesResourceSizesThatLie) {
    // DataSize and HeaderSize of an entry whose header is otherwise well formed.
    const uint32_t cases[][2] = {{0, 8}, {0, 0x1000}, {0x7FFFFFF0, 32}, {0xFFFFFFF0, 32}};
    for (const auto& sizes : cases) {
        uint32_t words[8] = {sizes[0], sizes[1], 0xFFFF, 0xFFFF, 0, 0, 0, 0};
        std::vector<ResourceEntry> entries;
        EXPECT_FALSE(
            ReadResourceFile(reinterpret_cast<const uint8_t*>(words), sizeof(words), &entries))
            << sizes[0] << " " << sizes[1];
    }
}

}  // namespace
