// The compiled resources of kelm.exe: dialog 101 built from the program's own .res bytes and
// compared control by control with the window's layout, and the logo, icon, manifest and
// version resources beside it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "ui/resource.h"
#include "win32/standin.h"

extern const uint8_t kKelmRes[];
extern const size_t kKelmResSize;

namespace {

constexpr DWORD kChild = WS_CHILD;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kConnect = kShown | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER;
constexpr DWORD kPanel = kChild | WS_TABSTOP;  // the hidden engineering buttons
constexpr DWORD kStatus = kShown | WS_GROUP | SS_CENTER | SS_SUNKEN;
constexpr DWORD kRadio = kChild | WS_DISABLED | BS_AUTORADIOBUTTON;
constexpr DWORD kMenu = WS_DISABLED | WS_TABSTOP;  // the flash menu's push buttons
constexpr DWORD kBoot = kChild | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kSlotStyle =
    kShown | WS_DISABLED | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE | BS_MULTILINE;

// A control as one line, so that a row of the layout is compared in one go.
std::string Describe(int id, const std::string& className, const std::string& text, int ordinal,
                     DWORD style, DWORD exStyle, const standin::Rect& r) {
    char line[200];
    std::snprintf(line, sizeof line, "%d %s '%s' #%d style %08lx ex %08lx at %d,%d %dx%d", id,
                  className.c_str(), text.c_str(), ordinal, static_cast<unsigned long>(style),
                  static_cast<unsigned long>(exStyle), r.x, r.y, r.cx, r.cy);
    return line;
}

// Rows 1 to 29 of the window's layout, in template order.
const struct {
    int id;
    const char* className;
    const char* text;
    int titleOrdinal;
    DWORD style;
    DWORD exStyle;
    standin::Rect place;
} kFixedControls[] = {
    {1001, "BUTTON", "&Connect \nto kelm", 0, kConnect, WS_EX_DLGMODALFRAME, {125, 7, 56, 42}},
    {1003, "BUTTON", "&Read", 0, kPanel, 0, {121, 41, 50, 15}},
    {1008, "BUTTON", "&Erase", 0, kPanel, 0, {120, 43, 50, 15}},
    {1010, "BUTTON", "&Program...", 0, kPanel, 0, {121, 42, 50, 15}},
    {1011, "BUTTON", "&Upload...", 0, kPanel, 0, {122, 41, 50, 15}},
    {1004, "BUTTON", "&Write", 0, kPanel, 0, {123, 39, 50, 15}},
    {1013, "BUTTON", "&Verify...", 0, kPanel, 0, {122, 26, 50, 15}},
    {1009, "BUTTON", "&Blank Check", 0, kPanel, 0, {119, 26, 50, 15}},
    {1012, "BUTTON", "Reset", 0, kPanel, 0, {155, 66, 50, 15}},
    {1005, "STATIC", "Not connected to kelm", 0, kStatus, 0, {14, 230, 259, 11}},
    {1022, "BUTTON", "BIOS", 0, kSlotStyle, WS_EX_STATICEDGE, {14, 110, 28, 27}},
    {1049, "BUTTON", "", 0, kRadio | WS_GROUP, 0, {12, 66, 16, 8}},
    {1050, "BUTTON", "", 0, kRadio, 0, {12, 30, 16, 8}},
    {1051, "BUTTON", " ", 0, kRadio, 0, {12, 18, 18, 10}},
    {1052, "BUTTON", "", 0, kRadio, 0, {6, 30, 16, 8}},
    {1053, "BUTTON", " ", 0, kRadio, 0, {12, 6, 18, 10}},
    {1054, "BUTTON", " ", 0, kRadio, 0, {12, 54, 18, 10}},
    {1055, "BUTTON", "Read", 0, kShown | kMenu, 0, {187, 31, 43, 18}},
    {1056, "BUTTON", "Format", 0, kChild | kMenu, 0, {102, 24, 57, 14}},
    {1057, "BUTTON", "Write", 0, kShown | kMenu, 0, {187, 7, 43, 18}},
    {1058, "BUTTON", "Erase", 0, kShown | kMenu, 0, {237, 31, 42, 18}},
    {1059, "BUTTON", "Abort", 0, kShown | kMenu, 0, {237, 7, 42, 18}},
    {-1, "BUTTON", "Flash menu", 0, kShown | BS_GROUPBOX | BS_CENTER, 0, {7, 87, 273, 156}},
    {-1, "STATIC", "", 109, kShown | SS_BITMAP, 0, {6, 6, 111, 77}},
    {1061, "BUTTON", "Boot when X is pressed", 0, kBoot | WS_GROUP, 0, {14, 7, 90, 10}},
    {1064, "BUTTON", "Boot when Y is pressed", 0, kBoot, 0, {14, 18, 90, 10}},
    {1065, "BUTTON", "Boot when game is inserted", 0, kBoot, 0, {14, 31, 103, 10}},
    {1066, "BUTTON", "Boot automatically", 0, kBoot, 0, {14, 42, 73, 10}},
    {-1, "STATIC", "1 Slot = 64 KBytes", 0, kShown | WS_GROUP | SS_LEFT, 0, {12, 96, 73, 8}},
};

// Slot 0 is row 11 of the layout, slots 1 to 31 are rows 30 to 60. The program finds slot
// buttons only through SlotButtonIds: slot n's button must sit at slot n's place.
std::vector<std::string> ExpectedLayout() {
    std::vector<std::string> rows;
    for (const auto& c : kFixedControls) {
        rows.push_back(
            Describe(c.id, c.className, c.text, c.titleOrdinal, c.style, c.exStyle, c.place));
    }
    const int rowY[4] = {110, 140, 169, 199};
    for (int slot = 1; slot < kSlotCount; ++slot) {
        const standin::Rect place = {14 + 33 * (slot % 8), rowY[slot / 8], 28, 27};
        rows.push_back(
            Describe(SlotButtonIds[slot], "BUTTON", "", 0, kSlotStyle, WS_EX_STATICEDGE, place));
    }
    return rows;
}

INT_PTR CALLBACK InertDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

// Dialog 101 as it looks while it runs, under a procedure that changes nothing.
class MainDialogTemplateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        ASSERT_GT(kKelmResSize, 0u) << "the host build embeds no resources";
        HINSTANCE module = standin::RegisterModule(kKelmRes, kKelmResSize);
        ASSERT_NE(module, nullptr);
        standin::SetUserScript([&](HWND dialog) {
            info = standin::TemplateInfo(dialog);
            controls = standin::Controls(dialog);
            title = standin::Title(dialog);
        });
        ASSERT_EQ(DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, InertDialogProc, 0),
                  0)
            << "dialog 101 did not run";
    }
    void TearDown() override { standin::Reset(); }

    standin::DialogInfo info;
    std::vector<standin::ControlInfo> controls;
    std::string title;
};

TEST_F(MainDialogTemplateTest, DialogIsAnExtendedFixedFramePopupWithTheSmallFont) {
    EXPECT_TRUE(info.extended);
    EXPECT_EQ(info.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                             DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(info.exStyle, 0u);
    const standin::Rect& place = info.place;
    EXPECT_EQ((std::vector<int>{place.x, place.y, place.cx, place.cy}),
              (std::vector<int>{100, 100, 286, 250}));
    EXPECT_EQ(info.menu + info.windowClass + info.caption + title, "");
    EXPECT_TRUE(info.hasFont);
    EXPECT_EQ(info.font.typeface, "MS Sans Serif");
    EXPECT_EQ(info.font.pointSize, 8);
    EXPECT_FALSE(info.font.italic);
}

// All 60 controls in template order, and nothing else: identifiers the program addresses that
// the window lacks (1002, 1021, those between slot buttons ...) must reach nothing.
TEST_F(MainDialogTemplateTest, EveryControlMatchesTheLayoutInTemplateOrder) {
    const std::vector<std::string> layout = ExpectedLayout();
    ASSERT_EQ(controls.size(), layout.size());
    for (size_t row = 0; row < layout.size(); ++row) {
        const standin::ControlInfo& got = controls[row];
        EXPECT_EQ(Describe(got.id, got.className, got.text, got.titleOrdinal, got.style,
                           got.exStyle, got.place),
                  layout[row])
            << "row " << row + 1;
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.check, BST_UNCHECKED);
    }
}

// ---------------------------------------------------------------- the other resources

struct Resource {
    int type = 0;  // ordinal types only; named ones are left out
    int name = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The entries of the .res file whose type and name are both ordinals.
std::vector<Resource> ResourcesOf(const uint8_t* bytes, size_t size) {
    std::vector<Resource> found;
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t dataSize = Le32(bytes + pos);
        uint32_t headerSize = Le32(bytes + pos + 4);
        if (headerSize < 16 || headerSize > size - pos || dataSize > size - pos - headerSize) {
            ADD_FAILURE() << "malformed .res entry at " << pos;
            break;
        }
        const uint8_t* header = bytes + pos + 8;
        if (Le16(header) == 0xFFFF && Le16(header + 4) == 0xFFFF) {
            found.push_back(
                {Le16(header + 2), Le16(header + 6), bytes + pos + headerSize, dataSize});
        }
        pos = (pos + headerSize + dataSize + 3) & ~static_cast<size_t>(3);
    }
    return found;
}

const Resource* Find(const std::vector<Resource>& all, int type, int name) {
    for (const Resource& r : all) {
        if (r.type == type && r.name == name) return &r;
    }
    return nullptr;
}

bool Contains(const Resource& r, const std::string& needle) {
    return std::string(reinterpret_cast<const char*>(r.data), r.size).find(needle) !=
           std::string::npos;
}

std::string Utf16(const std::string& ascii) {
    std::string wide;
    for (char ch : ascii) {
        wide.push_back(ch);
        wide.push_back('\0');
    }
    return wide;
}

constexpr int kTypeBitmap = 2, kTypeIcon = 3, kTypeGroupIcon = 14, kTypeVersion = 16,
              kTypeManifest = 24;

class KelmResourcesTest : public ::testing::Test {
  protected:
    std::vector<Resource> all = ResourcesOf(kKelmRes, kKelmResSize);
};

// The static control shows the bitmap at its own size, so its size is part of the layout.
TEST_F(KelmResourcesTest, LogoIs167By125With256Colours) {
    const Resource* logo = Find(all, kTypeBitmap, IDB_LOGO);
    ASSERT_NE(logo, nullptr);
    ASSERT_GE(logo->size, 40u);
    const uint8_t* info = logo->data;
    EXPECT_EQ(Le32(info), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(static_cast<int32_t>(Le32(info + 4)), 167);
    int32_t height = static_cast<int32_t>(Le32(info + 8));
    EXPECT_EQ(height < 0 ? -height : height, 125);
    EXPECT_EQ(Le16(info + 12), 1);   // planes
    EXPECT_EQ(Le16(info + 14), 8);   // bits per pixel
    EXPECT_EQ(Le32(info + 16), 0u);  // BI_RGB
    uint32_t colours = Le32(info + 32);
    EXPECT_TRUE(colours == 0 || colours == 256) << colours;
    const size_t rowBytes = 168;  // 167 rounded up to a multiple of 4
    EXPECT_GE(logo->size, 40u + 256 * 4 + rowBytes * 125);
}

TEST_F(KelmResourcesTest, IconGroup105Holds32By32In16Colours) {
    const Resource* group = Find(all, kTypeGroupIcon, IDI_APP);
    ASSERT_NE(group, nullptr);
    ASSERT_GE(group->size, 6u + 14u);
    EXPECT_EQ(Le16(group->data + 2), 1);  // icons, not cursors
    ASSERT_EQ(Le16(group->data + 4), 1);  // one image
    const uint8_t* entry = group->data + 6;
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(entry[2], 16);
    EXPECT_EQ(Le16(entry + 6), 4);
    const Resource* image = Find(all, kTypeIcon, Le16(entry + 12));
    ASSERT_NE(image, nullptr);
    ASSERT_GE(image->size, 40u);
    EXPECT_EQ(Le32(image->data + 4), 32u);
    EXPECT_EQ(Le32(image->data + 8), 64u);  // the colour bits and the mask
    EXPECT_EQ(Le16(image->data + 14), 4);
}

TEST_F(KelmResourcesTest, ManifestRunsAsInvokerDpiAwareWithoutCommonControls6) {
    const Resource* manifest = Find(all, kTypeManifest, IDR_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    EXPECT_TRUE(Contains(*manifest, "level=\"asInvoker\""));
    EXPECT_TRUE(Contains(*manifest, ">true</dpiAware>"));
    EXPECT_TRUE(Contains(*manifest, ">PerMonitorV2"));
    EXPECT_FALSE(Contains(*manifest, "Microsoft.Windows.Common-Controls"));
    for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",     // 7
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",     // 8
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",     // 8.1
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
        EXPECT_TRUE(Contains(*manifest, os)) << os;
    }
}

TEST_F(KelmResourcesTest, VersionIs1101OfKelmFlashSoftware) {
    const Resource* version = Find(all, kTypeVersion, 1);
    ASSERT_NE(version, nullptr);
    std::string bytes(reinterpret_cast<const char*>(version->data), version->size);
    const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};  // VS_FIXEDFILEINFO
    size_t fixed = bytes.find(std::string(signature, 4));
    ASSERT_NE(fixed, std::string::npos);
    ASSERT_LE(fixed + 24, bytes.size());
    const uint8_t* info = version->data + fixed;
    EXPECT_EQ(Le32(info + 8), 0x00010001u);   // file version 1.1
    EXPECT_EQ(Le32(info + 12), 0x00000001u);  // .0.1
    EXPECT_EQ(Le32(info + 16), 0x00010001u);  // product version
    EXPECT_EQ(Le32(info + 20), 0x00000001u);
    EXPECT_TRUE(Contains(*version, Utf16("kelm flash software")));
    EXPECT_TRUE(Contains(*version, Utf16("1.1.0.1")));
}

}  // namespace
