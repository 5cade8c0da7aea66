// Golden transcripts: the exact report traffic of one representative run of each operation, kept
// as text in tests/reliability/golden/<name>.txt. The board's transcript folds runs of data
// reports into one line, so the file ends with a count of the reports and a digest of every byte
// they carried: any extra, missing or different report fails.
//
// The board of these runs hands the bus over after one more status poll and reports an erase
// busy for two, so the polls show. After a deliberate change of the traffic, rewrite the files
// with KELM_UPDATE_GOLDEN=1 and review their difference before committing it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "reliability/fault_runs.h"

namespace reliability {
namespace {

// Relative, so that the name the write puts into the slot header is the same on every machine;
// the file lies in the test's working folder while the run needs it.
constexpr char kGoldenImage[] = "kelm_golden_image.dol";

// A run of the window's own commands, or of one that follows a connect with nothing else.
enum class After { Nothing, Disconnect, PanelReset };

struct GoldenCase {
    const char* name;  // the file's name without ".txt"
    Op op;             // with After::Nothing; else the connect that comes first
    After after;
};

void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.name; }

// FNV-1a over the direction and bytes of every Out and Feature exchange.
std::string Digest(const std::vector<sim::LogEntry>& log) {
    uint64_t hash = 0xCBF29CE484222325ull;
    size_t reports = 0;
    auto mix = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    };
    for (const sim::LogEntry& entry : log) {
        if (entry.direction == sim::Direction::In) continue;
        ++reports;
        mix(entry.direction == sim::Direction::Out ? 'O' : 'F');
        for (uint8_t byte : entry.bytes) mix(byte);
    }
    char text[96];
    std::snprintf(text, sizeof text, "# %zu reports, FNV-1a 64 of their bytes: %016llx\n", reports,
                  static_cast<unsigned long long>(hash));
    return text;
}

class GoldenTranscriptTest : public FaultRunTest, public ::testing::WithParamInterface<GoldenCase> {
  protected:
    // The image goes by a relative name, so that the header the window writes (its name field)
    // is the same wherever the tests run; each test runs in its own folder, so that golden
    // cases running side by side (ctest -j) never share, or remove, each other's image.
    void SetUp() override {
        FaultRunTest::SetUp();
        startFolder = std::filesystem::current_path();
        std::filesystem::current_path(tempDir);
        imagePath = kGoldenImage;
        board.SetBusHandoverPolls(1);
        board.SetEraseBusyPolls(2);
    }
    void TearDown() override {
        std::remove(kGoldenImage);
        std::filesystem::current_path(startFolder);
        FaultRunTest::TearDown();
    }

    std::filesystem::path startFolder;
};

TEST_P(GoldenTranscriptTest, TrafficIsExactlyTheGolden) {
    const GoldenCase& c = GetParam();
    if (c.after == After::Nothing) {
        World world;
        RunOperation(c.op, world, [&](uint64_t) { board.ClearLog(); });
        ASSERT_TRUE(world.ErrorTexts().empty()) << world.ErrorTexts().front();
    } else {
        Run([&](HWND) {
            Click(IDC_CONNECT);
            board.ClearLog();
            if (c.after == After::Disconnect) Click(IDC_CONNECT);
            if (c.after == After::PanelReset) Command(IDC_PANEL_RESET);
        });
        EXPECT_TRUE(BoxTexts().size() == 1u) << "the notice only";
    }
    const std::string text = board.Transcript() + Digest(board.Log());

    const std::string path =
        std::string(KELM_SOURCE_DIR) + "/tests/reliability/golden/" + c.name + ".txt";
    if (std::getenv("KELM_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "no golden transcript " << path;
    const std::string golden((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(text, golden) << "differs from " << path;
}

INSTANTIATE_TEST_SUITE_P(
    Operations, GoldenTranscriptTest,
    ::testing::Values(GoldenCase{"connect_and_scan", Op::Connect, After::Nothing},
                      GoldenCase{"write_two_slots", Op::Write, After::Nothing},
                      GoldenCase{"backup_two_slots", Op::Backup, After::Nothing},
                      GoldenCase{"erase_two_slots", Op::Erase, After::Nothing},
                      GoldenCase{"program_sector", Op::Program, After::Nothing},
                      GoldenCase{"verify_sector", Op::Verify, After::Nothing},
                      GoldenCase{"blank_check", Op::BlankCheck, After::Nothing},
                      GoldenCase{"upload_sector", Op::Upload, After::Nothing},
                      GoldenCase{"erase_block_0", Op::EraseBlock0, After::Nothing},
                      GoldenCase{"disconnect", Op::Connect, After::Disconnect},
                      GoldenCase{"panel_reset", Op::Connect, After::PanelReset}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
