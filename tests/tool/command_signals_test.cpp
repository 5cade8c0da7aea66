// A signal during a command: kelmtool stops between two transfers, gives the bus back, removes
// what it was writing, says in one line what the flash now holds, and exits 128 + the signal.
// The simulated board raises the signal during a chosen exchange (KELMTOOL_SIM_SIGNAL), picked
// from a clean run's --trace; the monitor, whose end is Ctrl-C, gets a real one from outside.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

constexpr uint8_t kCmdErase = 2;
constexpr uint8_t kCmdWrite = 3;
constexpr uint8_t kCmdRead = 4;
constexpr uint8_t kCmdBus = 8;
constexpr size_t kHeader = 256;
const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

// Exchanges (out and feature lines of a trace) that carry command, from the first on.
std::vector<int> ExchangesOf(const std::vector<TracedReport>& trace, uint8_t command) {
    std::vector<int> found;
    int exchange = 0;
    for (const TracedReport& report : trace) {
        if (report.kind == "input") continue;
        if (report.kind == "out" && report.bytes[1] == command) found.push_back(exchange);
        ++exchange;
    }
    return found;
}

// Standard error without the trace.
std::vector<std::string> Messages(const std::string& err) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(err)) {
        if (line.rfind("out ", 0) != 0 && line.rfind("feature ", 0) != 0) lines.push_back(line);
    }
    return lines;
}

bool HeaderErased(const std::vector<uint8_t>& flash, int slot) {
    const auto from = flash.begin() + static_cast<long>(slot * kSlot);
    return std::all_of(from, from + kHeader, [](uint8_t byte) { return byte == 0xFF; });
}

// A BIOS in slot 0, a three-slot application in 6-8; big.dol needs five slots (1-5).
class SignalTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        Lay(0, Header(kBios, "bios", kSlot));
        Lay(6 * kSlot, Header(kElf, "app", 3 * kSlot));
        Lay(6 * kSlot + kHeader, Pattern(3 * kSlot - kHeader, 1));
        WriteBytes(Path("big.dol"), Pattern(300000, 2));
        WriteBytes(Path("dump.bin"), Pattern(kFlash, 3));
        before = Flash();
    }

    // The trace of a clean run of arguments, the flash after it, and the flash put back.
    std::vector<TracedReport> CleanTrace(const std::vector<std::string>& arguments) {
        std::vector<std::string> traced = {"--trace"};
        traced.insert(traced.end(), arguments.begin(), arguments.end());
        const ToolRun run = Sim(traced);
        EXPECT_EQ(run.exitCode, 0) << Messages(run.err).front();
        after = Flash();
        SetFlash(before);
        return ParseTrace(run.err);
    }

    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
};

struct Stop {
    const char* name;
    int signal;
    int exchange;
    int exitCode;
    std::string message;
    std::function<bool(const std::vector<uint8_t>& flash)> holds;
};

TEST_F(SignalTest, EachStopSaysWhatTheFlashHolds) {
    const std::vector<std::string> write = {"write", "big.dol", "--verify"};
    const std::vector<TracedReport> trace = CleanTrace(write);
    const std::vector<uint8_t> written = after;
    const std::vector<int> erases = ExchangesOf(trace, kCmdErase);
    const std::vector<int> writes = ExchangesOf(trace, kCmdWrite);
    ASSERT_EQ(erases.size(), 5u);
    const auto unchanged = [this](const std::vector<uint8_t>& flash) { return flash == before; };
    const auto outsideAsBefore = [this](const std::vector<uint8_t>& flash) {
        return std::equal(flash.begin(), flash.begin() + kSlot, before.begin()) &&
               std::equal(flash.begin() + 6 * kSlot, flash.end(), before.begin() + 6 * kSlot);
    };
    const std::vector<Stop> stops = {
        {"hung up while the catalogue is read", SIGHUP, 3, 129,
         "kelmtool write: interrupted: nothing was changed", unchanged},
        {"terminated during the second erase", SIGTERM, erases[1], 143,
         "kelmtool write: interrupted: slots 1-2 of slots 1-5 were erased (they were free); "
         "nothing else was changed",
         outsideAsBefore},
        {"Ctrl-C as the body begins", SIGINT, writes.front(), 130,
         "kelmtool write: interrupted: slots 1-5 hold part of big.dol without its header: slot 1 "
         "reads as free, slots 2-5 may read as ??? until they are written or erased; nothing else "
         "was changed",
         [&](const std::vector<uint8_t>& flash) {
             return outsideAsBefore(flash) && HeaderErased(flash, 1);
         }},
        {"Ctrl-C while the header goes: it is written whole", SIGINT, writes.back() + 2, 130,
         "kelmtool write: interrupted: slots 1-5 hold big.dol, written but not verified",
         [&](const std::vector<uint8_t>& flash) { return flash == written; }},
    };
    for (const Stop& stop : stops) {
        SCOPED_TRACE(stop.name);
        SetFlash(before);
        const ToolRun run = Sim({"--trace", "write", "big.dol", "--verify"},
                                {{"KELMTOOL_SIM_SIGNAL", std::to_string(stop.signal) + "@" +
                                                             std::to_string(stop.exchange)}});
        EXPECT_EQ(run.exitCode, stop.exitCode);
        EXPECT_EQ(Messages(run.err), std::vector<std::string>{stop.message});
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(stop.holds(Flash()));
        // The bus was given back after the last transfer.
        std::string traceLines;
        for (const std::string& line : Lines(run.err)) {
            if (Messages(line).empty()) traceLines += line + "\n";
        }
        const std::vector<TracedReport> stopped = ParseTrace(traceLines);
        const std::vector<int> buses = ExchangesOf(stopped, kCmdBus);
        ASSERT_FALSE(buses.empty());
        int lastBus = -1;
        for (const TracedReport& report : stopped) {
            if (report.kind == "out" && report.bytes[1] == kCmdBus) lastBus = report.bytes[3];
        }
        EXPECT_EQ(lastBus, 0) << "the bus is still held";
        for (uint8_t command : {kCmdErase, kCmdWrite, kCmdRead}) {
            const std::vector<int> sent = ExchangesOf(stopped, command);
            if (!sent.empty()) {
                EXPECT_LT(sent.back(), buses.back());
            }
        }
    }
    // The interrupted write's first slot reads as free, and nothing in its slots as an image.
    SetFlash(before);
    Sim({"write", "big.dol"}, {{"KELMTOOL_SIM_SIGNAL", "2@" + std::to_string(writes[2])}});
    const nlohmann::json info = nlohmann::json::parse(Sim({"--json", "info"}).out);
    EXPECT_EQ(info["slots"][1]["label"], "free");
    for (const nlohmann::json& image : info["images"]) {
        const int slot = image["slot"];
        if (slot >= 1 && slot <= 5) {
            EXPECT_EQ(image["label"], "???") << slot;
        }
    }
}

TEST_F(SignalTest, RestoreEraseAndDumpStopCleanly) {
    const std::vector<TracedReport> restore = CleanTrace({"restore", "dump.bin", "--yes"});
    EXPECT_EQ(after, ReadBytes(Path("dump.bin")));
    // Every slot's first bytes after every other byte.
    const std::vector<int> restoreWrites = ExchangesOf(restore, kCmdWrite);
    std::vector<int> headerWrites;
    int lastBodyWrite = -1;
    for (const TracedReport& report : restore) {
        if (report.kind != "out" || report.bytes[1] != kCmdWrite) continue;
        const bool head = report.bytes[3] == 0 && report.bytes[4] == 0;
        if (head) headerWrites.push_back(report.bytes[2]);
        if (!head) lastBodyWrite = static_cast<int>(headerWrites.size());
    }
    EXPECT_EQ(headerWrites.size(), 32u);
    EXPECT_EQ(lastBodyWrite, 0) << "a slot's first bytes went before another's body";

    const std::vector<int> erases = ExchangesOf(CleanTrace({"erase", "7", "--yes"}), kCmdErase);
    const std::vector<int> reads = ExchangesOf(CleanTrace({"dump", "-o", "d.bin"}), kCmdRead);
    std::filesystem::remove(Path("d.bin"));
    const std::vector<std::string> files = FolderNames(folder);
    const std::vector<Stop> stops = {
        {"restore stopped in the body", SIGINT, restoreWrites[3], 130,
         "kelmtool restore: interrupted: the flash was erased and holds part of dump.bin without "
         "the slots' headers: every slot reads as free",
         [](const std::vector<uint8_t>& flash) {
             for (int slot = 0; slot < 32; ++slot) {
                 if (!HeaderErased(flash, slot)) return false;
             }
             return true;
         }},
        {"erase stopped after its first slot", SIGTERM, erases[0], 143,
         "kelmtool erase: interrupted: slot 6 of slots 6-8 were erased; slots 7-8 still hold the "
         "rest of the image and may read as ???; erase them to finish",
         [this](const std::vector<uint8_t>& flash) {
             return HeaderErased(flash, 6) &&
                    std::equal(flash.begin() + 7 * kSlot, flash.end(), before.begin() + 7 * kSlot);
         }},
        {"dump stopped half way", SIGINT, reads[32], 130,
         "kelmtool dump: interrupted: nothing was changed",
         [this](const std::vector<uint8_t>& flash) { return flash == before; }},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"restore", "dump.bin", "--yes"}, {"erase", "7", "--yes"}, {"dump", "-o", "d.bin"}};
    for (size_t i = 0; i < stops.size(); ++i) {
        const Stop& stop = stops[i];
        SCOPED_TRACE(stop.name);
        SetFlash(before);
        const ToolRun run =
            Sim(commands[i], {{"KELMTOOL_SIM_SIGNAL",
                               std::to_string(stop.signal) + "@" + std::to_string(stop.exchange)}});
        EXPECT_EQ(run.exitCode, stop.exitCode);
        EXPECT_EQ(Lines(run.err), std::vector<std::string>{stop.message});
        EXPECT_TRUE(stop.holds(Flash()));
        EXPECT_EQ(FolderNames(folder), files) << "a file was left behind";
    }
}

// monitor ends on Ctrl-C and still prints its document; a closed standard output ends a command
// with exit 1 and a message, never by SIGPIPE in the middle of it.
TEST_F(SignalTest, MonitorEndsOnCtrlCAndAClosedOutputIsNoCrash) {
    const ToolRun monitor = SimDisturbed({"--json", "monitor"}, {SIGINT, 1000, false, {}});
    EXPECT_EQ(monitor.exitCode, 130);
    EXPECT_EQ(Lines(monitor.err), std::vector<std::string>{"kelmtool monitor: interrupted"});
    const nlohmann::json document = nlohmann::json::parse(monitor.out);
    ASSERT_TRUE(document["texts"].is_array());
    EXPECT_FALSE(document["texts"].empty());

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"info"}, {"monitor", "--seconds", "60"}}) {
        const ToolRun closed = SimDisturbed(arguments, {0, 0, true, {}});
        EXPECT_EQ(closed.exitCode, 1) << arguments[0];
        EXPECT_EQ(Lines(closed.err).size(), 1u) << closed.err;
        EXPECT_NE(closed.err.find("could not write to standard output"), std::string::npos);
    }
    EXPECT_EQ(Flash(), before);
}

}  // namespace
}  // namespace tooltest
