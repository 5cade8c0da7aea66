// The progress bar: drawn at most ten times a second, ended with its own line, and silent when
// it is off (standard error no terminal, or --quiet).
#include "progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

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

}  // namespace
