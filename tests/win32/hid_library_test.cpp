// HID.DLL as the program binds it.
#include <cstring>

#include "win32/kernel_fixture.h"

namespace {

const char* const kEntryPoints[] = {"HidD_GetHidGuid", "HidD_GetAttributes", "HidD_SetFeature",
                                    "HidD_GetFeature"};

using HidLibraryTest = KernelTest;

TEST_F(HidLibraryTest, LoadsByNameInAnyCaseAndCountsReferences) {
    // Without an extension, ".DLL" is implied.
    for (const char* name : {"HID.DLL", "hid.dll", "Hid.Dll", "hid"}) {
        EXPECT_NE(LoadLibraryA(name), nullptr) << name;
    }
    EXPECT_EQ(standin::HidLibraryLoadCount(), 4);
    HMODULE hid = GetModuleHandleA("HID.DLL");
    ASSERT_NE(hid, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(FreeLibrary(hid));
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    EXPECT_FALSE(FreeLibrary(hid)) << "released once too often";
    EXPECT_EQ(GetProcAddress(hid, "HidD_GetHidGuid"), nullptr) << "used after release";
}

TEST_F(HidLibraryTest, OtherModulesAndUnloadableHidFailUntilReset) {
    standin::SetHidLibraryLoadable(false);
    for (const char* name : {"HID.DLL", "USER32.DLL", "HIDD.DLL", "HID.DLL.bak", ""}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LoadLibraryA(name), nullptr) << name;
        EXPECT_EQ(LastError(), ERROR_MOD_NOT_FOUND) << name;
    }
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    standin::Reset();
    HMODULE hid = LoadLibraryA("HID.DLL");
    EXPECT_NE(hid, nullptr);
    FreeLibrary(hid);
}

// Each entry point can be missing alone (the reset between brings the others back); no other
// name resolves, nor an ordinal, nor an entry point asked of another module.
TEST_F(HidLibraryTest, ResolvesTheFourEntryPointsByNameUnlessRemoved) {
    for (const char* removed :
         {"", kEntryPoints[0], kEntryPoints[1], kEntryPoints[2], kEntryPoints[3]}) {
        standin::Reset();
        if (*removed) standin::RemoveHidEntryPoint(removed);
        HMODULE hid = LoadLibraryA("HID.DLL");
        for (const char* name : kEntryPoints) {
            SetLastError(ERROR_SUCCESS);
            const bool missing = std::strcmp(name, removed) == 0;
            EXPECT_EQ(GetProcAddress(hid, name) == nullptr, missing) << name << " / " << removed;
            EXPECT_EQ(LastError(), missing ? ERROR_PROC_NOT_FOUND : ERROR_SUCCESS) << name;
        }
        FreeLibrary(hid);
    }
    HMODULE hid = LoadLibraryA("HID.DLL");
    for (const char* name : {"HidD_GetProductString", "hidd_getfeature", ""}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetProcAddress(hid, name), nullptr) << name;
        EXPECT_EQ(LastError(), ERROR_PROC_NOT_FOUND) << name;
    }
    EXPECT_EQ(GetProcAddress(hid, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "HidD_GetFeature"), nullptr);
    FreeLibrary(hid);
}

// Calls are recorded only while history is kept, which a reset turns back on.
TEST_F(HidLibraryTest, GivesTheHidClassGuidAndRecordsCalls) {
    const GUID expected = {
        0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    uint8_t report[65] = {};
    for (bool kept : {false, true}) {
        standin::Reset();
        standin::SetHistoryKept(false);
        if (kept) standin::Reset();
        HMODULE hid = LoadLibraryA("HID.DLL");
        GUID guid = {};
        HidEntry<GetHidGuidProc>(hid, "HidD_GetHidGuid")(&guid);
        EXPECT_EQ(std::memcmp(&guid, &expected, sizeof(GUID)), 0);
        EXPECT_FALSE(HidEntry<SetFeatureProc>(hid, "HidD_SetFeature")(nullptr, report, 65));
        const std::vector<std::string> recorded = {"HidD_GetHidGuid", "HidD_SetFeature"};
        EXPECT_EQ(standin::HidCalls(), kept ? recorded : std::vector<std::string>{});
        FreeLibrary(hid);
    }
}

}  // namespace
