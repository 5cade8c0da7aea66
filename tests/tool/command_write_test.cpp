// kelmtool write: the flash after it is the flash after the window's own write of the same file
// from the same path (the window run in-process on the simulated board), whatever kelmtool
// leaves out of the traffic.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/app_fixture.h"
#include "tool/tool_process.h"
#include "ui/resource.h"

namespace {

using tooltest::kFlash;
using tooltest::kSlot;

constexpr int kBiosFilter = 1;
constexpr int kDolFilter = 2;
constexpr int kElfFilter = 3;
constexpr int kVgcFilter = 4;

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

// Data with runs of 0xFF of the given lengths, each after 40 data bytes, then 40 more.
std::vector<uint8_t> WithErasedRuns(const std::vector<size_t>& runs, uint32_t seed) {
    std::vector<uint8_t> bytes;
    for (size_t run : runs) {
        const std::vector<uint8_t> data = tooltest::Pattern(40, seed++);
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.insert(bytes.end(), run, 0xFF);
    }
    const std::vector<uint8_t> data = tooltest::Pattern(40, seed);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// A .gcb image: its own header (magic, reserved word, stale size) and a body.
std::vector<uint8_t> Gcb(const char magic[4], std::vector<uint8_t> body) {
    std::vector<uint8_t> file = tooltest::Header(magic, "saved image", 0x00FF0000);
    file[248] = 0xDE;
    file[251] = 0xAD;
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// The name field from its byte 16 on erased: a run of 0xFF inside the header.
std::vector<uint8_t> ErasedName(std::vector<uint8_t> gcb) {
    std::fill(gcb.begin() + 20, gcb.begin() + 248, 0xFF);
    return gcb;
}

// An ELF file: its magic, then data.
std::vector<uint8_t> Elf(size_t length, uint32_t seed) {
    std::vector<uint8_t> file = tooltest::Pattern(length, seed);
    const uint8_t magic[] = {0x7f, 'E', 'L', 'F'};
    std::copy(std::begin(magic), std::end(magic), file.begin());
    return file;
}

std::vector<uint8_t> Vgc(size_t length) {
    std::vector<uint8_t> file = tooltest::Pattern(length, 11);
    file[4] = 0xFD;  // every flag but "encrypted"
    return file;
}

struct WriteCase {
    const char* name;
    int filter;
    std::string fileName;  // under the test's folder; may name sub-folders
    std::vector<uint8_t> file;
    int slot;  // -1: the first feasible start, as the window's first enabled slot
};

class WriteLikeTheWindowTest : public AppTest {
  protected:
    // The flash the window leaves after writing path at slot (its first feasible start for -1)
    // onto before, and that start.
    std::vector<uint8_t> WindowWrite(const std::vector<uint8_t>& before, const std::string& path,
                                     int filter, int& slot) {
        board.SetFlash(0, before);
        RunConnected([&](HWND) {
            AnswerOpen(path, filter);
            Click(IDC_WRITE);
            const std::vector<int> starts = EnabledSlots();
            ASSERT_FALSE(starts.empty());
            if (slot < 0) slot = starts.front();
            ASSERT_TRUE(ClickSlot(slot));
        });
        return board.Flash();
    }

    tooltest::ToolRun Tool(const std::vector<std::string>& arguments) {
        std::vector<std::string> words = {"--sim", TempPath("flash.bin")};
        words.insert(words.end(), arguments.begin(), arguments.end());
        return tooltest::RunTool(words, tempDir);
    }

    // kelmtool writes c onto before, the window onto windowBefore (before, unless kelmtool is
    // to erase something first); the flash files must agree byte for byte.
    void Compare(const WriteCase& c, const std::vector<uint8_t>& before,
                 const std::vector<uint8_t>* windowBefore = nullptr) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(c.fileName);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFileBytes(path, c.file);
        int slot = c.slot;
        const std::vector<uint8_t> window =
            WindowWrite(windowBefore != nullptr ? *windowBefore : before, path, c.filter, slot);

        tooltest::WriteBytes(TempPath("flash.bin"), before);
        std::vector<std::string> arguments = {"--json", "write", path};
        if (c.slot >= 0) arguments.insert(arguments.end(), {"--slot", std::to_string(c.slot)});
        const tooltest::ToolRun run = Tool(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const nlohmann::json reply = nlohmann::json::parse(run.out);
        EXPECT_EQ(reply["slot"], slot);
        const std::vector<uint8_t> tool = tooltest::ReadBytes(TempPath("flash.bin"));
        EXPECT_EQ(tooltest::FirstDifference(tool, window), -1);
        EXPECT_NE(tooltest::FirstDifference(tool, before), -1) << "nothing was written";

        // And the file verifies against what was written.
        const tooltest::ToolRun verified = Tool({"verify", std::to_string(slot), path});
        EXPECT_EQ(verified.exitCode, 0) << verified.err;
    }
};

TEST_F(WriteLikeTheWindowTest, EveryKindAndSizeLandsAsTheWindowsWrite) {
    // The longest path the window's file dialog gives (259 characters), too long for the field.
    const std::string deep(259 - TempPath("deep//x.dol").size(), 'd');
    const std::vector<WriteCase> cases = {
        {"dol of its own header and a little", kDolFilter, "a.dol", tooltest::Pattern(300, 1), -1},
        {"dol filling one slot", kDolFilter, "b.dol", tooltest::Pattern(65280, 2), -1},
        {"dol one byte over", kDolFilter, "c.dol", tooltest::Pattern(65281, 3), -1},
        {"elf", kElfFilter, "d.elf", Elf(100000, 4), -1},
        {"gcb keeps its header", kBiosFilter, "e.gcb", Gcb(kBios, tooltest::Pattern(3000, 5)), -1},
        {"gcb of two whole slots", kBiosFilter, "g.gcb",
         Gcb(kElf, tooltest::Pattern(2 * kSlot - 256, 7)), -1},
        {"vgc with its block", kVgcFilter, "h.vgc", Vgc(40000), -1},
        {"vgc filling one slot", kVgcFilter, "i.vgc", Vgc(kSlot - 2048), -1},
        {"path longer than the name field", kDolFilter, "deep/" + deep + "/x.dol",
         tooltest::Pattern(500, 8), -1},
        {"erased runs of 125, 126 and more", kDolFilter, "runs.dol",
         WithErasedRuns({125, 126, 127, 1, 300, 125, 5000, 126}, 9), -1},
        {"erased runs across chunk ends", kDolFilter, "chunks.dol",
         WithErasedRuns({32768 - 256 - 80, 200, 32000, 126, 65536}, 10), -1},
        {"gcb whose header holds an erased run", kBiosFilter, "erased-head.gcb",
         ErasedName(Gcb(kBios, WithErasedRuns({130, 125}, 12))), -1},
        {"dol at a chosen slot", kDolFilter, "j.dol", tooltest::Pattern(65281, 13), 29},
        {"gcb at a chosen even slot", kBiosFilter, "k.gcb", Gcb(kBios, tooltest::Pattern(9, 14)),
         30},
    };
    const std::vector<uint8_t> erased(kFlash, 0xFF);
    for (const WriteCase& c : cases) Compare(c, erased);
}

// On a used flash the first feasible start follows the window's placement (even slots for .gcb
// and VGC). A slot free by its header but with old bytes behind it holds exactly the image
// afterwards: kelmtool erases the slots it writes, so its flash is the window's write onto those
// slots erased, and it verifies.
TEST_F(WriteLikeTheWindowTest, PlacementAndOldBytesInFreeSlotsAsTheWindow) {
    std::vector<uint8_t> before(kFlash, 0xFF);
    const auto lay = [&](size_t address, const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), before.begin() + static_cast<long>(address));
    };
    lay(0, tooltest::Header(kBios, "bios", kSlot));
    lay(3 * kSlot, tooltest::Header(kElf, "app", kSlot));
    // Slot 1 free by its header, with old bytes behind it (also where 0xFF runs are skipped).
    lay(1 * kSlot + 4000, tooltest::Pattern(3000, 20));
    lay(1 * kSlot + 40000, std::vector<uint8_t>(100, 0x0F));
    std::vector<uint8_t> slotOneErased = before;
    std::fill(slotOneErased.begin() + kSlot, slotOneErased.begin() + 2 * kSlot, 0xFF);
    Compare({"dol onto the old bytes", kDolFilter, "a.dol", WithErasedRuns({3000, 36000}, 21), -1},
            before, &slotOneErased);
    const std::vector<WriteCase> cases = {
        {"gcb skips the odd start", kBiosFilter, "b.gcb", Gcb(kBios, tooltest::Pattern(500, 22)),
         -1},
        {"vgc of two slots", kVgcFilter, "c.vgc", Vgc(kSlot), -1},
    };
    for (const WriteCase& c : cases) Compare(c, before);
}

// A .gcb of just its header: the window sends no chunk and the slot stays free; kelmtool refuses
// it rather than report as written what it would not write, and the flash stays as it is.
TEST_F(WriteLikeTheWindowTest, GcbOfOnlyItsHeaderLeavesTheSlotFree) {
    const std::string path = TempPath("head-only.gcb");
    WriteFileBytes(path, Gcb(kBios, {}));
    const std::vector<uint8_t> erased(kFlash, 0xFF);
    int slot = 4;
    EXPECT_EQ(tooltest::FirstDifference(WindowWrite(erased, path, kBiosFilter, slot), erased), -1);
    for (const std::vector<std::string>& write :
         {std::vector<std::string>{"write", path}, {"write", path, "--slot", "4", "--verify"}}) {
        tooltest::WriteBytes(TempPath("flash.bin"), erased);
        const tooltest::ToolRun run = Tool(write);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("nothing to write"), std::string::npos) << run.err;
        EXPECT_EQ(tooltest::FirstDifference(tooltest::ReadBytes(TempPath("flash.bin")), erased),
                  -1);
    }
}

// The name field holds the file's absolute path, however it was given, and of a path longer than
// the field its end, behind "...".
TEST_F(WriteLikeTheWindowTest, NameFieldHoldsTheAbsolutePath) {
    const std::string deep = "deep/" + std::string(200, 'd') + "/" + std::string(200, 'e');
    std::filesystem::create_directories(TempPath(deep));
    WriteFileBytes(TempPath("a.dol"), tooltest::Pattern(300, 1));
    WriteFileBytes(TempPath(deep + "/b.dol"), tooltest::Pattern(300, 2));
    const std::string longPath = TempPath(deep + "/b.dol");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"deep/../a.dol", TempPath("a.dol")},
        {"./" + deep + "/b.dol", "..." + longPath.substr(longPath.size() - 240)},
    };
    for (const auto& [given, name] : cases) {
        tooltest::WriteBytes(TempPath("flash.bin"), std::vector<uint8_t>(kFlash, 0xFF));
        const tooltest::ToolRun run = Tool({"write", given});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::vector<uint8_t> flash = tooltest::ReadBytes(TempPath("flash.bin"));
        std::string field(flash.begin() + 4, flash.begin() + 248);
        EXPECT_EQ(field, name + std::string(244 - name.size(), '\0')) << given;
    }
}

}  // namespace
