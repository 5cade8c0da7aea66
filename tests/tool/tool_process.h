// kelmtool run as a whole program, as a script runs it: its own process, standard input not a
// terminal, standard output and standard error captured apart, the exit code; and a temporary
// folder with a --sim flash file for it to work on.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tooltest {

constexpr size_t kSlot = 65536;
constexpr size_t kFlash = 2 * 1024 * 1024;

using Environment = std::vector<std::pair<std::string, std::string>>;

struct ToolRun {
    int exitCode = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// Runs kelmtool with arguments in folder, stdin from /dev/null. The environment is the test's
// without the simulated board's fault variables, plus extra. With whileRunning, standard error
// goes through a pipe of one page, and whileRunning is called once its first line is in: under
// --trace the board is in use then, and kelmtool held by the full pipe a few reports later.
ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& folder,
                const Environment& extra = {}, const std::function<void()>& whileRunning = {});

// What a run meets from outside: a signal sent afterMs after it started, a standard output that
// is a pipe nobody reads, and whileRunning as RunTool calls it.
struct Disturbance {
    int signal = 0;
    int afterMs = 0;
    bool closedOutput = false;
    std::function<void()> whileRunning;
};
ToolRun RunToolDisturbed(const std::vector<std::string>& arguments, const std::string& folder,
                         const Disturbance& disturbance, const Environment& extra = {});

// kelmtool started as RunTool starts it, left running beside the test until Finish. One that is
// never finished is killed with the object.
class ToolProcess {
  public:
    ToolProcess(const std::vector<std::string>& arguments, const std::string& folder,
                const Environment& extra = {}, const Disturbance& disturbance = {});
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Standard output as far as it has come.
    std::string OutSoFar() const;
    // Waits for the end.
    ToolRun Finish();

  private:
    Disturbance disturbance_;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int errPipe_ = -1;  // with whileRunning: standard error's reading end
};

// Lines of text without their line ends.
std::vector<std::string> Lines(const std::string& text);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Every file name in folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// Index of the first differing byte, or -1 (a 2 MB comparison must not print 2 MB).
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// One line of --trace: "out", "feature" or "input" and the report's bytes.
struct TracedReport {
    std::string kind;
    std::vector<uint8_t> bytes;
};
// The trace lines of a standard error; a line that is not one fails the test.
std::vector<TracedReport> ParseTrace(const std::string& err);
// Output reports that carry CMD_WRITE data (byte 1, the command byte of a command, is 0).
int DataReports(const std::vector<TracedReport>& trace);

// A 256-byte header: magic, name (cut to keep its zero), reserved 0, size big-endian.
std::vector<uint8_t> Header(const char magic[4], const std::string& name, uint32_t size);
std::vector<uint8_t> Pattern(size_t length, uint32_t seed);  // deterministic, no 0xFF runs

// A fresh folder with flash.bin (erased unless laid otherwise) for every test.
class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // kelmtool --sim flash.bin arguments..., in the folder.
    ToolRun Sim(const std::vector<std::string>& arguments, const Environment& extra = {}) const;
    ToolRun SimDisturbed(const std::vector<std::string>& arguments, const Disturbance& disturbance,
                         const Environment& extra = {}) const;
    std::string Path(const std::string& name) const { return folder + "/" + name; }
    std::vector<uint8_t> Flash() const { return ReadBytes(flashPath); }
    void SetFlash(const std::vector<uint8_t>& flash) const { WriteBytes(flashPath, flash); }
    // Bytes laid into the flash file at address.
    void Lay(size_t address, const std::vector<uint8_t>& bytes) const;

    std::string folder;
    std::string flashPath;
};

}  // namespace tooltest
