// HID.DLL as the program binds it, and the process's modules.
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
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(FreeLibrary(hid));
    }
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
    EXPECT_FALSE(FreeLibrary(hid)) << "released once too often";
    EXPECT_EQ(GetProcAddress(hid, "HidD_GetHidGuid"), nullptr) << "used after release";
}

TEST_F(HidLibraryTest, OtherModulesAndUnloadableHidFail) {
    for (const char* name : {"USER32.DLL", "HIDD.DLL", "HID.DLL.bak", ""}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LoadLibraryA(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << name;
    }
    standin::SetHidLibraryLoadable(false);
    EXPECT_EQ(LoadLibraryA("HID.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(standin::HidLibraryLoadCount(), 0);
}

TEST_F(HidLibraryTest, ResolvesTheFourEntryPointsByNameOnly) {
    HMODULE hid = LoadLibraryA("HID.DLL");
    for (const char* name : kEntryPoints) {
        EXPECT_NE(GetProcAddress(hid, name), nullptr) << name;
    }
    for (const char* name : {"HidD_GetProductString", "hidd_getfeature", ""}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetProcAddress(hid, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
    }
    EXPECT_EQ(GetProcAddress(hid, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "HidD_GetFeature"), nullptr);
    FreeLibrary(hid);
}

TEST_F(HidLibraryTest, RemovedEntryPointIsMissingAndTheOthersStay) {
    for (const char* removed : kEntryPoints) {
        standin::Reset();
        standin::RemoveHidEntryPoint(removed);
        HMODULE hid = LoadLibraryA("HID.DLL");
        for (const char* name : kEntryPoints) {
            SetLastError(ERROR_SUCCESS);
            FARPROC entry = GetProcAddress(hid, name);
            if (std::strcmp(name, removed) == 0) {
                EXPECT_EQ(entry, nullptr) << name;
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
            } else {
                EXPECT_NE(entry, nullptr) << name << " with " << removed << " removed";
            }
        }
        FreeLibrary(hid);
    }
}

TEST_F(HidLibraryTest, GivesTheHidClassGuidAndRecordsCalls) {
    HMODULE hid = LoadLibraryA("HID.DLL");
    GUID guid = {};
    HidEntry<GetHidGuidProc>(hid, "HidD_GetHidGuid")(&guid);
    const GUID expected = {
        0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    EXPECT_EQ(std::memcmp(&guid, &expected, sizeof(GUID)), 0);

    uint8_t report[65] = {};
    EXPECT_FALSE(HidEntry<SetFeatureProc>(hid, "HidD_SetFeature")(nullptr, report, 65));
    EXPECT_EQ(standin::HidCalls(),
              (std::vector<std::string>{"HidD_GetHidGuid", "HidD_SetFeature"}));
    FreeLibrary(hid);
}

TEST_F(HidLibraryTest, WithoutHistoryCallsGoUnrecordedUntilReset) {
    standin::SetHistoryKept(false);
    HMODULE hid = LoadLibraryA("HID.DLL");
    GUID guid = {};
    HidEntry<GetHidGuidProc>(hid, "HidD_GetHidGuid")(&guid);
    EXPECT_NE(guid.Data1, 0u);
    EXPECT_TRUE(standin::HidCalls().empty());
    FreeLibrary(hid);

    standin::Reset();
    hid = LoadLibraryA("HID.DLL");
    HidEntry<GetHidGuidProc>(hid, "HidD_GetHidGuid")(&guid);
    EXPECT_EQ(standin::HidCalls(), (std::vector<std::string>{"HidD_GetHidGuid"}));
    FreeLibrary(hid);
}

TEST_F(HidLibraryTest, ResetMakesHidLoadableWithEveryEntryPoint) {
    standin::SetHidLibraryLoadable(false);
    standin::RemoveHidEntryPoint("HidD_GetFeature");
    LoadLibraryA("HID.DLL");
    standin::Reset();
    HMODULE hid = LoadLibraryA("HID.DLL");
    ASSERT_NE(hid, nullptr);
    EXPECT_NE(GetProcAddress(hid, "HidD_GetFeature"), nullptr);
    EXPECT_EQ(standin::HidLibraryLoadCount(), 1);
    EXPECT_TRUE(standin::HidCalls().empty());
    FreeLibrary(hid);
}

using ModuleFileTest = KernelTest;

TEST_F(ModuleFileTest, ProgramPathIsCutToTheBufferAndTerminated) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    struct Case {
        DWORD size;
        DWORD result;
        const char* text;
        DWORD error;
    } cases[] = {
        {260, 16, "C:\\kelm\\kelm.exe", ERROR_SUCCESS},
        {17, 16, "C:\\kelm\\kelm.exe", ERROR_SUCCESS},
        {16, 16, "C:\\kelm\\kelm.ex", ERROR_INSUFFICIENT_BUFFER},
        {4, 4, "C:\\", ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        char buffer[260];
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(GetModuleFileNameA(self, buffer, c.size), c.result) << c.size;
        EXPECT_STREQ(buffer, c.text) << c.size;
        EXPECT_EQ(GetLastError(), c.error) << c.size;
    }
    char buffer[32];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof(buffer)), 16u);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 0), 0u);
}

}  // namespace
