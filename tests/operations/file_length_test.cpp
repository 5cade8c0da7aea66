// File lengths past what a 32-bit long holds: Windows keeps long at 32 bits, so a length taken
// through ftell would turn negative at 2 GB and wrap at 4 GB. These tests need neither the
// stand-in nor a board and also run in the Windows build, under Wine.
#include "operations/file_length.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr char kFirstByte = 'K';

class FileLengthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string name = std::string("kelm_file_length_") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        path = fs::temp_directory_path() / name;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(path, ignored);
    }

    // A file of the given length whose first byte is kFirstByte; the rest is a hole, so that
    // gigabytes cost no disk space where the file system keeps holes (Linux, Wine). Returns
    // false when the file system refuses the length.
    bool MakeFile(uint64_t length) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (length > 0) out.put(kFirstByte);
            if (!out) return false;
        }
        std::error_code error;
        fs::resize_file(path, length, error);
        return !error;
    }

    fs::path path;
};

TEST_F(FileLengthTest, MeasuresPast32BitsAndRewinds) {
    const uint64_t lengths[] = {
        0,
        1,
        255,
        65536,
        (uint64_t{1} << 31) - 1,  // the largest a 32-bit long holds
        uint64_t{1} << 31,        // negative as a 32-bit long
        (uint64_t{1} << 32) + 5,  // wraps to 5 in 32 bits
    };
    for (uint64_t expected : lengths) {
        if (!MakeFile(expected)) {
            GTEST_SKIP() << "the file system refuses a file of " << expected << " bytes";
        }
        std::ifstream file(path, std::ios::in | std::ios::binary);
        ASSERT_TRUE(file.is_open());
        uint64_t length = 12345;
        ASSERT_TRUE(MeasureFile(file, length)) << expected;
        EXPECT_EQ(length, expected);
        // The next read starts at the first byte again.
        if (expected > 0) {
            EXPECT_EQ(file.get(), kFirstByte) << expected;
        }
    }
}

TEST_F(FileLengthTest, MeasuresAStreamThatWasReadToItsEnd) {
    ASSERT_TRUE(MakeFile(300));
    std::ifstream file(path, std::ios::in | std::ios::binary);
    char buffer[512];
    file.read(buffer, sizeof buffer);  // short read: eof and fail set
    ASSERT_TRUE(file.eof());
    uint64_t length = 0;
    ASSERT_TRUE(MeasureFile(file, length));
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(file.get(), kFirstByte);
}

TEST_F(FileLengthTest, AStreamWithoutAFileHasNoLength) {
    std::ifstream file((path.string() + ".missing").c_str(), std::ios::in | std::ios::binary);
    uint64_t length = 77;
    EXPECT_FALSE(MeasureFile(file, length));
    EXPECT_EQ(length, 77u) << "the length is left alone on failure";
}

}  // namespace
