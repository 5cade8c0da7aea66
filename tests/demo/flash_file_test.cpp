#include "demo/demo_flash_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demo/sample_flash.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class FlashFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("kelm-flash-file-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        path = (folder / kFlashFileName).string();
    }
    void TearDown() override {
        CloseFlashFile(flashFile);
        fs::remove_all(folder);
    }

    static Bytes Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& file, const Bytes& bytes) {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    fs::path folder;
    std::string path;
    FlashFile flashFile;
    Bytes flash;
    std::string problem;
};

TEST_F(FlashFileTest, AMissingFileIsCreatedWithTheSampleFlash) {
    EXPECT_EQ(OpenFlashFile(path, flashFile, flash, problem), FlashFileOpen::Created);
    EXPECT_EQ(flash, BuildSampleFlash());
    EXPECT_EQ(Read(path), flash);
    EXPECT_NE(flashFile.file, nullptr);
}

TEST_F(FlashFileTest, AFileOfTheRightSizeIsTheFlash) {
    Bytes bytes(kDemoFlashSize);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 16));
    Write(path, bytes);
    EXPECT_EQ(OpenFlashFile(path, flashFile, flash, problem), FlashFileOpen::Loaded);
    EXPECT_EQ(flash, bytes);
    EXPECT_EQ(Read(path), bytes);
}

TEST_F(FlashFileTest, AFileOfAnotherSizeIsNamedAndLeftAlone) {
    for (size_t size : {size_t{0}, size_t{1000}, kDemoFlashSize - 1, kDemoFlashSize + 1}) {
        SCOPED_TRACE(size);
        const Bytes bytes(size, 0x5A);
        Write(path, bytes);
        EXPECT_EQ(OpenFlashFile(path, flashFile, flash, problem), FlashFileOpen::WrongSize);
        EXPECT_NE(problem.find(path), std::string::npos) << problem;
        EXPECT_NE(problem.find("is " + std::to_string(size) + " bytes long"), std::string::npos)
            << problem;
        EXPECT_EQ(flashFile.file, nullptr);
        EXPECT_EQ(Read(path), bytes);
    }
}

TEST_F(FlashFileTest, AFileThatCannotBeCreatedIsReported) {
    const std::string nowhere = (folder / "missing-folder" / kFlashFileName).string();
    EXPECT_EQ(OpenFlashFile(nowhere, flashFile, flash, problem), FlashFileOpen::Failed);
    EXPECT_NE(problem.find(nowhere), std::string::npos) << problem;
    EXPECT_FALSE(fs::exists(nowhere));
}

// Anyone who reads the file while the demo runs sees each change at once.
TEST_F(FlashFileTest, WritesReachTheFileBeforeTheyReturn) {
    ASSERT_EQ(OpenFlashFile(path, flashFile, flash, problem), FlashFileOpen::Created);
    const Bytes data = {1, 2, 3, 4, 5};
    const size_t address = 3 * kDemoSlotSize + 100;
    ASSERT_TRUE(WriteFlashRange(flashFile, address, data.data(), data.size()));
    const Bytes seen = Read(path);
    ASSERT_EQ(seen.size(), kDemoFlashSize);
    EXPECT_EQ(Bytes(seen.begin() + address, seen.begin() + address + data.size()), data);
    Bytes expected = BuildSampleFlash();
    std::copy(data.begin(), data.end(), expected.begin() + address);
    EXPECT_EQ(seen, expected);
}

TEST_F(FlashFileTest, WritesPastTheFlashAreRefused) {
    ASSERT_EQ(OpenFlashFile(path, flashFile, flash, problem), FlashFileOpen::Created);
    const Bytes data(4, 0);
    EXPECT_FALSE(WriteFlashRange(flashFile, kDemoFlashSize - 3, data.data(), data.size()));
    EXPECT_FALSE(WriteFlashRange(flashFile, kDemoFlashSize + 1, data.data(), 0));
    EXPECT_EQ(Read(path).size(), kDemoFlashSize);
}

}  // namespace
