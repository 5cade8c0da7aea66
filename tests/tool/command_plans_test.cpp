// Several images in one write, dry runs, and info of a file: each placed or described exactly as
// the one-at-a-time commands would have done it, and nothing changed that should not be.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

// An application in slots 2-3 (slots 0-1 and 4-31 free), and images to write: a one-slot DOL, a
// two-slot ELF and a .gcb, which needs an even start.
class PlanTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        Lay(2 * kSlot, Header(kElf, "app", 2 * kSlot));
        Lay(2 * kSlot + 256, Pattern(1000, 1));
        WriteBytes(Path("a.dol"), Pattern(1000, 2));
        std::vector<uint8_t> elf = Pattern(70000, 3);
        elf[0] = 0x7f;
        elf[1] = 'E';
        elf[2] = 'L';
        elf[3] = 'F';
        WriteBytes(Path("b.elf"), elf);
        std::vector<uint8_t> gcb = Header(kBios, "bios", kSlot);
        const std::vector<uint8_t> body = Pattern(3000, 4);
        gcb.insert(gcb.end(), body.begin(), body.end());
        WriteBytes(Path("c.gcb"), gcb);
    }
};

// One write of three images leaves the flash as three writes one after another, each verified.
TEST_F(PlanTest, SeveralImagesLandAsOneWriteAfterAnother) {
    const std::vector<uint8_t> start = Flash();
    for (const char* file : {"a.dol", "b.elf", "c.gcb"})
        ASSERT_EQ(Sim({"write", file}).exitCode, 0);
    const std::vector<uint8_t> oneByOne = Flash();
    SetFlash(start);
    const ToolRun run = Sim({"--json", "write", "a.dol", "b.elf", "c.gcb"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(FirstDifference(Flash(), oneByOne), -1);
    const nlohmann::json images = nlohmann::json::parse(run.out)["images"];
    ASSERT_EQ(images.size(), 3u);
    // a.dol in slot 0; b.elf in 4-5 (slot 1 alone is too small); c.gcb at the next even slot.
    const int slots[] = {0, 4, 6};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(images[i]["slot"], slots[i]) << i;
        EXPECT_EQ(images[i]["verified"], true) << i;
    }
    EXPECT_FALSE(nlohmann::json::parse(run.out).contains("slot")) << "one image's fields";
}

// A dry run reads the board and says what the real run would do, with the same exit code and
// the reports it would exchange; the flash file is never written.
TEST_F(PlanTest, DryRunsSayWhatWouldBeDoneAndChangeNothing) {
    const std::vector<uint8_t> flash = Flash();
    WriteBytes(Path("dump.bin"), Pattern(kFlash, 5));
    const ToolRun write = Sim({"--json", "write", "b.elf", "c.gcb", "--dry-run"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    const nlohmann::json planned = nlohmann::json::parse(write.out);
    EXPECT_EQ(planned["dry_run"], true);
    EXPECT_EQ(planned["images"][0]["slot"], 0);
    EXPECT_EQ(planned["images"][1]["slot"], 4);
    const ToolRun unverified = Sim({"--json", "write", "b.elf", "--dry-run", "--no-verify"});
    // The real write's reports, less the catalogue read that the dry run made on the board too.
    const size_t scan = ParseTrace(Sim({"--trace", "info"}).err).size();
    const ToolRun traced = Sim({"--trace", "--json", "write", "b.elf", "--no-verify"});
    ASSERT_EQ(traced.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(unverified.out)["reports"],
              ParseTrace(traced.err).size() - scan);
    SetFlash(flash);

    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        const char* says;
    } runs[] = {
        {{"erase", "3", "--dry-run"}, 0, "would erase the Appl. image in slots 2-3: "},
        {{"restore", "dump.bin", "--dry-run"},
         0,
         "would erase all 32 slots (the board holds 1 image)"},
        {{"erase", "9", "--dry-run"}, 2, ""},
        {{"write", "c.gcb", "--slot", "1", "--dry-run"}, 2, ""},
        {{"restore", "a.dol", "--dry-run"}, 2, ""},
    };
    for (const auto& entry : runs) {
        SCOPED_TRACE(entry.arguments[0] + " " + entry.arguments[1]);
        const ToolRun run = Sim(entry.arguments);
        EXPECT_EQ(run.exitCode, entry.exitCode) << run.err;
        EXPECT_EQ(run.out.rfind(entry.says, 0), 0u) << run.out;
        EXPECT_EQ(Flash(), flash);
    }
}

// info FILE needs no board: an image as a write would put it, a dump as a board holding it.
TEST_F(PlanTest, InfoOfAFileNeedsNoBoard) {
    const ToolRun image = RunTool({"--json", "info", "b.elf"}, folder);
    ASSERT_EQ(image.exitCode, 0) << image.err;
    const nlohmann::json described = nlohmann::json::parse(image.out);
    EXPECT_EQ(described["kind"], "elf");
    EXPECT_EQ(described["slots"], 2);
    EXPECT_EQ(described["even_start"], false);
    EXPECT_EQ(described["magic_hex"], "454c4600");
    EXPECT_EQ(described["size"], 2 * kSlot);
    EXPECT_EQ(described["name"], Path("b.elf"));
    const ToolRun gcb = RunTool({"info", "c.gcb"}, folder);
    EXPECT_NE(gcb.out.find("needs 1 slot, starting at an even slot"), std::string::npos) << gcb.out;
    EXPECT_NE(RunTool({"info", "a.dol"}, folder).out.find("\nDOL: entry 0x"), std::string::npos);

    // The flash file as a dump: the same document as the board's, less the schema's neighbours.
    const std::vector<uint8_t> flash = Flash();
    const ToolRun dump = RunTool({"--json", "info", "flash.bin"}, folder);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    nlohmann::json fromFile = nlohmann::json::parse(dump.out);
    EXPECT_EQ(fromFile["file"], "flash.bin");
    fromFile.erase("file");
    EXPECT_EQ(fromFile, nlohmann::json::parse(Sim({"--json", "info"}).out));
    EXPECT_EQ(Flash(), flash);
    EXPECT_EQ(RunTool({"info", "missing.bin"}, folder).exitCode, 2);
    EXPECT_EQ(FolderNames(folder),
              (std::vector<std::string>{"a.dol", "b.elf", "c.gcb", "flash.bin"}));
}

// The text of info: owners as slot numbers or nothing, kinds by name, and the free slots summed
// up.
TEST_F(PlanTest, InfoTextEndsWithTheFreeSlots) {
    const ToolRun run = Sim({"info"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(lines[1], "   0  free   free");
    EXPECT_EQ(lines[4], "   3  ...    used           2");
    EXPECT_EQ(run.out.find("-1"), std::string::npos);
    EXPECT_NE(run.out.find("  slot  2   2 slots  Appl.  ELF   size 131072  app"), std::string::npos)
        << run.out;
    EXPECT_EQ(lines.back(), "30 of 32 slots free; largest free run: 28 slots from slot 4");
    SetFlash(std::vector<uint8_t>(kFlash, 0x00));
    EXPECT_EQ(Lines(Sim({"info"}).out).back(), "0 of 32 slots free");
}

}  // namespace
}  // namespace tooltest
