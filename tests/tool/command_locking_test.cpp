// One run per board: a run on a board that another holds is turned away (exit 3) before it
// touches it, or waits for it with --wait; and --path opens only what enumeration lists.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

using Clock = std::chrono::steady_clock;

const char kBios[4] = {'(', 'C', ')', ' '};
const std::string kInUse = ": the board is in use by another kelmtool";
const std::string kNotListed = " is no kelm board (see kelmtool list)";

// What another kelmtool does to the flash file, done by the test: flock on a descriptor of its
// own, not passed on to the runs it starts.
struct FileHolder {
    explicit FileHolder(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << path;
    }
    ~FileHolder() { close(fd); }
    int fd;
};

// The one line on standard error; standard output empty, or one JSON document with "error".
void ExpectRefused(const ToolRun& run, bool json, int exitCode, const std::string& line) {
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, line + "\n");
    const nlohmann::json error = {{"error", line.substr(line.find(": ") + 2)}, {"schema", 1}};
    EXPECT_EQ(json ? nlohmann::json::parse(run.out) : nlohmann::json(run.out),
              json ? error : nlohmann::json(""));
}

class LockingTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        Lay(0, Header(kBios, "bios", kSlot));
        WriteBytes(Path("app.dol"), Pattern(1000, 1));
        WriteBytes(Path("dump.bin"), Pattern(kFlash, 2));
    }
};

TEST_F(LockingTest, ARunOnAHeldBoardIsTurnedAwayAndLeavesItAlone) {
    const struct {
        std::string command;
        std::vector<std::string> arguments;
    } runs[] = {
        {"write", {"write", "app.dol", "--verify"}},   {"erase", {"erase", "0", "--yes"}},
        {"restore", {"restore", "dump.bin", "--yes"}}, {"dump", {"dump", "-o", "board.bin"}},
        {"info", {"--wait", "0.5", "info"}},  // --wait's deadline passes while it is held
    };
    const std::vector<uint8_t> flash = Flash();
    const std::vector<std::string> files = FolderNames(folder);
    FileHolder holder(flashPath);
    for (const auto& run : runs) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(run.command + (json ? " --json" : ""));
            std::vector<std::string> arguments = run.arguments;
            if (json) arguments.insert(arguments.begin(), "--json");
            const Clock::time_point start = Clock::now();
            const std::string gaveUp =
                run.arguments[0] == "--wait" ? " (gave up after waiting 0.5 s)" : "";
            ExpectRefused(Sim(arguments), json, 3, "kelmtool " + run.command + kInUse + gaveUp);
            if (run.arguments[0] == "--wait") {
                EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));
            }
            ASSERT_EQ(FirstDifference(Flash(), flash), -1);
            EXPECT_EQ(FolderNames(folder), files);
        }
    }
    const ToolRun list = Sim({"list"});  // neither waits for a held board nor is refused
    EXPECT_EQ(list.out, "sim:" + flashPath + "  serial sim-flash  ok\n");
}

// The lock is the file's: another path to the same file meets it, a copy is another board.
TEST_F(LockingTest, TheLockBelongsToTheFileNotItsPath) {
    std::filesystem::create_symlink(flashPath, Path("symlink.bin"));
    std::filesystem::create_hard_link(flashPath, Path("hardlink.bin"));
    std::filesystem::copy_file(flashPath, Path("copy.bin"));
    FileHolder holder(flashPath);
    for (const auto& [path, exitCode] :
         {std::pair{"symlink.bin", 3}, {"hardlink.bin", 3}, {"copy.bin", 0}}) {
        EXPECT_EQ(RunTool({"--sim", path, "erase", "0", "--yes"}, folder).exitCode, exitCode)
            << path;
    }
    EXPECT_EQ(Flash()[0], kBios[0]);
    EXPECT_EQ(ReadBytes(Path("copy.bin"))[0], 0xFF);
}

TEST_F(LockingTest, ARunWithWaitGoesOnWhenTheKelmtoolHoldingTheBoardEnds) {
    const Clock::time_point start = Clock::now();
    ToolProcess holder({"--sim", flashPath, "monitor", "--seconds", "2"}, folder);
    // The monitor shows the board's greeting once the board is its own.
    while (holder.OutSoFar().empty()) {
        ASSERT_LT(Clock::now() - start, std::chrono::seconds(10)) << "the monitor never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ExpectRefused(Sim({"erase", "0", "--yes"}), false, 3, "kelmtool erase" + kInUse);
    const ToolRun waited = Sim({"--wait", "5", "erase", "0", "--yes"});
    EXPECT_EQ(waited.exitCode, 0) << waited.err;
    EXPECT_GE(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(Flash(), std::vector<uint8_t>(kFlash, 0xFF));
    EXPECT_EQ(holder.Finish().exitCode, 0);
}

// hidapi crashed on a --path that is no hidraw node; --sim beside --path names two boards.
TEST_F(LockingTest, PathsThatNameNoBoardAreRefused) {
    WriteBytes(Path("plain.bin"), Pattern(100, 3));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    const std::string twoBoards = ": --sim and --path cannot be used together";
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string line;
    } refusals[] = {
        {{"--path", "/dev/null", "info"}, 3, "kelmtool info: /dev/null" + kNotListed},
        {{"--path", "plain.bin", "erase", "0", "--yes"},
         3,
         "kelmtool erase: plain.bin" + kNotListed},
        {{"--wait", "0.3", "--path", "fifo", "monitor"},
         3,
         "kelmtool monitor: fifo" + kNotListed + " (gave up after waiting 0.3 s)"},
        {{"--sim", "flash.bin", "--path", "/dev/null", "erase", "0", "--yes"},
         2,
         "kelmtool erase" + twoBoards},
        {{"--sim", "flash.bin", "--path", "/dev/null", "list"}, 2, "kelmtool list" + twoBoards},
    };
    const std::vector<uint8_t> flash = Flash();
    for (const auto& refusal : refusals) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(refusal.line + (json ? " --json" : ""));
            std::vector<std::string> arguments = refusal.arguments;
            if (json) arguments.insert(arguments.begin(), "--json");
            ExpectRefused(RunTool(arguments, folder), json, refusal.exitCode, refusal.line);
        }
    }
    EXPECT_EQ(Flash(), flash);
    EXPECT_EQ(ReadBytes(Path("plain.bin")), Pattern(100, 3));
}

}  // namespace
}  // namespace tooltest
