// The progress bar: drawn at most ten times a second, ended with its own line, and silent when
// it is off (standard error no terminal, or --quiet).
#include "progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// What a Progress wrote into a scratch stream.
std::string Written(std::FILE* out) {
    std::string text;
    std::rewind(out);
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
    return text;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(ProgressTest, DrawsAtMostTenTimesASecondAndEndsItsLine) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Progress progress(out, true);
    progress.Start("writing", 1000);
    // A burst of updates well inside 100 ms: only the first is drawn.
    for (int i = 0; i < 10; ++i) progress.Advance(100);
    progress.Finish();
    const std::string text = Written(out);
    EXPECT_EQ(Count(text, "\rwriting ["), 2u) << text;  // the first update and the last
    EXPECT_NE(text.find("100/1000 bytes"), std::string::npos) << text;
    EXPECT_NE(text.find("1000/1000 bytes"), std::string::npos) << text;
    const size_t bar = text.rfind('[');
    EXPECT_EQ(text.substr(bar + 1, text.find(']', bar) - bar - 1).find('.'), std::string::npos)
        << "the last bar is full: " << text;
    EXPECT_NE(text.find("took"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::fclose(out), 0);
}

TEST(ProgressTest, SilentWhenOffOrWithNothingToDo) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Progress off(out, false);
    off.Start("reading", 5000);
    off.Advance(5000);
    off.Finish();
    Progress empty(out, true);
    empty.Start("writing", 0);
    empty.Finish();
    EXPECT_EQ(Written(out), "");
    EXPECT_EQ(std::fclose(out), 0);
}

// Every line fits its terminal with a column to spare, so that the carriage return redraws it in
// place: the bar narrows, then goes, then the line is cut. 2 MB, the longest figures there are.
TEST(ProgressTest, LineFitsTheTerminal) {
    const struct {
        int columns;
        size_t bar;  // its width, 0 for none
    } cases[] = {{200, 30}, {80, 22}, {72, 14}, {60, 0}, {40, 0}, {1, 0}};
    for (const auto& c : cases) {
        const std::string line = ProgressLine("restoring", 1048576, 2097152, 0.5, false, c.columns);
        EXPECT_LE(line.size(), static_cast<size_t>(std::max(c.columns - 1, 0))) << line;
        const size_t open = line.find('[');
        const size_t width = open == std::string::npos ? 0 : line.find(']') - open - 1;
        EXPECT_EQ(width, c.bar) << c.columns << ": " << line;
        if (c.columns >= 60) {
            EXPECT_NE(line.find("1048576/2097152 bytes"), std::string::npos) << line;
        }
    }
}

// The terminal that a stream's bytes leave behind: carriage return, line feed, cursor up
// (ESC [ n A) and clear to the end of the screen (ESC [ J), as the bars of several boards use.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t row = 0;
    size_t column = 0;
    for (size_t at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == '\x1b' && at + 1 < bytes.size() && bytes[at + 1] == '[') {
            const size_t end = bytes.find_first_of("AJ", at);
            const std::string count = bytes.substr(at + 2, end - at - 2);
            if (bytes[end] == 'A') {
                row -= std::min(row, static_cast<size_t>(std::stoul(count)));
            } else {
                lines[row].resize(std::min(lines[row].size(), column));
                lines.resize(row + 1);
            }
            at = end;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            column = 0;
            if (++row == lines.size()) lines.emplace_back();
        } else {
            if (lines[row].size() <= column) lines[row].resize(column + 1, ' ');
            lines[row][column++] = c;
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

// Several boards' bars: a line each, headed by the board, kept below what is printed meanwhile;
// a board done with gives its line up.
TEST(ProgressTest, SeveralBoardsKeepALineEachBelowTheResults) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ProgressRows rows(out, true);
    Progress a(rows, "sim-a ");
    Progress b(rows, "sim-b ");
    Progress c(rows, "sim-c ");
    a.Start("writing", 100);
    b.Start("erasing", 200);
    c.Start("writing", 300);
    a.Advance(40);
    b.Advance(50);
    c.Advance(60);
    rows.Above(out, "sim-x: wrote it\n");
    a.Advance(60);
    a.Finish();
    rows.Remove(b.row());
    const std::vector<std::string> screen = Screen(Written(out));
    ASSERT_EQ(screen.size(), 3u) << Written(out);
    EXPECT_EQ(screen[0], "sim-x: wrote it");
    EXPECT_EQ(screen[1].rfind("sim-a writing [", 0), 0u) << screen[1];
    EXPECT_NE(screen[1].find("100/100 bytes"), std::string::npos) << screen[1];
    EXPECT_NE(screen[1].find("took"), std::string::npos) << screen[1];
    EXPECT_EQ(screen[2].rfind("sim-c writing [", 0), 0u) << screen[2];
    EXPECT_NE(screen[2].find("60/300 bytes"), std::string::npos) << screen[2];

    // Once left, the bars stay and what follows goes below them.
    rows.Leave();
    rows.Above(out, "done\n");
    const std::vector<std::string> after = Screen(Written(out));
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3], "done");
    EXPECT_EQ(std::fclose(out), 0);
}

}  // namespace
