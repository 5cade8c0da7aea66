#include <gtest/gtest.h>
#include <windows.h>

#include <commdlg.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "user_test.h"
#include "win32/standin.h"

namespace {

constexpr DWORD kPathBuffer = 260;
constexpr UINT kPosted = WM_USER + 100;
const char kImageFilter[] =
    "BIOS Files (*.gcb)\0*.gcb\0DOL Files (*.dol)\0*.dol\0ELF Files (*.elf)\0*.elf\0";

class FileDialogsTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        dialog = standin::CreateTestDialog({}, RecordingProc);
        std::memset(path, 0, sizeof(path));
        std::memset(&ofn, 0, sizeof(ofn));
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = dialog;
        ofn.lpstrFile = path;
        ofn.nMaxFile = kPathBuffer;
    }

    static standin::FileDialogAnswer Chosen(const std::string& file, DWORD filterIndex = 1) {
        standin::FileDialogAnswer answer;
        answer.path = file;
        answer.filterIndex = filterIndex;
        return answer;
    }
    static standin::FileDialogAnswer Cancelled() {
        standin::FileDialogAnswer answer;
        answer.cancel = true;
        return answer;
    }

    HWND dialog = nullptr;
    char path[kPathBuffer];
    OPENFILENAMEA ofn;
};

TEST_F(FileDialogsTest, RecordsWhatTheCallerAskedFor) {
    std::strcpy(path, "file.gcb");
    ofn.lpstrFilter = kImageFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrTitle = "Pick";
    GetSaveFileNameA(&ofn);
    ofn.lpstrFilter = nullptr;
    ofn.lpstrTitle = nullptr;
    ofn.lpstrDefExt = "gcb";
    ofn.lpstrInitialDir = "C:\\";
    ofn.Flags = 0x00001000;
    GetOpenFileNameA(&ofn);

    std::vector<standin::FileDialogRecord> records = standin::FileDialogs();
    ASSERT_EQ(records.size(), 2u);
    const standin::FileDialogRecord& save = records[0];
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.owner, dialog);
    EXPECT_EQ(save.filter,
              (std::vector<std::string>{"BIOS Files (*.gcb)", "*.gcb", "DOL Files (*.dol)", "*.dol",
                                        "ELF Files (*.elf)", "*.elf"}));
    EXPECT_FALSE(save.filterIsNull);
    EXPECT_EQ(save.initialName, "file.gcb");
    EXPECT_EQ(save.maxFile, kPathBuffer);
    EXPECT_EQ(save.flags, 0u);
    EXPECT_TRUE(save.hasTitle);
    EXPECT_FALSE(save.hasInitialDir);
    EXPECT_FALSE(save.hasDefExt);
    EXPECT_EQ(save.structSize, sizeof(OPENFILENAMEA));

    const standin::FileDialogRecord& open = records[1];
    EXPECT_FALSE(open.save);
    EXPECT_TRUE(open.filterIsNull);
    EXPECT_TRUE(open.filter.empty());
    EXPECT_TRUE(open.hasDefExt);
    EXPECT_TRUE(open.hasInitialDir);
    EXPECT_FALSE(open.hasTitle);
    EXPECT_EQ(open.flags, 0x00001000u);
}

// A name buffer without a terminator is read no further than the size the caller gave.
TEST_F(FileDialogsTest, InitialNameIsReadWithinTheDeclaredBuffer) {
    std::unique_ptr<char[]> unterminated(new char[4]);
    std::memcpy(unterminated.get(), "abcd", 4);
    ofn.lpstrFile = unterminated.get();
    ofn.nMaxFile = 4;
    GetOpenFileNameA(&ofn);
    ASSERT_EQ(standin::FileDialogs().size(), 1u);
    EXPECT_EQ(standin::FileDialogs()[0].initialName, "abcd");
}

TEST_F(FileDialogsTest, WrongStructureSizeFailsWithoutAsking) {
    bool asked = false;
    standin::SetFileDialogHandler([&](const standin::FileDialogRecord&) {
        asked = true;
        return Chosen("C:\\x.gcb");
    });
    for (DWORD size : {0u, static_cast<DWORD>(sizeof(OPENFILENAMEA) - 1), 76u}) {
        ofn.lStructSize = size;
        EXPECT_FALSE(GetOpenFileNameA(&ofn)) << size;
        EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE)) << size;
        EXPECT_FALSE(GetSaveFileNameA(&ofn)) << size;
        EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE)) << size;
    }
    EXPECT_FALSE(asked);
    EXPECT_STREQ(path, "");
    // Each call is on record with the size it had.
    ASSERT_EQ(standin::FileDialogs().size(), 6u);
    EXPECT_EQ(standin::FileDialogs()[0].structSize, 0u);
}

TEST_F(FileDialogsTest, CancelFailsWithNoExtendedError) {
    ofn.lStructSize = 0;
    GetOpenFileNameA(&ofn);
    ofn.lStructSize = sizeof(ofn);
    std::strcpy(path, "keep.gcb");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));  // no answer at all: cancel
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    standin::QueueFileDialogAnswers({Cancelled()});
    EXPECT_FALSE(GetSaveFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_STREQ(path, "keep.gcb");
}

TEST_F(FileDialogsTest, ChosenPathWithItsOffsets) {
    struct Case {
        const char* path;
        WORD nameOffset;
        WORD extensionOffset;
    };
    const Case cases[] = {
        {"C:\\images\\bios.gcb", 10, 15},
        {"/tmp/kelm/app.tar.gz", 10, 18},
        {"C:\\dir.d\\noext", 9, 14},  // no extension: at the terminating zero
        {"C:\\dir\\name.", 7, 0},     // a name that ends with the dot
        {"plain.dol", 0, 6},
    };
    for (const Case& c : cases) {
        standin::QueueFileDialogAnswers({Chosen(c.path, 2)});
        ofn.lpstrFilter = kImageFilter;
        ofn.nFilterIndex = 0;
        ASSERT_TRUE(GetOpenFileNameA(&ofn)) << c.path;
        EXPECT_STREQ(path, c.path);
        EXPECT_EQ(ofn.nFilterIndex, 2u) << c.path;
        EXPECT_EQ(ofn.nFileOffset, c.nameOffset) << c.path;
        EXPECT_EQ(ofn.nFileExtension, c.extensionOffset) << c.path;
        EXPECT_EQ(CommDlgExtendedError(), 0u);
    }
}

TEST_F(FileDialogsTest, PathThatDoesNotFitTheBufferFails) {
    const std::string chosen = "C:\\backup.gcb";  // 13 characters and the zero
    struct Case {
        DWORD maxFile;
        bool fits;
    };
    for (const Case& c : {Case{13, false}, Case{2, false}, Case{14, true}, Case{15, true}}) {
        std::memset(path, 'x', sizeof(path));
        ofn.nMaxFile = c.maxFile;
        path[c.maxFile - 1] = '\0';
        standin::QueueFileDialogAnswers({Chosen(chosen)});
        EXPECT_EQ(GetSaveFileNameA(&ofn) != FALSE, c.fits) << c.maxFile;
        if (c.fits) {
            EXPECT_EQ(std::string(path), chosen);
            EXPECT_EQ(CommDlgExtendedError(), 0u);
        } else {
            EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
            // The first two bytes tell the size needed; nothing else is written.
            WORD needed = 0;
            std::memcpy(&needed, path, sizeof(needed));
            EXPECT_EQ(needed, chosen.size() + 1);
            EXPECT_EQ(path[2], 'x');
        }
        EXPECT_EQ(path[c.maxFile], 'x') << "written past the buffer";
    }
}

TEST_F(FileDialogsTest, HandlerAnswersAfterTheQueue) {
    std::vector<std::string> handled;
    standin::SetFileDialogHandler([&](const standin::FileDialogRecord& record) {
        handled.push_back(record.initialName);
        return Chosen("C:\\from\\handler.gcb");
    });
    standin::QueueFileDialogAnswers({Chosen("C:\\queued.gcb")});
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(path, "C:\\queued.gcb");
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(path, "C:\\from\\handler.gcb");
    EXPECT_EQ(handled, (std::vector<std::string>{"C:\\queued.gcb"}));
}

TEST_F(FileDialogsTest, FileTitleGetsTheNameOnly) {
    char title[8] = "#######";
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sizeof(title);
    standin::QueueFileDialogAnswers({Chosen("C:\\dir\\app.dol"), Chosen("C:\\dir\\longname.dol")});
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(title, "app.dol");
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(title, "longnam");
}

// The dialog is modal to its owner and runs a message loop while it is open.
TEST_F(FileDialogsTest, DisablesItsOwnerAndDispatchesPostedMessages) {
    ASSERT_TRUE(PostMessageA(dialog, kPosted, 0, 0));
    bool ownerEnabled = true;
    size_t dispatched = 0;
    standin::SetFileDialogHandler([&](const standin::FileDialogRecord&) {
        ownerEnabled = IsWindowEnabled(dialog) != FALSE;
        dispatched = ProcCalls().size();
        return Cancelled();
    });
    GetOpenFileNameA(&ofn);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_EQ(dispatched, 1u);
    EXPECT_TRUE(IsWindowEnabled(dialog));
}

TEST_F(FileDialogsTest, MissingBufferOrOwnerFails) {
    EXPECT_FALSE(GetOpenFileNameA(nullptr));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    ofn.lpstrFile = nullptr;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    ofn.lpstrFile = path;
    standin::DestroyTestDialog(dialog);
    standin::QueueFileDialogAnswers({Chosen("C:\\x.gcb")});
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_DIALOGFAILURE));
}

using FileDialogsDeathTest = FileDialogsTest;

// A filter the dialog does not offer cannot be chosen: a bug of the test.
TEST_F(FileDialogsDeathTest, FilterIndexOutsideTheFiltersAborts) {
    ofn.lpstrFilter = kImageFilter;
    for (DWORD index : {0u, 4u}) {
        EXPECT_DEATH(
            {
                standin::QueueFileDialogAnswers({Chosen("C:\\x.gcb", index)});
                GetOpenFileNameA(&ofn);
            },
            "the dialog has filters 1 to 3")
            << index;
    }
}

}  // namespace
