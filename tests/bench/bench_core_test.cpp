#include "bench_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::uint32_t checksum_of(const std::vector<unsigned char>& bytes) {
    return bench::add_to_checksum(bytes.data(), bytes.size(), 0);
}

TEST(BenchChecksum, WorkedValues) {
    struct Sample {
        std::vector<unsigned char> bytes;
        std::uint32_t sum;
    };
    const Sample samples[] = {
        {{}, 0},
        {{0x01}, 0x01000000},
        {{'a', 'b', 'c'}, 0x61626300},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0x06020304},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
        {{0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00}, 0},  // wraps modulo 2^32
    };
    for (const Sample& s : samples) {
        EXPECT_EQ(checksum_of(s.bytes), s.sum) << s.bytes.size() << " bytes";
    }
}

TEST(BenchChecksum, BlocksInOrderGiveTheWholeImage) {
    std::vector<unsigned char> image(2049);
    bench::ImageBytes(7).fill(image.data(), image.size());
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < image.size(); at += 1024) {
        std::size_t length = std::min<std::size_t>(1024, image.size() - at);
        sum = bench::add_to_checksum(image.data() + at, length, sum);
    }
    EXPECT_EQ(sum, checksum_of(image));
}

TEST(BenchEndLoad, EvenLengthWithTheZeroIncluded) {
    struct Sample {
        std::uint32_t checksum;
        std::string datagram;
    };
    const Sample samples[] = {
        {0, std::string("<END_LOAD> 0 \0", 14)},
        {16777216, std::string("<END_LOAD> 16777216\0", 20)},
        {0xFFFFFFFF, std::string("<END_LOAD> -1\0", 14)},
        {100795140, std::string("<END_LOAD> 100795140 \0", 22)},
        {0x80000000, std::string("<END_LOAD> -2147483648 \0", 24)},
    };
    for (const Sample& s : samples) {
        EXPECT_EQ(bench::end_load_datagram(s.checksum), s.datagram) << s.checksum;
    }
}

TEST(BenchSimulator, ListeningPortFromItsOutput) {
    struct Sample {
        std::string output;
        int port;  // 0: none
    };
    const Sample samples[] = {
        {"tvflash-sim listening on 127.0.0.1:40123\n", 40123},
        {"noise\ntvflash-sim listening on 127.0.0.1:1\nmore", 1},
        {"tvflash-sim listening on 127.0.0.1:40123", 0},  // line not complete yet
        {"tvflash-sim listening on 127.0.0.1:\n", 0},
        {"tvflash-sim listening on 127.0.0.1:0\n", 0},
        {"tvflash-sim listening on 127.0.0.1:65536\n", 0},
        {"tvflash-sim listening on 127.0.0.1:4x\n", 0},
        {"", 0},
    };
    for (const Sample& s : samples) {
        std::optional<std::uint16_t> port = bench::listening_port(s.output);
        EXPECT_EQ(port.value_or(0), s.port) << s.output;
    }
}

TEST(BenchImage, RepeatableForOneSeedAndDifferentForAnother) {
    std::vector<unsigned char> a(4096), b(4096), c(4096);
    bench::ImageBytes(16).fill(a.data(), a.size());
    bench::ImageBytes first_half(16);
    first_half.fill(b.data(), 1000);
    first_half.fill(b.data() + 1000, b.size() - 1000);
    bench::ImageBytes(64).fill(c.data(), c.size());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    int zeros = 0;
    for (unsigned char byte : a) {
        zeros += byte == 0;
    }
    EXPECT_LT(zeros, 64);  // about 16 expected of random bytes
}

TEST(BenchStatistics, MedianAndCells) {
    EXPECT_EQ(bench::median({}), 0);
    EXPECT_EQ(bench::median({3, 1, 2}), 2);
    EXPECT_EQ(bench::median({4, 1, 3, 2}), 2.5);
    EXPECT_EQ(bench::format_seconds(1.23456), "1.235 s");
    EXPECT_EQ(bench::format_rate(64 * 1024 * 1024, 2), "32.0 MiB/s");
    EXPECT_EQ(bench::format_rate(1, 0), "-");
    EXPECT_EQ(bench::format_rate(1, -1), "-");
    EXPECT_EQ(bench::format_ratio(2.2, 2), "1.10x");
    EXPECT_EQ(bench::format_ratio(1, 0), "-");
    EXPECT_EQ(bench::format_kib_as_mib(3072), "3.0 MiB");
    EXPECT_EQ(bench::format_milliseconds(0.00042), "0.42 ms");
    EXPECT_EQ(bench::failure_kind("FAILED (block 86 is all zeros)."),
              "FAILED (block N is all zeros).");
    EXPECT_EQ(bench::failure_kind("exact"), "exact");
}

}  // namespace
