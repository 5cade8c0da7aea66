// kelmtool backup, verify, erase, dump and restore against a --sim flash file: each reads or
// changes exactly the run it is given, from any slot of it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<long>(from),
                                bytes.begin() + static_cast<long>(from + count));
}

// A BIOS in slot 0, a three-slot application in slots 2-4, a one-slot one in slot 7.
class FlashCommandsTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        std::vector<uint8_t> flash(kFlash, 0xFF);
        const auto lay = [&](size_t address, const std::vector<uint8_t>& bytes) {
            std::copy(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(address));
        };
        lay(0, Header(kBios, "bios", 40000));
        lay(256, Pattern(40000, 1));
        lay(2 * kSlot, Header(kElf, "C:\\apps\\three.elf", 3 * kSlot));
        lay(2 * kSlot + 256, Pattern(3 * kSlot - 256, 2));
        lay(7 * kSlot, Header(kElf, "one", kSlot));
        lay(7 * kSlot + 256, Pattern(1000, 3));
        SetFlash(flash);
    }
};

TEST_F(FlashCommandsTest, BackupOfAnySlotIsTheWholeRun) {
    const std::vector<uint8_t> flash = Flash();
    for (int slot : {2, 3, 4}) {
        const std::string name = "backup" + std::to_string(slot) + ".gcb";
        const ToolRun run = Sim({"--json", "backup", std::to_string(slot), "-o", name});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const nlohmann::json reply = nlohmann::json::parse(run.out);
        EXPECT_EQ(reply["slot"], 2);
        EXPECT_EQ(reply["slots"], 3);
        EXPECT_EQ(ReadBytes(Path(name)), Slice(flash, 2 * kSlot, 3 * kSlot)) << slot;
    }
    const ToolRun single = Sim({"backup", "0", "-o", "bios.gcb"});
    ASSERT_EQ(single.exitCode, 0) << single.err;
    EXPECT_EQ(ReadBytes(Path("bios.gcb")), Slice(flash, 0, kSlot));
    // Read only: the flash stays, and only the backups are left beside it.
    EXPECT_EQ(Flash(), flash);
    EXPECT_EQ(FolderNames(folder),
              (std::vector<std::string>{"backup2.gcb", "backup3.gcb", "backup4.gcb", "bios.gcb",
                                        "flash.bin"}));

    EXPECT_EQ(single.err, "");

    // --force replaces; a backup written back as a .gcb gives the same run at its new place. A
    // .gcb starts at an even slot, so the copy of slot 7 cannot go back there, which is said.
    const ToolRun odd = Sim({"backup", "7", "-o", "bios.gcb", "--force"});
    ASSERT_EQ(odd.exitCode, 0) << odd.err;
    EXPECT_EQ(odd.err.rfind("kelmtool backup: warning: the image starts at odd slot 7", 0), 0u)
        << odd.err;
    EXPECT_EQ(Sim({"write", "bios.gcb", "--slot", "7"}).exitCode, 2);
    EXPECT_EQ(ReadBytes(Path("bios.gcb")), Slice(flash, 7 * kSlot, kSlot));
    const ToolRun back = Sim({"write", "backup3.gcb", "--slot", "10"});
    ASSERT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(Slice(Flash(), 10 * kSlot, 3 * kSlot), Slice(flash, 2 * kSlot, 3 * kSlot));
}

TEST_F(FlashCommandsTest, VerifyPassesFailsAndForgivesAMovedFile) {
    WriteBytes(Path("app.dol"), Pattern(70000, 9));
    const ToolRun write = Sim({"--json", "write", "app.dol", "--verify"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    const nlohmann::json written = nlohmann::json::parse(write.out);
    EXPECT_EQ(written["slot"], 5);  // the first two free slots in a row
    EXPECT_EQ(written["slots"], 2);
    EXPECT_EQ(written["kind"], "dol");
    EXPECT_EQ(written["bytes"], 70256);
    EXPECT_EQ(written["verified"], true);

    for (const char* slot : {"5", "6"}) {
        const ToolRun run = Sim({"verify", slot, "app.dol"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "slots 5-6 match app.dol\n");
    }
    // Moved: only the name field differs, which is said but is no mismatch.
    std::filesystem::create_directory(Path("moved"));
    std::filesystem::rename(Path("app.dol"), Path("moved/app.dol"));
    const ToolRun moved = Sim({"--json", "verify", "6", "moved/app.dol"});
    ASSERT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(nlohmann::json::parse(moved.out)["name_differs"], true);
    const ToolRun movedText = Sim({"verify", "5", "moved/app.dol"});
    EXPECT_EQ(movedText.out, "slots 5-6 match moved/app.dol\n");
    EXPECT_EQ(movedText.err.rfind("kelmtool verify: note: the name field differs", 0), 0u)
        << movedText.err;

    // One byte changed in the second slot: in the middle of a 4 KB piece of the comparison, at
    // a piece's last byte, and at the run's last byte (0xFF padding there). Then a different
    // file; a .gcb checked against its run.
    for (const size_t at : {6 * kSlot + 0x1234, 6 * kSlot + 0x0fff, 7 * kSlot - 1}) {
        std::vector<uint8_t> flash = Flash();
        flash[at] ^= 0x01;
        SetFlash(flash);
        const ToolRun changed = Sim({"--json", "verify", "5", "moved/app.dol"});
        EXPECT_EQ(changed.exitCode, 4);
        char expected[160];
        std::snprintf(expected, sizeof expected,
                      "kelmtool verify failed: first difference at slot 6 offset 0x%04zx: "
                      "flash holds 0x%02x, expected 0x%02x\n",
                      at - 6 * kSlot, flash[at], flash[at] ^ 0x01);
        EXPECT_EQ(changed.err, expected);
        const nlohmann::json reply = nlohmann::json::parse(changed.out);
        const std::string said = expected;
        EXPECT_EQ(reply["error"], said.substr(said.find("verify failed"),
                                              said.size() - 1 - said.find("verify failed")));
        EXPECT_EQ(reply["slot"], 6);
        EXPECT_EQ(reply["offset"], at - 6 * kSlot);
        flash[at] ^= 0x01;
        SetFlash(flash);
    }
    std::vector<uint8_t> flash = Flash();
    // The image's first slot at the last slot of the flash: its second slot is nowhere.
    std::copy(flash.begin() + 5 * kSlot, flash.begin() + 6 * kSlot, flash.begin() + 31 * kSlot);
    SetFlash(flash);
    const ToolRun cut = Sim({"verify", "31", "moved/app.dol"});
    EXPECT_EQ(cut.exitCode, 4);
    EXPECT_EQ(cut.err,
              "kelmtool verify failed: moved/app.dol needs 2 slots, but the image at slot 31 has "
              "1\n");
    // A one-slot image against a two-slot run: the counts are what differ, said as such.
    WriteBytes(Path("short.dol"), Pattern(1000, 11));
    const ToolRun shorter = Sim({"--json", "verify", "5", "short.dol"});
    EXPECT_EQ(shorter.exitCode, 4);
    EXPECT_EQ(shorter.err,
              "kelmtool verify failed: short.dol needs 1 slot, but the image at slot 5 has 2\n");
    EXPECT_EQ(nlohmann::json::parse(shorter.out)["slot"], 5);
    WriteBytes(Path("other.dol"), Pattern(70000, 10));
    EXPECT_EQ(Sim({"verify", "5", "other.dol"}).exitCode, 4);
    ASSERT_EQ(Sim({"backup", "3", "-o", "three.gcb"}).exitCode, 0);
    EXPECT_EQ(Sim({"verify", "4", "three.gcb"}).exitCode, 0);
    EXPECT_EQ(Sim({"verify", "7", "three.gcb"}).exitCode, 4);
}

TEST_F(FlashCommandsTest, EraseTakesTheWholeRunFromAnySlot) {
    for (int slot : {4, 0, 7}) {
        const std::vector<uint8_t> before = Flash();
        const ToolRun run = Sim({"--json", "erase", std::to_string(slot), "--yes"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const nlohmann::json reply = nlohmann::json::parse(run.out);
        const int first = reply["slot"];
        const int count = reply["slots"];
        std::vector<int> erased;
        for (int s = first; s < first + count; ++s) erased.push_back(s);
        EXPECT_EQ(reply["erased"], erased);
        std::vector<uint8_t> expected = before;
        std::fill(expected.begin() + first * static_cast<long>(kSlot),
                  expected.begin() + (first + count) * static_cast<long>(kSlot), 0xFF);
        EXPECT_EQ(FirstDifference(Flash(), expected), -1) << slot;
    }
    EXPECT_EQ(Flash(), std::vector<uint8_t>(kFlash, 0xFF));
}

TEST_F(FlashCommandsTest, DumpAndRestoreRoundTrip) {
    const std::vector<uint8_t> original = Flash();
    const ToolRun dump = Sim({"--json", "dump", "-o", "all.bin"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(nlohmann::json::parse(dump.out)["bytes"], kFlash);
    EXPECT_EQ(ReadBytes(Path("all.bin")), original);

    // Over a flash that holds other things: every slot erased first, then the dump.
    std::vector<uint8_t> other(kFlash, 0x00);
    SetFlash(other);
    const ToolRun restore = Sim({"restore", "all.bin", "--yes"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(FirstDifference(Flash(), original), -1);

    SetFlash(Pattern(kFlash, 4));
    const ToolRun verified = Sim({"--json", "restore", "all.bin", "--yes", "--verify"});
    ASSERT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_EQ(nlohmann::json::parse(verified.out)["verified"], true);
    EXPECT_EQ(FirstDifference(Flash(), original), -1);
}

}  // namespace
}  // namespace tooltest
