// Several simulated boards at once: choosing one (--serial, the environment's defaults, the
// refusal to guess among several), --all on every board side by side with the worst exit code,
// and --each-new on each board as its flash file appears. kelmtool's threads run under
// ThreadSanitizer too (host-tsan), where a data race fails the run's exit code and its output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kSeveral =
    ": 2 kelm boards are attached: choose one with --serial (or --path), or give --all:\n"
    "  sim:a.bin  serial sim-a\n  sim:b.bin  serial sim-b\n";

class ManyBoardsTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        for (const char* board : {"a.bin", "b.bin", "c.bin"}) Erased(board);
        WriteBytes(Path("app.dol"), Pattern(70000, 1));
        // What one board's write leaves on its flash: what every board of --all must hold.
        const ToolRun single = RunTool({"--sim", "single.bin", "write", "app.dol"}, folder);
        ASSERT_EQ(single.exitCode, 0) << single.err;
        written = ReadBytes(Path("single.bin"));
    }
    // A board plugged in whole: --each-new may look at any moment.
    void Erased(const std::string& name) const {
        WriteBytes(Path(name + ".part"), std::vector<uint8_t>(kFlash, 0xFF));
        ASSERT_EQ(std::rename(Path(name + ".part").c_str(), Path(name).c_str()), 0);
    }
    ToolRun Two(std::vector<std::string> arguments, const Environment& extra = {}) const {
        arguments.insert(arguments.begin(), {"--sim", "a.bin", "--sim", "b.bin"});
        return RunTool(arguments, folder, extra);
    }
    bool Untouched(const std::string& name) const {
        return ReadBytes(Path(name)) == std::vector<uint8_t>(kFlash, 0xFF);
    }
    std::vector<uint8_t> written;
};

TEST_F(ManyBoardsTest, ABoardIsChosenOrTheBoardsAreListed) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;  // after --sim a.bin --sim b.bin
        Environment environment;
        int exitCode;
        std::string err;      // after "kelmtool COMMAND"
        const char* written;  // the board written to, or none
    } cases[] = {
        {"none chosen", {"write", "app.dol"}, {}, 2, kSeveral, nullptr},
        {"none chosen, read", {"info"}, {}, 2, kSeveral, nullptr},
        {"none chosen, waiting", {"--wait", "1", "dump", "-o", "d.bin"}, {}, 2, kSeveral, nullptr},
        {"--serial", {"--serial", "sim-b", "write", "app.dol"}, {}, 0, "", "b.bin"},
        {"no such serial",
         {"--serial", "sim-c", "write", "app.dol"},
         {},
         3,
         ": no kelm board has the serial number sim-c (see kelmtool list)\n",
         nullptr},
        {"KELMTOOL_SERIAL", {"write", "app.dol"}, {{"KELMTOOL_SERIAL", "sim-a"}}, 0, "", "a.bin"},
        {"--serial over KELMTOOL_SERIAL",
         {"--serial", "sim-b", "write", "app.dol"},
         {{"KELMTOOL_SERIAL", "sim-a"}},
         0,
         "",
         "b.bin"},
        {"--sim over KELMTOOL_SIM",
         {"write", "app.dol"},
         {{"KELMTOOL_SIM", "c.bin"}},
         2,
         kSeveral,
         nullptr},
        {"one serial for two files",
         {"--sim", "x/a.bin", "info"},
         {},
         2,
         ": --sim a.bin and --sim x/a.bin would both be the board sim-a\n",
         nullptr},
        {"--all and --each-new",
         {"--all", "--each-new", "info"},
         {},
         2,
         ": --all and --each-new cannot be used together\n",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* board : {"a.bin", "b.bin", "c.bin"}) Erased(board);
        const ToolRun run = Two(c.arguments, c.environment);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (!c.err.empty()) {
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        }
        for (const char* board : {"a.bin", "b.bin", "c.bin"}) {
            EXPECT_EQ(ReadBytes(Path(board)) == written,
                      c.written != nullptr && std::string(c.written) == board)
                << board;
        }
    }
    // The environment gives the boards where the command line names none; list shows them all.
    const ToolRun list = RunTool({"list"}, folder, {{"KELMTOOL_SIM", "a.bin:b.bin"}});
    EXPECT_EQ(list.out, "sim:a.bin  serial sim-a  ok\nsim:b.bin  serial sim-b  ok\n");
}

TEST_F(ManyBoardsTest, AllWritesEveryBoardAndEndsWithTheWorstCode) {
    const ToolRun all =
        RunTool({"--sim", "a.bin", "--sim", "b.bin", "--sim", "c.bin", "--all", "write", "app.dol"},
                folder);
    EXPECT_EQ(all.exitCode, 0) << all.err;
    const std::string line = ": wrote app.dol (dol, 70256 bytes) to slots 0-1, verified\n";
    EXPECT_EQ(all.out, "sim-a" + line + "sim-b" + line + "sim-c" + line);
    EXPECT_EQ(all.err, "");
    for (const char* board : {"a.bin", "b.bin", "c.bin"}) {
        EXPECT_EQ(FirstDifference(ReadBytes(Path(board)), written), -1) << board;
    }

    // One board held by another kelmtool (3), one of the wrong size (2), one written (0): each
    // says how it ended, and the run ends with the worst.
    Erased("a.bin");
    WriteBytes(Path("b.bin"), std::vector<uint8_t>(kSlot, 0xFF));
    Erased("c.bin");
    const int held = open(Path("c.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const ToolRun mixed = RunTool({"--json", "--sim", "a.bin", "--sim", "b.bin", "--sim", "c.bin",
                                   "--all", "write", "app.dol"},
                                  folder);
    close(held);
    EXPECT_EQ(mixed.exitCode, 3);
    const nlohmann::json document = nlohmann::json::parse(mixed.out);
    EXPECT_EQ(document["schema"], 1);
    const nlohmann::json boards = document["boards"];
    ASSERT_EQ(boards.size(), 3u);
    const struct {
        const char* serial;
        int exit;
    } expected[] = {{"sim-a", 0}, {"sim-b", 2}, {"sim-c", 3}};
    for (size_t i = 0; i < boards.size(); ++i) {
        EXPECT_EQ(boards[i]["serial"], expected[i].serial);
        EXPECT_EQ(boards[i]["exit"], expected[i].exit);
        EXPECT_EQ(boards[i].contains("error"), expected[i].exit != 0);
        EXPECT_EQ(boards[i].contains("slot"), expected[i].exit == 0);
    }
    EXPECT_EQ(Lines(mixed.err).size(), 2u) << mixed.err;
    EXPECT_EQ(FirstDifference(ReadBytes(Path("a.bin")), written), -1);
    EXPECT_TRUE(Untouched("c.bin"));
}

// Under --trace each board's lines are whole and named as its result lines are: each board's
// are the lines one board alone traces.
TEST_F(ManyBoardsTest, AllTracesEachBoardOnLinesOfItsOwn) {
    Erased("lone.bin");
    const ToolRun lone = RunTool({"--sim", "lone.bin", "--trace", "write", "app.dol"}, folder);
    ASSERT_EQ(lone.exitCode, 0) << lone.err;
    const ToolRun all = Two({"--all", "--trace", "write", "app.dol"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    std::map<std::string, std::vector<std::string>> traced;
    for (const std::string& line : Lines(all.err)) {
        const size_t colon = line.find(": ");
        traced[line.substr(0, colon)].push_back(
            colon == std::string::npos ? line : line.substr(colon + 2));
    }
    EXPECT_EQ(traced.size(), 2u);
    EXPECT_EQ(traced["sim-a"], Lines(lone.err));
    EXPECT_EQ(traced["sim-b"], Lines(lone.err));
}

// What cannot be done for every board at once is refused on each, and nothing changes.
TEST_F(ManyBoardsTest, AllRefusesOneOutputFileAndQuestions) {
    const struct {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{"dump", "-o", "d.bin"},
         "one output file cannot take every board's flash: choose each board with --serial"},
        {{"backup", "0", "-o", "s.gcb"},
         "one output file cannot take every board's flash: choose each board with --serial"},
        {{"erase", "0"}, "with --all or --each-new, give --yes to go ahead"},
        {{"monitor", "--seconds", "1"}, "monitor watches one board: choose it with --serial"},
    };
    ASSERT_EQ(Two({"--all", "write", "app.dol"}).exitCode, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.begin(), "--all");
        const ToolRun run = Two(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "sim-a: failed (exit 2)\nsim-b: failed (exit 2)\n");
        EXPECT_EQ(run.err, "kelmtool " + c.arguments[0] + ": sim-a: " + c.err + "\n" + "kelmtool " +
                               c.arguments[0] + ": sim-b: " + c.err + "\n");
        EXPECT_EQ(FolderNames(folder).size(), 6u);  // nothing written beside the boards
        EXPECT_EQ(FirstDifference(ReadBytes(Path("b.bin")), written), -1);
    }
}

TEST_F(ManyBoardsTest, EachNewDoesEveryBoardOnceWhileItStaysPluggedIn) {
    std::remove(Path("b.bin").c_str());
    ToolProcess run({"--sim", "a.bin", "--sim", "b.bin", "--each-new", "write", "app.dol"}, folder,
                    {}, {SIGINT, 0, false, {}});
    const auto waitForLines = [&run](size_t count) {
        const Clock::time_point start = Clock::now();
        while (Lines(run.OutSoFar()).size() < count) {
            if (Clock::now() - start > std::chrono::seconds(20)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    };
    const auto plugPolls = std::chrono::milliseconds(1000);  // four of kelmtool's looks
    ASSERT_TRUE(waitForLines(1)) << "a.bin, there from the start, was never written";
    Erased("b.bin");  // plugged in
    ASSERT_TRUE(waitForLines(2)) << "b.bin was never written";
    std::this_thread::sleep_for(plugPolls);  // a board still plugged in is not done again
    std::remove(Path("a.bin").c_str());      // unplugged...
    std::this_thread::sleep_for(plugPolls);
    Erased("a.bin");  // ...and plugged in again: done again
    ASSERT_TRUE(waitForLines(3)) << "a.bin plugged in again was never written";
    std::this_thread::sleep_for(plugPolls);
    const ToolRun ended = run.Finish();
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    const std::string line = ": wrote app.dol (dol, 70256 bytes) to slots 0-1, verified\n";
    EXPECT_EQ(ended.out, "sim-a" + line + "sim-b" + line + "sim-a" + line);
    for (const char* board : {"a.bin", "b.bin"}) {
        EXPECT_EQ(FirstDifference(ReadBytes(Path(board)), written), -1) << board;
    }
}

}  // namespace
}  // namespace tooltest
