// kelmtool run as a whole program in a temporary folder.
#include "tool/tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "testworld/world.h"

extern char** environ;

namespace tooltest {
namespace {

// Variables of the simulated board, and the defaults of --sim and --serial, that only the test's
// own extra environment may set.
constexpr const char* kCleared[] = {
    "KELMTOOL_SIM_FAULTS=", "KELMTOOL_SIM_ERASE_BUSY=", "KELMTOOL_SIM_BUS_HELD=",
    "KELMTOOL_SIM_SIGNAL=", "KELMTOOL_SIM_REPORT_MS=",  "KELM_SEED=",
    "KELMTOOL_SIM=",        "KELMTOOL_SERIAL="};
constexpr size_t kReadChunk = 65536;

std::string Drain(int fd) {
    std::string text;
    if (lseek(fd, 0, SEEK_SET) != 0) return "(capture lost)";
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

// Standard error through the pipe's read end, with whileRunning called at its first line end.
std::string ReadWhileRunning(int fd, const std::function<void()>& whileRunning) {
    std::string text;
    char buffer[kReadChunk];
    for (bool called = false;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        if (!called && text.find('\n') != std::string::npos) {
            called = true;
            whileRunning();
        }
    }
    return text;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& arguments, const std::string& folder,
                         const Environment& extra, const Disturbance& disturbance)
    : disturbance_(disturbance) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const bool cleared =
            std::any_of(std::begin(kCleared), std::end(kCleared),
                        [&](const char* name) { return text.rfind(name, 0) == 0; });
        if (!cleared) environment.push_back(text);
    }
    for (const auto& [name, value] : extra) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);

    std::vector<std::string> words = {KELMTOOL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int unread[2] = {-1, -1};  // a pipe whose reading end is closed once kelmtool has started
    if (disturbance.closedOutput && pipe2(unread, O_CLOEXEC) != 0) ADD_FAILURE() << "no pipe";
    out_ = disturbance.closedOutput ? unread[1] : memfd_create("kelmtool-out", MFD_CLOEXEC);
    int piped[2] = {-1, -1};
    if (disturbance.whileRunning && pipe2(piped, O_CLOEXEC) == 0 &&
        fcntl(piped[1], F_SETPIPE_SZ, getpagesize()) < 0) {
        ADD_FAILURE() << "cannot shrink the pipe: " << std::strerror(errno);
    }
    err_ = disturbance.whileRunning ? piped[1] : memfd_create("kelmtool-err", MFD_CLOEXEC);
    errPipe_ = piped[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_, 1);
    posix_spawn_file_actions_adddup2(&actions, err_, 2);
    // glibc 2.29 and later; the folder is where relative paths of the run resolve.
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    const int spawned = out_ >= 0 && err_ >= 0 ? posix_spawn(&pid_, argv[0], &actions, nullptr,
                                                             argv.data(), envp.data())
                                               : errno;
    posix_spawn_file_actions_destroy(&actions);
    CloseIfOpen(unread[0]);
    // Only kelmtool may hold the write ends of the pipes, or reading them would never end.
    if (disturbance.closedOutput) CloseIfOpen(out_);
    if (disturbance.whileRunning) CloseIfOpen(err_);
    if (spawned != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << KELMTOOL_PATH << ": " << std::strerror(spawned);
    }
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        // Fails only for a process already reaped, which pid_ never names.
        static_cast<void>(kill(pid_, SIGKILL));
        static_cast<void>(Finish());
    }
    CloseIfOpen(out_);
    CloseIfOpen(err_);
    CloseIfOpen(errPipe_);
}

std::string ToolProcess::OutSoFar() const {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = pread(out_, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

ToolRun ToolProcess::Finish() {
    ToolRun run;
    if (pid_ <= 0) return run;
    if (disturbance_.signal != 0) {
        usleep(static_cast<useconds_t>(disturbance_.afterMs) * 1000);
        EXPECT_EQ(kill(pid_, disturbance_.signal), 0);
    }
    if (errPipe_ >= 0) run.err = ReadWhileRunning(errPipe_, disturbance_.whileRunning);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (out_ >= 0) run.out = Drain(out_);
    if (err_ >= 0) run.err = Drain(err_);
    return run;
}

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& folder,
                const Environment& extra, const std::function<void()>& whileRunning) {
    Disturbance disturbance;
    disturbance.whileRunning = whileRunning;
    return RunToolDisturbed(arguments, folder, disturbance, extra);
}

ToolRun RunToolDisturbed(const std::vector<std::string>& arguments, const std::string& folder,
                         const Disturbance& disturbance, const Environment& extra) {
    return ToolProcess(arguments, folder, extra, disturbance).Finish();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case too: the trace is lower case
}

// "out 00 03 ...": the kind, then blank-separated two-digit hex bytes; false for anything else.
bool ParseTraceLine(const std::string& line, TracedReport& report) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) return false;
    report.kind = line.substr(0, blank);
    if (report.kind != "out" && report.kind != "feature" && report.kind != "input") return false;
    if ((line.size() - blank) % 3 != 0) return false;
    for (size_t at = blank; at < line.size(); at += 3) {
        const int high = HexDigit(line[at + 1]);
        const int low = HexDigit(line[at + 2]);
        if (line[at] != ' ' || high < 0 || low < 0) return false;
        report.bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

}  // namespace

std::vector<TracedReport> ParseTrace(const std::string& err) {
    std::vector<TracedReport> trace;
    for (const std::string& line : Lines(err)) {
        TracedReport report;
        if (!ParseTraceLine(line, report)) {
            ADD_FAILURE() << "not a trace line: " << line.substr(0, 80);
            continue;
        }
        const size_t expected = report.kind == "input" ? 9 : 65;
        EXPECT_EQ(report.bytes.size(), expected) << line.substr(0, 80);
        trace.push_back(std::move(report));
    }
    return trace;
}

int DataReports(const std::vector<TracedReport>& trace) {
    int count = 0;
    for (const TracedReport& report : trace) {
        if (report.kind == "out" && report.bytes.size() > 1 && report.bytes[1] == 0) ++count;
    }
    return count;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(file.tellg()));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    const auto differs = std::mismatch(a.begin(), a.end(), b.begin());
    return differs.first == a.end() ? -1 : static_cast<long>(differs.first - a.begin());
}

std::vector<uint8_t> Header(const char magic[4], const std::string& name, uint32_t size) {
    return testworld::SlotHeaderBytes(magic, name, size);
}

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>((state >> 16) % 255);  // never 0xFF
    }
    return bytes;
}

void ToolTest::SetUp() {
    char name[] = "/tmp/kelmtool-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr) << "no temporary folder";
    folder = name;
    flashPath = Path("flash.bin");
    SetFlash(std::vector<uint8_t>(kFlash, 0xFF));
}

void ToolTest::TearDown() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

ToolRun ToolTest::Sim(const std::vector<std::string>& arguments, const Environment& extra) const {
    return SimDisturbed(arguments, {}, extra);
}

ToolRun ToolTest::SimDisturbed(const std::vector<std::string>& arguments,
                               const Disturbance& disturbance, const Environment& extra) const {
    std::vector<std::string> words = {"--sim", flashPath};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return RunToolDisturbed(words, folder, disturbance, extra);
}

void ToolTest::Lay(size_t address, const std::vector<uint8_t>& bytes) const {
    std::vector<uint8_t> flash = Flash();
    std::copy(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(address));
    SetFlash(flash);
}

}  // namespace tooltest
