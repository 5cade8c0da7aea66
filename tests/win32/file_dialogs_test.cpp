// The common file dialogs: the request recorded, the answer copied back as Windows does.
#include <commdlg.h>

#include <cstring>
#include <memory>
#include <tuple>

#include "user_test.h"

namespace {

constexpr DWORD kPathBuffer = 260;
const char kFilter[] = "BIOS Files (*.gcb)\0*.gcb\0DOL Files (*.dol)\0*.dol\0";

class FileDialogsTest : public UserTest {
  protected:
    void SetUp() override {
        UserTest::SetUp();
        ofn.lStructSize = sizeof(ofn);
        ofn.lpstrFile = path;
        ofn.nMaxFile = kPathBuffer;
    }
    char path[kPathBuffer] = "file.gcb";
    OPENFILENAMEA ofn = {};
};

TEST_F(FileDialogsTest, RecordsTheRequestAndChecksItsSize) {
    ofn.lpstrFilter = kFilter;
    EXPECT_FALSE(GetSaveFileNameA(&ofn));  // nobody answers: cancelled
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    standin::QueueFileDialogAnswers({{false, "C:\\x.gcb", 1}});
    ofn.lStructSize = sizeof(ofn) - 1;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
    EXPECT_STREQ(path, "file.gcb");

    std::vector<standin::FileDialogRecord> records = standin::FileDialogs();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].save);
    EXPECT_EQ(records[0].filter, (std::vector<std::string>{"BIOS Files (*.gcb)", "*.gcb",
                                                           "DOL Files (*.dol)", "*.dol"}));
    EXPECT_EQ(records[0].initialName, "file.gcb");
    EXPECT_EQ(records[0].maxFile, kPathBuffer);
    EXPECT_EQ(records[1].structSize, sizeof(ofn) - 1);
    // The refused request did not use up the answer.
    ofn.lStructSize = sizeof(ofn);
    EXPECT_TRUE(GetOpenFileNameA(&ofn));

    // A name buffer without a terminator is read no further than the size the caller gave.
    std::unique_ptr<char[]> unterminated(new char[4]);
    std::memcpy(unterminated.get(), "abcd", 4);
    ofn.lpstrFile = unterminated.get();
    ofn.nMaxFile = 4;
    GetOpenFileNameA(&ofn);
    EXPECT_EQ(standin::FileDialogs().at(3).initialName, "abcd");
}

TEST_F(FileDialogsTest, ChosenPathWithItsOffsets) {
    // The path chosen, the offsets of its name and of its extension.
    const std::tuple<const char*, WORD, WORD> cases[] = {
        {"C:\\images\\bios.gcb", 10, 15},
        {"/tmp/kelm/app.tar.gz", 10, 18},
        {"C:\\dir.d\\noext", 9, 14},  // no extension: at the terminating zero
        {"C:\\dir\\name.", 7, 0},     // a name that ends with the dot
    };
    ofn.lpstrFilter = kFilter;
    for (const auto& [chosen, nameOffset, extensionOffset] : cases) {
        standin::QueueFileDialogAnswers({{false, chosen, 2}});
        ASSERT_TRUE(GetOpenFileNameA(&ofn)) << chosen;
        EXPECT_STREQ(path, chosen);
        EXPECT_EQ(ofn.nFilterIndex, 2u);
        EXPECT_EQ(ofn.nFileOffset, nameOffset) << chosen;
        EXPECT_EQ(ofn.nFileExtension, extensionOffset) << chosen;
    }
}

TEST_F(FileDialogsTest, PathThatDoesNotFitTheBufferFails) {
    const std::string chosen = "C:\\backup.gcb";  // 13 characters and the zero
    for (DWORD maxFile : {2u, 13u, 14u}) {
        bool fits = maxFile > chosen.size();
        std::memset(path, 'x', sizeof(path));
        path[maxFile - 1] = '\0';
        ofn.nMaxFile = maxFile;
        standin::QueueFileDialogAnswers({{false, chosen, 1}});
        EXPECT_EQ(GetSaveFileNameA(&ofn) != FALSE, fits) << maxFile;
        if (fits) {
            EXPECT_EQ(std::string(path), chosen);
        } else {
            EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
            // The first two bytes tell the size needed; nothing else is written.
            WORD needed = 0;
            std::memcpy(&needed, path, sizeof(needed));
            EXPECT_EQ(needed, chosen.size() + 1);
            EXPECT_EQ(path[2], 'x');
        }
        EXPECT_EQ(path[maxFile], 'x') << "written past the buffer";
    }
}

}  // namespace
