#include "sessions/framing.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sessions/probe.h"

TEST(Framing, TagsMatchAsCaseSensitivePrefixes) {
    EXPECT_TRUE(has_tag("<ERASE_START>", "<ERASE_START>"));
    EXPECT_TRUE(has_tag("<ERASE_START> and more", "<ERASE_START>"));
    EXPECT_FALSE(has_tag("<ERASE_START", "<ERASE_START>"));
    EXPECT_FALSE(has_tag("<ack>", "<ACK>"));
    EXPECT_FALSE(has_tag(" <ACK>", "<ACK>"));
    EXPECT_TRUE(has_tag("<SIZE_ERROR><EXPANDED> 4096", "<SIZE_ERROR>"));
    EXPECT_FALSE(has_tag("", "<ACK>"));
}

TEST(Framing, NumbersAtOffsetsAreReadLikeAtoi) {
    const std::tuple<const char*, std::size_t, int> samples[] = {
        {"<ERASE_ERROR> 17", 14, 17},
        {"<ERASE_ERROR>", 14, 0},
        {"<ERASE_ERROR>17", 14, 7},
        {"<ERASE_ERROR> -5", 14, -5},
        {"<ERASE_ERROR>   42xyz", 14, 42},
        {"<ERASE_ERROR> x42", 14, 0},
        {"<UPDATE_ERROR> 99999999999", 15, 2147483647},
        {"<UPDATE_ERROR> -99999999999", 15, -2147483647 - 1},
        {"<UPDATE_ERROR> 2147483647", 15, 2147483647},
    };
    for (auto [reply, offset, value] : samples) {
        EXPECT_EQ(read_int_at(reply, offset), value) << reply;
    }
    EXPECT_EQ(text_from("<VERSION> text", 10), "text");
    EXPECT_EQ(text_from("<VERSION>", 10), "");
    EXPECT_EQ(text_from("<VERSION>x", 10), "");
}

TEST(Framing, BufferTextStopsAtZeroOrAt127Characters) {
    char buffer[kMessageBufferSize];
    std::memset(buffer, 'A', sizeof buffer);
    EXPECT_EQ(buffer_text(buffer).size(), 127u);
    buffer[5] = '\0';
    EXPECT_EQ(buffer_text(buffer), "AAAAA");
}

TEST(Probe, VersionLinesByCommand) {
    EXPECT_EQ(format_version_line(CommandCode::version, "Talvium 2.3"), "Talvium 2.3\n");
    EXPECT_EQ(format_version_line(CommandCode::version, ""), "\n");
    EXPECT_EQ(format_version_line(CommandCode::cyclic_version, "Talvium 2.3"),
              "Linked to target running Talvium 2.3\n");
    EXPECT_EQ(format_version_line(CommandCode::cyclic_version, "OS talvium 2.3"),
              "Linked to target OS talvium 2.3\n");
    EXPECT_EQ(format_version_line(CommandCode::cyclic_version, "built on Talvium"),
              "Linked to target running built on Talvium\n");
    EXPECT_EQ(format_version_line(CommandCode::cyclic_version, "\x1b]0;Talvium"),
              "Linked to target running \\x1b]0;Talvium\n");
    EXPECT_EQ(format_version_line(CommandCode::erase, "Talvium 2.3"), "");
}

TEST(Probe, ConflictTexts) {
    EXPECT_EQ(format_conflict_line(2, "10.0.0.7"),
              "ERROR: IP address conflict (2 target boards use the same\nIP address 10.0.0.7).\n");
    EXPECT_EQ(format_conflict_notice(3, "10.0.0.7"),
              "ERROR: IP address conflict.\n3 target boards use the same\nIP address 10.0.0.7.");
}
