// The files backup and dump write: the data under the chosen name only, or under the one the
// message gives; no other file written, replaced or removed, whatever stands where; a target
// that must not be written refused (exit 2) before the board is touched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

namespace fs = std::filesystem;

const char kElf[4] = {'E', 'L', 'F', '\0'};
constexpr size_t kApp = 2 * kSlot;  // a one-slot application: backup 2 saves it
constexpr size_t kHeaderSize = 256;
constexpr char kExtension[] = ".gcb";
constexpr size_t kLongestName = 250;  // bytes, near the most a file system takes
const std::vector<uint8_t> kOther = {7, 7, 7};
constexpr char kKeptName[] = "*";  // saved: the name the message ends with
constexpr int kDecoys = 256;       // process ids the next run may be given

std::string Describe(const std::vector<uint8_t>& bytes) {  // short enough to print
    return std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>()(std::string(bytes.begin(), bytes.end())));
}

// Everything in folder and below, links described, never followed.
std::map<std::string, std::string> Take(const std::string& folder) {
    std::map<std::string, std::string> seen;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::string& what = seen[fs::relative(entry.path(), folder).string()];
        const fs::file_status status = entry.symlink_status();
        if (fs::is_symlink(status)) what = "link to " + fs::read_symlink(entry.path()).string();
        if (fs::is_regular_file(status)) what = Describe(ReadBytes(entry.path().string()));
        if (fs::is_directory(status)) what = "folder";
    }
    return seen;
}

// Where a temporary named after the process would go: links into secret.txt, and files.
void LayDecoys(const std::string& folder) {
    WriteBytes(folder + "/secret.txt", kOther);
    fs::create_directory(folder + "/out");
    int last = 0;
    ASSERT_TRUE(std::ifstream("/proc/sys/kernel/ns_last_pid") >> last);
    for (int pid = last + 1; pid <= last + kDecoys; ++pid) {
        const std::string decoy = folder + "/out/b.gcb.kelmtool-" + std::to_string(pid) + ".part";
        if (pid % 2 == 0) fs::create_symlink("../secret.txt", decoy);
        if (pid % 2 != 0) WriteBytes(decoy, kOther);
    }
}

struct OutputCase {
    const char* id;
    std::vector<std::string> arguments;  // after --sim <sim> --trace
    int exitCode;
    std::string message;  // the start of the one line on standard error besides the trace
    std::string saved;    // the name that ends up holding the data, if any
    std::function<void(const std::string& folder)> arrange = {};
    bool appears = false;  // b.gcb is created while the board is read
    Environment environment = {};
    std::string sim = "flash.bin";
    bool rootPasses = false;  // a permission that root has anyway
};
void PrintTo(const OutputCase& row, std::ostream* out) { *out << row.id; }

class OutputFilesTest : public ToolTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputFilesTest, OnlyTheSavedFileChanges) {
    const OutputCase& row = GetParam();
    if (row.rootPasses && geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    Lay(kApp, Header(kElf, "app", kSlot));
    Lay(kApp + kHeaderSize, Pattern(kSlot - kHeaderSize, 1));
    const std::vector<uint8_t> flash = Flash();
    if (row.arrange) row.arrange(folder);
    std::map<std::string, std::string> expected = Take(folder);
    std::vector<std::string> arguments = {"--sim", row.sim, "--trace"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const auto appear = [this] { WriteBytes(Path("b.gcb"), kOther); };
    const ToolRun run =
        RunTool(arguments, folder, row.environment, row.appears ? appear : std::function<void()>());

    EXPECT_EQ(run.exitCode, row.exitCode);
    std::vector<std::string> lines;
    for (const std::string& line : Lines(run.err)) {
        if (line.rfind("out ", 0) != 0 && line.rfind("input ", 0) != 0 &&
            line.rfind("feature ", 0) != 0) {
            lines.push_back(line);
        }
    }
    ASSERT_EQ(lines.size(), row.message.empty() ? 0u : 1u) << ::testing::PrintToString(lines);
    std::string saved = row.saved;
    if (!lines.empty()) {
        ASSERT_EQ(lines[0].rfind(row.message, 0), 0u) << lines[0];
        const std::string rest = lines[0].substr(row.message.size());
        EXPECT_EQ(rest.empty(), saved != kKeptName) << lines[0];
        if (saved == kKeptName) saved = rest;
    }
    if (row.exitCode == 2) {
        EXPECT_EQ(Lines(run.err).size(), 1u) << "reports were exchanged";
    }
    if (row.appears) expected["b.gcb"] = Describe(kOther);
    if (!saved.empty()) {
        expected[saved] =
            Describe(std::vector<uint8_t>(flash.begin() + kApp, flash.begin() + kApp + kSlot));
    }
    EXPECT_EQ(Take(folder), expected);
}

const std::string kLongName = std::string(kLongestName - (sizeof kExtension - 1), 'n') + kExtension;
const OutputCase kCases[] = {
    {"NoName", {"dump", "-o", ""}, 2, "kelmtool dump: the output file's name is empty", ""},
    {"MissingFolder",
     {"backup", "2", "-o", "missing/b.gcb"},
     2,
     "kelmtool backup: cannot create a file in missing: No such file or directory",
     ""},
    {"FolderThatCannotBeWritten",
     {"dump", "-o", "ro/all.bin"},
     2,
     "kelmtool dump: cannot create a file in ro: Permission denied",
     "",
     [](const std::string& f) {
         fs::create_directory(f + "/ro");
         fs::permissions(f + "/ro", fs::perms(0555));
     },
     false,
     {},
     "flash.bin",
     true},
    {"PipeEvenWithForce",
     {"dump", "-o", "pipe", "--force"},
     2,
     "kelmtool dump: pipe is a device, pipe or socket: only a file or a link is replaced",
     "",
     [](const std::string& f) { ASSERT_EQ(mkfifo((f + "/pipe").c_str(), 0600), 0); }},
    {"DanglingLinkWithoutForce",
     {"backup", "2", "-o", "dangling.gcb"},
     2,
     "kelmtool backup: dangling.gcb exists already: give --force to replace it",
     "",
     [](const std::string& f) { fs::create_symlink("nowhere", f + "/dangling.gcb"); }},
    {"SimFileByALink",
     {"backup", "2", "-o", "alias.bin", "--force"},
     2,
     "kelmtool backup: alias.bin is the simulated board's own flash file",
     "",
     [](const std::string& f) { fs::create_symlink("flash.bin", f + "/alias.bin"); }},
    {"SimFileByAHardLink",
     {"dump", "-o", "hard.bin", "--force"},
     2,
     "kelmtool dump: hard.bin is the simulated board's own flash file",
     "",
     [](const std::string& f) { fs::create_hard_link(f + "/flash.bin", f + "/hard.bin"); }},
    // The board would create it erased, and the commit then find it standing there.
    {"SimFileNotCreatedYet",
     {"dump", "-o", "./new.bin"},
     2,
     "kelmtool dump: ./new.bin is the simulated board's own flash file",
     "",
     {},
     false,
     {},
     "new.bin"},
    {"LongestName", {"backup", "2", "-o", kLongName}, 0, "", kLongName},
    {"ForceReplacesALinkNotItsTarget",
     {"backup", "2", "-o", "link.gcb", "--force"},
     0,
     "",
     "link.gcb",
     [](const std::string& f) {
         WriteBytes(f + "/secret.txt", kOther);
         fs::create_symlink("secret.txt", f + "/link.gcb");
     }},
    {"DecoysAtProcessIdNames",
     {"backup", "2", "-o", "out/b.gcb"},
     1,
     "kelmtool backup: the board did not answer CMD_READ at slot 2",
     "",
     LayDecoys,
     false,
     {{"KELMTOOL_SIM_FAULTS", "unplug@500"}}},  // well into the read of the slot
    {"TargetAppearsDuringTheRun",
     {"backup", "2", "-o", "b.gcb"},
     1,
     "kelmtool backup: b.gcb appeared during the run: the data is kept in ",
     kKeptName,
     {},
     true},
};

INSTANTIATE_TEST_SUITE_P(OutputFiles, OutputFilesTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.id); });

}  // namespace
}  // namespace tooltest
