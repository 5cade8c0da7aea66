// kelmtool info and --trace: the slot map as the window labels it, in JSON, and every report of a
// run on standard error, few of them for a small write.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "support/app_fixture.h"
#include "tool/tool_process.h"
#include "ui/resource.h"

namespace {

using tooltest::kFlash;
using tooltest::kSlot;

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

constexpr int kDolFilter = 2;
constexpr uint8_t kCmdErase = 2;
constexpr uint8_t kCmdWrite = 3;
constexpr uint8_t kCmdBus = 8;

class InfoTest : public AppTest {
  protected:
    tooltest::ToolRun Tool(const std::vector<std::string>& arguments) {
        std::vector<std::string> words = {"--sim", TempPath("flash.bin")};
        words.insert(words.end(), arguments.begin(), arguments.end());
        return tooltest::RunTool(words, tempDir);
    }

    // Out reports with this command byte (and, for CMD_BUS, this argument).
    static int Commands(const std::vector<tooltest::TracedReport>& trace, uint8_t command,
                        int busArgument = -1) {
        int count = 0;
        for (const tooltest::TracedReport& report : trace) {
            if (report.kind == "out" && report.bytes[1] == command &&
                (busArgument < 0 || report.bytes[3] == busArgument)) {
                ++count;
            }
        }
        return count;
    }
};

TEST_F(InfoTest, JsonSlotMapMatchesTheWindowsLabels) {
    std::vector<uint8_t> flash(kFlash, 0xFF);
    const auto lay = [&](size_t slot, const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(slot * kSlot));
    };
    lay(0, tooltest::Header(kBios, "bios", kSlot));
    lay(2, tooltest::Header(kElf, "C:\\apps\\three.elf", 3 * kSlot));
    lay(6, tooltest::Header("ABCD", "odd", kSlot));
    lay(8, tooltest::Header(kElf, "caf\xE9.dol", 100000));  // an 8-bit name, a size as stored
    lay(12, tooltest::Header(kElf, "empty", 0));
    board.SetFlash(0, flash);
    std::vector<std::string> captions;
    RunConnected([&](HWND) {
        for (int slot = 0; slot < 32; ++slot) captions.push_back(SlotCaption(slot));
    });

    tooltest::WriteBytes(TempPath("flash.bin"), flash);
    const tooltest::ToolRun run = Tool({"--json", "info"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const nlohmann::json info = nlohmann::json::parse(run.out);
    ASSERT_EQ(info["slots"].size(), 32u);
    for (int slot = 0; slot < 32; ++slot) {
        const nlohmann::json& entry = info["slots"][slot];
        EXPECT_EQ(entry["slot"], slot);
        EXPECT_EQ(entry["label"], captions[slot]) << slot;
        const bool free = captions[slot] == "free";
        EXPECT_EQ(entry["state"], free ? "free" : captions[slot] == "???" ? "corrupted" : "used");
        if (free) {
            EXPECT_EQ(entry["owner"], -1);
        }
    }
    EXPECT_EQ(captions[3], "...");
    EXPECT_EQ(info["slots"][4]["owner"], 2);
    EXPECT_EQ(info["slots"][9]["owner"], 8);
    EXPECT_EQ(captions[6], "???");
    EXPECT_EQ(info["bios_in_slot0"], true);

    const nlohmann::json images = info["images"];
    ASSERT_GE(images.size(), 4u);
    EXPECT_EQ(images[0], nlohmann::json({{"slot", 0},
                                         {"slots", 1},
                                         {"label", "BIOS"},
                                         {"magic_hex", "28432920"},
                                         {"name", "bios"},
                                         {"size", 65536}}));
    EXPECT_EQ(images[1], nlohmann::json({{"slot", 2},
                                         {"slots", 3},
                                         {"label", "Appl."},
                                         {"magic_hex", "454c4600"},
                                         {"name", "C:\\apps\\three.elf"},
                                         {"size", 196608}}));
    EXPECT_EQ(images[2]["magic_hex"], "41424344");
    EXPECT_EQ(images[3]["slot"], 8);
    EXPECT_EQ(images[3]["slots"], 2);
    EXPECT_EQ(images[3]["size"], 100000);
    EXPECT_EQ(images[3]["name"], "caf\xEF\xBF\xBD.dol");  // the 8-bit byte replaced
    EXPECT_EQ(images.back()["slot"], 12);
    EXPECT_EQ(images.back()["slots"], 2);  // size 0 takes two slots
    EXPECT_EQ(images.back()["size"], 0);

    // Text output shows a name's control and 8-bit bytes escaped: a header cannot reach the
    // terminal with an escape sequence.
    lay(14, tooltest::Header(kElf, "evil\x1b]0;owned\x07\x7f\xE9", kSlot));
    tooltest::WriteBytes(TempPath("flash.bin"), flash);
    const tooltest::ToolRun text = Tool({"info"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("  evil\\x1b]0;owned\\x07\\x7f\\xe9\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_NE(text.out.find("  caf\\xe9.dol\n"), std::string::npos);

    // Without a BIOS magic in slot 0 there is no bootable BIOS.
    lay(0, tooltest::Header(kElf, "app", kSlot));
    tooltest::WriteBytes(TempPath("flash.bin"), flash);
    EXPECT_EQ(nlohmann::json::parse(Tool({"--json", "info"}).out)["bios_in_slot0"], false);
}

// The trace: one line per report, "out"/"feature" and 65 bytes in lower-case hex; a write of a
// 300-byte DOL erases its slot, then sends the 300 bytes behind the header (5 data reports) and
// last the 256-byte header (5 more), where the window sends 521; info takes the bus once.
TEST_F(InfoTest, TraceShowsEveryReportAndFewOfThemForASmallWrite) {
    const std::string path = TempPath("small.dol");
    WriteFileBytes(path, tooltest::Pattern(300, 1));
    const std::vector<uint8_t> erased(kFlash, 0xFF);
    board.SetFlash(0, erased);
    RunConnected([&](HWND) {
        AnswerOpen(path, kDolFilter);
        Click(IDC_WRITE);
        ASSERT_TRUE(ClickSlot(0));
    });
    int windowData = 0;
    for (const sim::LogEntry& entry : board.Log()) {
        if (entry.direction == sim::Direction::Out && entry.bytes.size() > 1 && entry.bytes[1] == 0)
            ++windowData;
    }
    EXPECT_EQ(windowData, 521);

    tooltest::WriteBytes(TempPath("flash.bin"), erased);
    const tooltest::ToolRun write = Tool({"--trace", "--json", "write", path});
    ASSERT_EQ(write.exitCode, 0) << write.err.substr(0, 2000);
    EXPECT_EQ(nlohmann::json::parse(write.out)["slot"], 0);
    const std::vector<tooltest::TracedReport> trace = tooltest::ParseTrace(write.err);
    EXPECT_EQ(tooltest::DataReports(trace), 10);
    EXPECT_EQ(Commands(trace, kCmdErase), 1);
    std::vector<int> writeOffsets;  // bank 0: the offset alone
    for (const tooltest::TracedReport& report : trace) {
        if (report.kind == "out" && report.bytes[1] == kCmdWrite)
            writeOffsets.push_back(report.bytes[3] << 8 | report.bytes[4]);
    }
    EXPECT_EQ(writeOffsets, (std::vector<int>{0x100, 0}));
    EXPECT_EQ(Commands(trace, kCmdBus, 1), 2);  // the scan's and the write's
    EXPECT_EQ(tooltest::FirstDifference(tooltest::ReadBytes(TempPath("flash.bin")), board.Flash()),
              -1);

    const tooltest::ToolRun info = Tool({"--trace", "info"});
    ASSERT_EQ(info.exitCode, 0);
    const std::vector<tooltest::TracedReport> scan = tooltest::ParseTrace(info.err);
    EXPECT_EQ(Commands(scan, kCmdBus, 1), 1);
    for (const tooltest::TracedReport& report : scan) EXPECT_NE(report.kind, "input");
    EXPECT_EQ(info.out.rfind("slot  label  state      owner\n", 0), 0u);
}

// list shows the simulated board, openable or, for a flash file of the wrong size, why not;
// monitor on it ends after --seconds with the texts it saw: the board's greeting, built up one
// 7-character piece at a time, each change shown as it comes.
class SimListTest : public tooltest::ToolTest {};

TEST_F(SimListTest, ListAndMonitorTheSimulatedBoard) {
    const tooltest::ToolRun list = Sim({"--json", "list"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const nlohmann::json boards = nlohmann::json::parse(list.out)["boards"];
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0]["path"], "sim:" + flashPath);
    EXPECT_EQ(boards[0]["openable"], true);

    const tooltest::ToolRun monitor = Sim({"--json", "monitor", "--seconds", "0.2"});
    EXPECT_EQ(monitor.exitCode, 0) << monitor.err;
    const nlohmann::json texts = nlohmann::json::parse(monitor.out)["texts"];
    ASSERT_EQ(texts.size(), 6u);  // three pieces a line
    EXPECT_EQ(texts[0], nlohmann::json({"kelm si           ", "                  "}));
    EXPECT_EQ(texts[5], nlohmann::json({"kelm sim board    ", "2048 KB, 32 slots "}));

    // Without --json each change is printed as it comes; --trace shows the 9-byte reports.
    const tooltest::ToolRun shown = Sim({"--trace", "monitor", "--seconds", "0.2"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("kelm sim board    \n2048 KB, 32 slots \n"), std::string::npos)
        << shown.out;
    size_t inputs = 0;
    for (const tooltest::TracedReport& report : tooltest::ParseTrace(shown.err)) {
        if (report.kind == "input") {
            EXPECT_EQ(report.bytes.size(), 9u);
            ++inputs;
        }
    }
    EXPECT_EQ(inputs, 6u);

    SetFlash(std::vector<uint8_t>(100, 0));
    const tooltest::ToolRun wrong = Sim({"--json", "list"});
    EXPECT_EQ(wrong.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(wrong.out)["boards"][0]["openable"], false);
    EXPECT_EQ(Flash().size(), 100u);
}

}  // namespace
