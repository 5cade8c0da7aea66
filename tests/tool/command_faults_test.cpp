// kelmtool under a failing board: the simulated board unplugged, a feature fetch refused or a
// report write failed at reports sampled across each command's run (the report count taken from
// a --trace of a clean run), a board that stays busy, a bus held by the other side, and the
// board's seeded faults. Whatever fails: exit 1 or 3, one message, one JSON document with
// "error", no file under a backup's or dump's name, no flash byte changed outside the run.
//
// One seed alone runs again with
//     KELM_SEED=<seed> ./tool_tests --gtest_filter='FaultTest.Seeded*'
// and KELM_SEED_COUNT sets how many seeds run (default kSeeds).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

constexpr uint64_t kSeeds = 24;

struct FaultedCommand {
    const char* name;  // kelmtool's command, as its messages name it
    std::vector<std::string> arguments;
    int firstSlot;  // the run it may change; count 0: none
    int slotCount;
    std::string output;  // the file it saves, if any
    size_t samples;      // exchanges sampled across the run, besides its first and last ones
};

uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// Indices among count: the first few and the last few (bus hand-overs, the catalogue's first
// header, the end of a transfer) and samples spread evenly in between.
std::vector<size_t> Sampled(const std::vector<size_t>& indices, size_t samples) {
    std::set<size_t> chosen;
    const size_t n = indices.size();
    for (size_t i = 0; i < std::min<size_t>(n, 4); ++i) chosen.insert(indices[i]);
    for (size_t i = n > 2 ? n - 2 : 0; i < n; ++i) chosen.insert(indices[i]);
    for (size_t k = 1; k <= samples && n > 0; ++k)
        chosen.insert(indices[k * (n - 1) / (samples + 1)]);
    return std::vector<size_t>(chosen.begin(), chosen.end());
}

// A BIOS in slot 0, a three-slot application in slots 2-4; app.dol needs two slots (5-6), with
// runs of 0xFF that the write skips; r.bin is a dump of another layout.
class FaultTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        base.assign(kFlash, 0xFF);
        const auto lay = [this](std::vector<uint8_t>& flash, size_t address,
                                const std::vector<uint8_t>& bytes) {
            std::copy(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(address));
        };
        lay(base, 0, Header(kBios, "bios", kSlot));
        lay(base, 256, Pattern(5000, 1));
        lay(base, 2 * kSlot, Header(kElf, "app", 3 * kSlot));
        lay(base, 2 * kSlot + 256, Pattern(3 * kSlot - 256, 2));
        SetFlash(base);
        std::vector<uint8_t> dol = Pattern(70000, 3);
        std::fill(dol.begin() + 1000, dol.begin() + 40000, 0xFF);
        WriteBytes(Path("app.dol"), dol);
        std::vector<uint8_t> dump(kFlash, 0xFF);
        lay(dump, 0, Header(kBios, "other bios", kSlot));
        lay(dump, 10 * kSlot, Header(kElf, "other", 2 * kSlot));
        lay(dump, 10 * kSlot + 256, Pattern(20000, 4));
        WriteBytes(Path("r.bin"), dump);
    }

    // Runs command with the fault at each sampled exchange of a clean run; returns the runs made.
    int Matrix(const FaultedCommand& command) {
        SCOPED_TRACE(command.name);
        std::vector<std::string> traced = {"--trace"};
        traced.insert(traced.end(), command.arguments.begin(), command.arguments.end());
        const ToolRun clean = Sim(traced);
        EXPECT_EQ(clean.exitCode, 0) << clean.err.substr(0, 400);
        std::vector<size_t> outs;
        std::vector<size_t> features;
        size_t exchange = 0;
        for (const TracedReport& report : ParseTrace(clean.err)) {
            if (report.kind == "input") continue;
            (report.kind == "out" ? outs : features).push_back(exchange++);
        }
        std::vector<size_t> all(exchange);
        for (size_t i = 0; i < exchange; ++i) all[i] = i;
        int runs = 0;
        const struct {
            const char* fault;
            const std::vector<size_t>& at;
        } kinds[] = {{"unplug", all}, {"refuse", features}, {"failwrite", outs}};
        for (const auto& kind : kinds) {
            for (size_t at : Sampled(kind.at, command.samples)) {
                Faulted(command, std::string(kind.fault) + "@" + std::to_string(at));
                ++runs;
            }
        }
        std::printf("%s: %d faulted runs over %zu exchanges\n", command.name, runs, exchange);
        return runs;
    }

    // One run with the fault: it must fail, say so once, and change nothing it was not given.
    void Faulted(const FaultedCommand& command, const std::string& fault) {
        SCOPED_TRACE(fault);
        SetFlash(base);
        if (!command.output.empty()) std::remove(Path(command.output).c_str());
        const std::vector<std::string> files = FolderNames(folder);
        std::vector<std::string> arguments = {"--json"};
        arguments.insert(arguments.end(), command.arguments.begin(), command.arguments.end());
        const ToolRun run = Sim(arguments, {{"KELMTOOL_SIM_FAULTS", fault}});
        ExpectFailure(command, run);
        EXPECT_EQ(FolderNames(folder), files) << "a file left behind";
        const std::vector<uint8_t> flash = Flash();
        ASSERT_EQ(flash.size(), kFlash);
        const size_t from = command.firstSlot * kSlot;
        const size_t to = (command.firstSlot + command.slotCount) * kSlot;
        EXPECT_TRUE(
            std::equal(flash.begin(), flash.begin() + static_cast<long>(from), base.begin()))
            << "changed before the run";
        EXPECT_TRUE(std::equal(flash.begin() + static_cast<long>(to), flash.end(),
                               base.begin() + static_cast<long>(to)))
            << "changed after the run";
    }

    static void ExpectFailure(const FaultedCommand& command, const ToolRun& run) {
        EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 3) << "exit " << run.exitCode;
        const std::vector<std::string> lines = Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        const std::string prefix = std::string("kelmtool ") + command.name + ": ";
        EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), prefix.size() + 10) << lines[0];
        const nlohmann::json reply = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(reply.is_discarded()) << run.out;
        EXPECT_EQ(reply,
                  nlohmann::json({{"error", lines[0].substr(prefix.size())}, {"schema", 1}}));
    }

    std::vector<uint8_t> base;
};

TEST_F(FaultTest, Info) { Matrix({"info", {"info"}, 0, 0, "", 8}); }
TEST_F(FaultTest, Write) { Matrix({"write", {"write", "app.dol", "--no-verify"}, 5, 2, "", 8}); }
TEST_F(FaultTest, WriteVerify) { Matrix({"write", {"write", "app.dol", "--verify"}, 5, 2, "", 8}); }
TEST_F(FaultTest, Erase) { Matrix({"erase", {"erase", "4", "--yes"}, 2, 3, "", 8}); }
TEST_F(FaultTest, Dump) { Matrix({"dump", {"dump", "-o", "d.bin"}, 0, 0, "d.bin", 6}); }
TEST_F(FaultTest, Restore) { Matrix({"restore", {"restore", "r.bin", "--yes"}, 0, 32, "", 6}); }

// A backup that fails over an existing file (--force) leaves that file as it was.
TEST_F(FaultTest, Backup) {
    Matrix({"backup", {"backup", "3", "-o", "b.gcb"}, 0, 0, "b.gcb", 8});
    WriteBytes(Path("old.gcb"), {1, 2, 3});
    const std::vector<std::string> files = FolderNames(folder);
    const ToolRun run =
        Sim({"backup", "3", "-o", "old.gcb", "--force"}, {{"KELMTOOL_SIM_FAULTS", "unplug@900"}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadBytes(Path("old.gcb")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FolderNames(folder), files);
}

// A board whose erase never ends is given up at --timeout, with exit 1; a bus held by the other
// side is said at once.
TEST_F(FaultTest, BusyBoardEndsAtTheTimeout) {
    const Environment busy = {{"KELMTOOL_SIM_ERASE_BUSY", "100000000"}};
    const FaultedCommand erase = {"erase", {}, 2, 3, "", 0};
    const ToolRun run = Sim({"--json", "--timeout", "1", "erase", "3", "--yes"}, busy);
    ExpectFailure(erase, run);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        Lines(run.err)[0],
        "kelmtool erase: the board did not finish the erase of slot 2 within 1 s (--timeout)");
    const ToolRun restore = Sim({"--json", "--timeout", "0.25", "restore", "r.bin", "--yes"}, busy);
    ExpectFailure({"restore", {}, 0, 32, "", 0}, restore);
    EXPECT_EQ(restore.exitCode, 1);
    EXPECT_NE(restore.err.find("within 250 ms (--timeout)"), std::string::npos) << restore.err;

    SetFlash(base);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"info"}, {"write", "app.dol"}, {"erase", "2", "--yes"}}) {
        const ToolRun held = Sim(command, {{"KELMTOOL_SIM_BUS_HELD", "1"}});
        EXPECT_EQ(held.exitCode, 1) << command[0];
        EXPECT_NE(held.err.find("bus is busy"), std::string::npos) << held.err;
        EXPECT_EQ(Flash(), base);
    }
}

// Seeded faults (bits flipped in answers, odd status bytes, slow bus hand-overs, data accepted
// but not programmed): a command may fail, but a write or restore with --verify that says done
// has put exactly what was asked, and no write changes anything outside the run it names. At the
// board's chances nearly every verified write meets a dropped report or a flipped answer: what
// is tested is that none of them is taken for done.
TEST_F(FaultTest, SeededFaultsNeverReportFalseSuccess) {
    WriteBytes(Path("small.dol"), Pattern(300, 5));
    const ToolRun clean = Sim({"--json", "write", "app.dol"});
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    const std::vector<uint8_t> cleanFlash = Flash();
    const std::vector<uint8_t> image(cleanFlash.begin() + 5 * kSlot,
                                     cleanFlash.begin() + 7 * kSlot);
    const std::vector<uint8_t> dump = ReadBytes(Path("r.bin"));

    const uint64_t only = EnvNumber("KELM_SEED", 0);
    const uint64_t count = only != 0 ? 1 : EnvNumber("KELM_SEED_COUNT", kSeeds);
    int runs = 0;
    int done = 0;
    for (uint64_t i = 1; i <= count; ++i) {
        const uint64_t seed = only != 0 ? only : i;
        SCOPED_TRACE("KELM_SEED=" + std::to_string(seed));
        const Environment seeded = {{"KELM_SEED", std::to_string(seed)}};
        SetFlash(base);
        const ToolRun verified = Sim({"--json", "write", "app.dol", "--verify"}, seeded);
        ++runs;
        EXPECT_TRUE(verified.exitCode == 0 || verified.exitCode == 1 || verified.exitCode == 4)
            << verified.exitCode << " " << verified.err;
        EXPECT_EQ(Lines(verified.err).size(), verified.exitCode == 0 ? 0u : 1u) << verified.err;
        if (verified.exitCode == 0) {
            ++done;
            const int slot = nlohmann::json::parse(verified.out)["slot"];
            std::vector<uint8_t> expected = base;
            std::copy(image.begin(), image.end(), expected.begin() + slot * kSlot);
            EXPECT_EQ(FirstDifference(Flash(), expected), -1) << "write --verify said done";
        } else {
            EXPECT_TRUE(nlohmann::json::parse(verified.out).contains("error"));
        }

        // Unverified, a small write mostly succeeds; whatever it says, only its run may change.
        SetFlash(base);
        const ToolRun small = Sim({"--json", "write", "small.dol", "--no-verify"}, seeded);
        ++runs;
        EXPECT_TRUE(small.exitCode == 0 || small.exitCode == 1) << small.err;
        if (small.exitCode == 0) {
            ++done;
            const int slot = nlohmann::json::parse(small.out)["slot"];
            std::vector<uint8_t> flash = Flash();
            std::copy(base.begin() + slot * kSlot, base.begin() + (slot + 1) * kSlot,
                      flash.begin() + slot * kSlot);
            EXPECT_EQ(FirstDifference(flash, base), -1) << "changed outside slot " << slot;
        }

        if (seed % 6 == 0) {  // a restore is long: one seed in six
            const ToolRun restore = Sim({"restore", "r.bin", "--yes", "--verify"}, seeded);
            ++runs;
            if (restore.exitCode == 0) {
                ++done;
                EXPECT_EQ(FirstDifference(Flash(), dump), -1) << "restore --verify said done";
            } else {
                EXPECT_EQ(Lines(restore.err).size(), 1u) << restore.err;
            }
        }
        const std::vector<std::string> names = FolderNames(folder);
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [](const std::string& n) { return n.find(".part") != n.npos; }),
                  0);
    }
    std::printf("seeds: %llu, runs: %d, done: %d\n", static_cast<unsigned long long>(count), runs,
                done);
}

}  // namespace
}  // namespace tooltest
