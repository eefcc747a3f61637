#include "platform/console_answer.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(ConsoleAnswer, YesIsTheDefaultAndNoMustBeSaid) {
    for (const char* line : {"", "y", "Y", "yes", "YES", " Yes ", "y\r"}) {
        EXPECT_EQ(classify_console_answer(line), ConsoleAnswer::yes) << line;
    }
    for (const char* line : {"n", "N", "no", "No", "\tNO "}) {
        EXPECT_EQ(classify_console_answer(line), ConsoleAnswer::no) << line;
    }
    for (const char* line : {"ye", "nope", "yes please", "0", "j"}) {
        EXPECT_EQ(classify_console_answer(line), ConsoleAnswer::unclear) << line;
    }
}

TEST(ConsoleAnswer, LinesAreReadUntilEndOfInput) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::string long_line(1000, 'x');
    std::fputs(("first\n\n" + long_line + "\nlast without end").c_str(), stream);
    std::rewind(stream);
    std::string line;
    ASSERT_TRUE(read_console_line(stream, line));
    EXPECT_EQ(line, "first");
    ASSERT_TRUE(read_console_line(stream, line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(read_console_line(stream, line));
    EXPECT_EQ(line, std::string(256, 'x'));
    EXPECT_FALSE(read_console_line(stream, line));
    std::fclose(stream);
}
