// Every refusal of kelmtool's exit-code list: the documented code, one message on standard error,
// nothing on standard output (or one JSON document with "error" under --json), and the flash
// file byte for byte as it was.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};

struct Refusal {
    const char* name;
    std::vector<std::string> arguments;  // after --sim flash.bin, unless sim is false
    int exitCode;
    std::string message;  // the start of the one line on standard error
    bool sim = true;
};

// A BIOS in slot 0, an application in slots 2-4, slots 1 and 5-31 free; files to refuse.
class RefusalTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        Lay(0, Header(kBios, "bios", kSlot));
        Lay(2 * kSlot, Header(kElf, "app", 3 * kSlot));
        WriteBytes(Path("app.dol"), Pattern(1000, 1));
        WriteBytes(Path("two.dol"), Pattern(70000, 2));
        WriteBytes(Path("app.bin"), Pattern(1000, 3));
        WriteBytes(Path("big.dol"), Pattern(27 * kSlot + 1 - 256, 4));   // 28 slots
        WriteBytes(Path("huge.dol"), Pattern(32 * kSlot + 1 - 256, 5));  // 33 slots
        WriteBytes(Path("long.dol"), Pattern(26 * kSlot - 256, 13));     // 26 slots
        WriteBytes(Path("small.gcb"), Pattern(255, 6));
        WriteBytes(Path("empty.gcb"), {});
        std::vector<uint8_t> gcb = Header(kBios, "saved", kSlot);
        gcb.resize(1000, 0x20);
        WriteBytes(Path("app.gcb"), gcb);
        std::vector<uint8_t> encrypted = Pattern(4000, 8);
        encrypted[4] = 0x02;
        WriteBytes(Path("secret.vgc"), encrypted);
        WriteBytes(Path("short.bin"), Pattern(kFlash - 1, 9));
        WriteBytes(Path("dump.bin"), Pattern(kFlash, 10));
        WriteBytes(Path("existing.gcb"), {1, 2, 3});
        std::filesystem::create_directory(Path("folder.dol"));
        // Images whose content plainly is not their kind.
        WriteBytes(Path("empty.elf"), {});
        WriteBytes(Path("short.dol"), Pattern(255, 11));
        WriteBytes(Path("plain.elf"), Pattern(1000, 12));
        std::vector<uint8_t> unknown = Header("ABCD", "saved", kSlot);
        unknown.resize(1000, 0x20);
        WriteBytes(Path("unknown.gcb"), unknown);
        // No regular files: a FIFO would hang an open, /proc measures 0 bytes.
        ASSERT_EQ(mkfifo(Path("pipe.dol").c_str(), 0600), 0);
        ASSERT_EQ(mkfifo(Path("pipe.bin").c_str(), 0600), 0);
        std::filesystem::create_symlink("/proc/self/status", Path("status.dol"));
    }
};

TEST_F(RefusalTest, EveryRefusalLeavesTheFlashAsItWas) {
    const std::vector<Refusal> refusals = {
        {"missing file", {"write", "missing.dol"}, 2, "kelmtool write: cannot open missing.dol"},
        {"folder for a file", {"write", "folder.dol"}, 2, "kelmtool write: folder.dol is a folder"},
        {"unknown kind", {"write", "app.bin"}, 2, "kelmtool write: cannot tell the kind of"},
        {"no room", {"write", "big.dol"}, 2, "kelmtool write: not enough free space for big.dol"},
        {"more than the flash",
         {"write", "huge.dol"},
         2,
         "kelmtool write: huge.dol needs more than the 32 slots"},
        // Several images: all are placed before any is written.
        {"two images that fit only one at a time",
         {"write", "long.dol", "two.dol"},
         2,
         "kelmtool write: not enough free space for two.dol (it needs 2 slots) once the image "
         "before it is placed"},
        {"a later image that cannot be read",
         {"write", "app.dol", "missing.dol"},
         2,
         "kelmtool write: cannot open missing.dol"},
        {"dry run of a write with no room",
         {"write", "big.dol", "--dry-run"},
         2,
         "kelmtool write: not enough free space for big.dol"},
        {"dry run of an erase of a free slot",
         {"erase", "9", "--dry-run"},
         2,
         "kelmtool erase: slot 9 is free"},
        {"dry run of a restore of the wrong size",
         {"restore", "short.bin", "--dry-run"},
         2,
         "kelmtool restore: short.bin is 2097151 bytes long"},
        {"info of a missing file",
         {"info", "missing.dol"},
         2,
         "kelmtool info: cannot open missing.dol"},
        {"info of a FIFO", {"info", "pipe.dol"}, 2, "kelmtool info: pipe.dol is no regular file"},
        {"info of a DOL shorter than its header",
         {"info", "short.dol"},
         2,
         "kelmtool info: short.dol is too small for a DOL file"},
        {"used slot",
         {"write", "app.dol", "--slot", "3"},
         2,
         "kelmtool write: slot 3 cannot take app.dol"},
        {"run into a used slot",
         {"write", "two.dol", "--slot", "1"},
         2,
         "kelmtool write: slot 1 cannot take two.dol"},
        {"odd slot for a .gcb",
         {"write", "app.gcb", "--slot", "5"},
         2,
         "kelmtool write: slot 5 cannot take app.gcb"},
        {"odd slot for a VGC",
         {"write", "app.bin", "--kind", "vgc", "--slot", "7"},
         2,
         "kelmtool write: slot 7 cannot take app.bin"},
        {"past the last slot",
         {"write", "two.dol", "--slot", "31"},
         2,
         "kelmtool write: slot 31 cannot take two.dol"},
        {"no such slot",
         {"write", "app.dol", "--slot", "32"},
         2,
         "kelmtool write: slot 32 does not exist"},
        {"encrypted VGC",
         {"write", "secret.vgc"},
         2,
         "kelmtool write: secret.vgc is an encrypted VGC image"},
        {".gcb of 255 bytes",
         {"write", "small.gcb"},
         2,
         "kelmtool write: small.gcb is too small for a .gcb image"},
        {"empty .gcb", {"write", "empty.gcb"}, 2, "kelmtool write: empty.gcb is too small"},
        {"empty ELF", {"write", "empty.elf"}, 2, "kelmtool write: empty.elf is empty"},
        {"DOL shorter than its header",
         {"write", "short.dol"},
         2,
         "kelmtool write: short.dol is too small for a DOL file (255 bytes"},
        {"ELF without its magic",
         {"write", "plain.elf"},
         2,
         "kelmtool write: plain.elf is no ELF file"},
        {".gcb of no known magic",
         {"write", "unknown.gcb"},
         2,
         "kelmtool write: unknown.gcb starts with the magic 41 42 43 44 (\"ABCD\")"},
        {"verify against a .gcb of no known magic",
         {"verify", "0", "unknown.gcb"},
         2,
         "kelmtool verify: unknown.gcb starts with the magic"},
        {"FIFO as image", {"write", "pipe.dol"}, 2, "kelmtool write: pipe.dol is no regular file"},
        {"FIFO to verify against",
         {"verify", "2", "pipe.dol"},
         2,
         "kelmtool verify: pipe.dol is no regular file"},
        {"FIFO as dump",
         {"restore", "pipe.bin", "--yes"},
         2,
         "kelmtool restore: pipe.bin is no regular file"},
        {"file of /proc", {"write", "status.dol"}, 2, "kelmtool write: status.dol is empty"},
        // Numbers are decimal and whole: "010" is slot 10 (free here), never slot 8.
        {"slot with a leading zero",
         {"erase", "010", "--yes"},
         2,
         "kelmtool erase: slot 10 is free"},
        {"slot 08", {"erase", "08", "--yes"}, 2, "kelmtool erase: slot 8 is free"},
        {"hex slot", {"erase", "0x4", "--yes"}, 2, "kelmtool erase: slot 0x4 does not exist"},
        {"slot in exponent form",
         {"backup", "1e1", "-o", "b.gcb"},
         2,
         "kelmtool backup: slot 1e1 does not exist"},
        {"empty slot", {"erase", "", "--yes"}, 2, "kelmtool erase: slot \"\" does not exist"},
        {"--slot 2 digits too many",
         {"write", "app.dol", "--slot", "1000000000000"},
         2,
         "kelmtool write: slot 1000000000000 does not exist"},
        {"timeout not a number",
         {"--timeout", "nan", "restore", "dump.bin", "--yes"},
         2,
         "kelmtool restore: --timeout nan: give a number of seconds from 0.1 to 3600"},
        {"timeout past its range",
         {"--timeout", "1e10", "erase", "0", "--yes"},
         2,
         "kelmtool erase: --timeout 1e10: give a number of seconds from 0.1 to 3600"},
        {"timeout of no time", {"--timeout", "0", "info"}, 2, "kelmtool info: --timeout 0: give"},
        {"negative wait",
         {"--wait=-3", "info"},
         2,
         "kelmtool info: --wait -3: give a number of seconds from 0 to 86400"},
        {"wait not a number", {"--wait=nan", "info"}, 2, "kelmtool info: --wait nan: give"},
        {"monitor for ever",
         {"monitor", "--seconds", "nan"},
         2,
         "kelmtool monitor: --seconds nan: give a number of seconds from 0 to 86400"},
        {"monitor past its range",
         {"monitor", "--seconds", "1e300"},
         2,
         "kelmtool monitor: --seconds 1e300: give"},
        {"backup of a free slot",
         {"backup", "1", "-o", "b.gcb"},
         2,
         "kelmtool backup: slot 1 is free"},
        {"erase of a free slot", {"erase", "9", "--yes"}, 2, "kelmtool erase: slot 9 is free"},
        {"verify of a free slot",
         {"verify", "31", "app.dol"},
         2,
         "kelmtool verify: slot 31 is free"},
        {"backup of no slot",
         {"backup", "-1", "-o", "b.gcb"},
         2,
         "kelmtool backup: slot -1 does not exist"},
        {"dump of the wrong size",
         {"restore", "short.bin", "--yes"},
         2,
         "kelmtool restore: short.bin is 2097151 bytes long"},
        {"missing dump",
         {"restore", "missing.bin", "--yes"},
         2,
         "kelmtool restore: cannot open missing.bin"},
        {"existing backup",
         {"backup", "2", "-o", "existing.gcb"},
         2,
         "kelmtool backup: existing.gcb exists already"},
        {"existing dump",
         {"dump", "-o", "existing.gcb"},
         2,
         "kelmtool dump: existing.gcb exists already"},
        {"dump into a folder",
         {"dump", "-o", "folder.dol", "--force"},
         2,
         "kelmtool dump: folder.dol is a folder"},
        {"erase without --yes", {"erase", "2"}, 2, "kelmtool erase: standard input is no terminal"},
        {"restore of the board's own flash file",
         {"restore", "flash.bin", "--yes"},
         2,
         "kelmtool restore: flash.bin is the simulated board's own flash file"},
        {"restore without --yes",
         {"restore", "dump.bin"},
         2,
         "kelmtool restore: standard input is no terminal"},
        {"no board", {"info"}, 3, "kelmtool info: no kelm board found", false},
        {"no board to write to",
         {"write", "app.dol"},
         3,
         "kelmtool write: no kelm board found",
         false},
        {"no board within --wait",
         {"--wait", "0.3", "info"},
         3,
         "kelmtool info: no kelm board found",
         false},
        {"no board at a path",
         {"--path", "/dev/kelm-none", "erase", "2", "--yes"},
         3,
         "kelmtool erase: /dev/kelm-none is no kelm board (see kelmtool list)",
         false},
    };
    const std::vector<uint8_t> flash = Flash();
    const std::vector<std::string> files = FolderNames(folder);
    for (const Refusal& refusal : refusals) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(std::string(refusal.name) + (json ? " --json" : ""));
            std::vector<std::string> arguments = refusal.arguments;
            if (json) arguments.insert(arguments.begin(), "--json");
            const ToolRun run = refusal.sim ? Sim(arguments) : RunTool(arguments, folder);
            EXPECT_EQ(run.exitCode, refusal.exitCode);
            const std::vector<std::string> lines = Lines(run.err);
            ASSERT_EQ(lines.size(), 1u) << run.err;
            EXPECT_EQ(lines[0].rfind(refusal.message, 0), 0u) << lines[0];
            if (json) {
                const nlohmann::json reply = nlohmann::json::parse(run.out);
                EXPECT_EQ(reply,
                          nlohmann::json({{"error", lines[0].substr(lines[0].find(": ") + 2)},
                                          {"schema", 1}}));
            } else {
                EXPECT_EQ(run.out, "");
            }
            ASSERT_EQ(FirstDifference(Flash(), flash), -1);
            EXPECT_EQ(FolderNames(folder), files);
        }
    }
    EXPECT_EQ(ReadBytes(Path("existing.gcb")), (std::vector<uint8_t>{1, 2, 3}));
}

// A flash file of another size is no board's flash: refused and left as it is; a missing one is
// created erased.
TEST_F(RefusalTest, SimFlashFileOfTheWrongSizeIsLeftAlone) {
    for (size_t size : {size_t{0}, size_t{1000}, kFlash - 1, kFlash + 1}) {
        const std::vector<uint8_t> odd = Pattern(size, 10);
        SetFlash(odd);
        const ToolRun run = Sim({"info"});
        EXPECT_EQ(run.exitCode, 2) << size;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(Flash(), odd);
    }
    std::filesystem::remove(flashPath);
    const ToolRun created = Sim({"--json", "info"});
    EXPECT_EQ(created.exitCode, 0) << created.err;
    EXPECT_EQ(Flash(), std::vector<uint8_t>(kFlash, 0xFF));
}

// A command line CLI11 cannot take is a usage error (2), also under --json, whose standard output
// still holds one JSON document.
TEST_F(RefusalTest, BadCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"format"},
        {"write"},
        {"write", "app.dol", "--kind", "exe"},
        {"write", "app.dol", "--slot", "x"},
        {"--timeout", "0", "info"},
        {"backup", "2"},
    };
    const std::vector<uint8_t> flash = Flash();
    for (const std::vector<std::string>& arguments : lines) {
        SCOPED_TRACE(arguments.empty() ? std::string("(none)") : arguments[0]);
        EXPECT_EQ(Sim(arguments).exitCode, 2);
        std::vector<std::string> json = arguments;
        json.insert(json.begin(), "--json");
        const ToolRun run = Sim(json);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(nlohmann::json::parse(run.out).contains("error")) << run.out;
        EXPECT_EQ(Flash(), flash);
    }
}

}  // namespace
}  // namespace tooltest
