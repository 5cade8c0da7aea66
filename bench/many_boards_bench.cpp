// kelmtool --all on four simulated boards, each paced at 1 ms a report (KELMTOOL_SIM_REPORT_MS),
// against one board's write of the same 1.2 MB image, both as whole kelmtool processes in the
// same run: the boards run side by side, so the four take about as long as the one. Published
// as counters for the goals (many_boards_goals.cpp), with how many boards' flash came out exact.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_world.h"
#include "core/flash_layout.h"
#include "many_boards_goals.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kImageBytes = 1200000;
constexpr int kBoards = 4;
constexpr char kPaceVariable[] = "KELMTOOL_SIM_REPORT_MS=1";

// Runs kelmtool in folder with the pace set, its output thrown away; its exit status, or -1.
int RunKelmtool(const std::string& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {KELMTOOL_PATH, "--quiet"});
    std::vector<char*> argv;
    for (std::string& word : arguments) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = {kPaceVariable};
    for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    int status = -1;
    pid_t pid = -1;
    if (posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0 &&
        posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0 &&
        waitpid(pid, &status, 0) == pid) {
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        status = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The image right after its 256-byte header at slot 0, and nothing else on the flash.
bool HoldsImageAlone(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image) {
    if (flash.size() != kFlashSize) return false;
    for (size_t i = 0; i < image.size(); ++i) {
        if (flash[kHeaderSize + i] != image[i]) return false;
    }
    for (size_t i = kHeaderSize + image.size(); i < flash.size(); ++i) {
        if (flash[i] != kErasedByte) return false;
    }
    return true;
}

void Link1ms_KelmtoolAllWrite_4Boards(benchmark::State& state) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kelm_bench_boards_" + std::to_string(getpid()));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::vector<uint8_t> image = PatternBytes(kImageBytes, 23);
    std::ofstream file(folder / "image.dol", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    file.close();
    bool done = !error && static_cast<bool>(file);
    double oneMs = 0;
    double allMs = 0;
    int exact = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> all = {"--all"};
        for (int board = 0; board < kBoards; ++board) {
            all.insert(all.begin(), {"--sim", "board" + std::to_string(board) + ".bin"});
        }
        all.insert(all.end(), {"write", "image.dol"});
        for (const char* flash :
             {"one.bin", "board0.bin", "board1.bin", "board2.bin", "board3.bin"}) {
            std::filesystem::remove(folder / flash, error);
        }
        state.ResumeTiming();
        const Clock::time_point started = Clock::now();
        done = RunKelmtool(folder, {"--sim", "one.bin", "write", "image.dol"}) == 0 && done;
        const Clock::time_point between = Clock::now();
        done = RunKelmtool(folder, all) == 0 && done;
        allMs = Milliseconds(Clock::now() - between);
        oneMs = Milliseconds(between - started);
        const std::vector<uint8_t> one = ReadWholeFile((folder / "one.bin").string());
        exact = 0;
        for (int board = 0; board < kBoards; ++board) {
            const std::string name = "board" + std::to_string(board) + ".bin";
            if (ReadWholeFile((folder / name).string()) == one) ++exact;
        }
        if (!HoldsImageAlone(one, image)) exact = 0;
    }
    state.counters[kOneBoardMsCounter] = oneMs;
    state.counters[kAllBoardsMsCounter] = allMs;
    state.counters[kExactBoardsCounter] = exact;
    state.counters[kBoardsCounter] = kBoards;
    std::filesystem::remove_all(folder, error);
    if (!done) state.SkipWithError("a kelmtool write failed");
}

}  // namespace

// One run of about 40 s (two writes of some 19,000 reports at 1 ms): the goal compares the two
// writes of the same run, so repetitions would add nothing but minutes.
BENCHMARK(Link1ms_KelmtoolAllWrite_4Boards)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
