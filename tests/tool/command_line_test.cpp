// kelmtool's command line as a user meets it: mistakes said in one form that names the help to
// read, global options after the command, help and its short forms, and completion scripts that
// offer what the parser takes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool/command_line.h"
#include "tool/tool_process.h"

namespace tooltest {
namespace {

class CommandLineTest : public ToolTest {};

TEST_F(CommandLineTest, MistakesNameTheHelpToRead) {
    const struct {
        std::vector<std::string> arguments;
        std::string line;
    } mistakes[] = {
        {{"wirte", "a.dol"},
         "kelmtool: unknown command 'wirte' (did you mean 'write'?); see kelmtool --help"},
        {{"inf"}, "kelmtool: unknown command 'inf' (did you mean 'info'?); see kelmtool --help"},
        {{"frobnicate"}, "kelmtool: unknown command 'frobnicate'; see kelmtool --help"},
        {{}, "kelmtool: no command given; see kelmtool --help"},
        {{"write"}, "kelmtool: FILE is required; see kelmtool write --help"},
        {{"erase", "2", "3"}, "kelmtool: unexpected argument '3'; see kelmtool erase --help"},
        {{"info", "--frob"}, "kelmtool: unknown option '--frob'; see kelmtool info --help"},
        {{"help", "dupm"},
         "kelmtool: unknown command 'dupm' (did you mean 'dump'?); see kelmtool --help"},
        {{"completion", "csh"},
         "kelmtool: SHELL: csh not in {bash,zsh,fish}; see kelmtool completion --help"},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.line);
        const ToolRun run = Sim(mistake.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, mistake.line + "\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Flash(), std::vector<uint8_t>(kFlash, 0xFF));
}

TEST(ClosestName, OffersOnlyWhatIsClose) {
    const std::vector<std::string> names = {"list", "info", "write", "verify", "restore"};
    EXPECT_EQ(ClosestName("wirte", names), "write");   // a swap is one edit
    EXPECT_EQ(ClosestName("verfy", names), "verify");  // a letter left out
    EXPECT_EQ(ClosestName("rest", names), "restore");  // a beginning
    EXPECT_EQ(ClosestName("lsit", names), "list");
    EXPECT_EQ(ClosestName("xyz", names), "");
    EXPECT_EQ(ClosestName("", names), "");
}

// Global options after the command mean what they mean before it; -q and -V are --quiet and
// --version; help COMMAND is COMMAND --help, examples included.
TEST_F(CommandLineTest, GlobalOptionsAnywhereAndShortForms) {
    const ToolRun before = RunTool({"--json", "--sim", flashPath, "info"}, folder);
    const ToolRun after = RunTool({"info", "--sim", flashPath, "--json"}, folder);
    ASSERT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, before.out);
    EXPECT_EQ(nlohmann::json::parse(after.out)["schema"], 1);

    const ToolRun version = RunTool({"-V"}, folder);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("kelmtool ", 0), 0u);
    EXPECT_EQ(Sim({"-q", "info"}).exitCode, 0);

    const ToolRun help = RunTool({"help", "write"}, folder);
    const ToolRun flag = RunTool({"write", "-h"}, folder);
    ASSERT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, flag.out);
    EXPECT_NE(help.out.find("Usage: kelmtool write"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Examples:\n  kelmtool write game.dol"), std::string::npos);
    EXPECT_EQ(help.out.find("--verify "), std::string::npos) << "the hidden option is shown";
    for (const char* command :
         {"list", "info", "write", "backup", "erase", "verify", "dump", "restore", "monitor"}) {
        const ToolRun shown = RunTool({"help", command}, folder);
        const std::string examples = shown.out.substr(shown.out.find("Examples:"));
        EXPECT_GE(std::count(examples.begin(), examples.end(), '\n'), 3) << command;
    }
}

// --wait on a terminal says it waits; giving up, it says how long it waited (terminal or not).
TEST_F(CommandLineTest, WaitSaysItWaitsAndHowLong) {
    const std::string line = std::string(KELMTOOL_PATH) + " --wait 0.3 info";
    // script gives kelmtool a terminal; its status is kelmtool's, 3.
    const int status = std::system(
        ("cd " + folder + " && script -qec '" + line + "' /dev/null > terminal.txt 2>&1").c_str());
    ASSERT_NE(status, -1);
    const std::vector<uint8_t> shown = ReadBytes(Path("terminal.txt"));
    const std::string text(shown.begin(), shown.end());
    EXPECT_NE(text.find("kelmtool: waiting up to 0.3 s for a kelm board (Ctrl-C to stop)..."),
              std::string::npos)
        << text;
    const ToolRun piped = RunTool({"--wait", "0.3", "info"}, folder);
    EXPECT_EQ(piped.exitCode, 3);
    EXPECT_EQ(Lines(piped.err).size(), 1u) << piped.err;
    EXPECT_NE(piped.err.find("(gave up after waiting 0.3 s)\n"), std::string::npos) << piped.err;
}

// The bash script, run by bash, completes commands, options and --kind's values as the parser
// takes them; zsh's and fish's come from the same table.
TEST_F(CommandLineTest, CompletionScriptsOfferWhatTheParserTakes) {
    const ToolRun bash = RunTool({"completion", "bash"}, folder);
    ASSERT_EQ(bash.exitCode, 0) << bash.err;
    WriteBytes(Path("kelmtool.bash"), std::vector<uint8_t>(bash.out.begin(), bash.out.end()));
    const struct {
        const char* words;  // the last one is being completed
        const char* offered;
    } cases[] = {
        {"kelmtool wr", "write"},
        {"kelmtool --sim f.bin res", "restore"},
        {"kelmtool write a.dol --dr", "--dry-run"},
        {"kelmtool restore d.bin --no", "--no-verify"},
        {"kelmtool verify 2 a.dol --kind e", "elf"},
        {"kelmtool help ba", "backup"},
        {"kelmtool completion z", "zsh"},
        {"kelmtool info --js", "--json"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.words);
        const std::string script = "source kelmtool.bash; COMP_WORDS=(" + std::string(entry.words) +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelmtool; echo "
                                   "\"${COMPREPLY[*]}\" > offered.txt";
        ASSERT_EQ(std::system(("cd " + folder + " && bash -c '" + script + "'").c_str()), 0);
        const std::vector<uint8_t> offered = ReadBytes(Path("offered.txt"));
        EXPECT_EQ(std::string(offered.begin(), offered.end()), std::string(entry.offered) + "\n");
    }
    // zsh reads its script without a fault; fish, given its script, completes as bash does.
    const ToolRun zsh = RunTool({"completion", "zsh"}, folder);
    ASSERT_EQ(zsh.exitCode, 0);
    WriteBytes(Path("_kelmtool"), std::vector<uint8_t>(zsh.out.begin(), zsh.out.end()));
    EXPECT_EQ(std::system(("zsh -n " + Path("_kelmtool")).c_str()), 0);
    const ToolRun fish = RunTool({"completion", "fish"}, folder);
    ASSERT_EQ(fish.exitCode, 0);
    WriteBytes(Path("kelmtool.fish"), std::vector<uint8_t>(fish.out.begin(), fish.out.end()));
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string("fish: ") + entry.words);
        const std::string command = "cd " + folder +
                                    " && fish -c 'source kelmtool.fish; complete -C \"" +
                                    entry.words + "\"' | cut -f1 > offered.txt";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::vector<uint8_t> offered = ReadBytes(Path("offered.txt"));
        EXPECT_EQ(std::string(offered.begin(), offered.end()), std::string(entry.offered) + "\n");
    }
}

}  // namespace
}  // namespace tooltest
