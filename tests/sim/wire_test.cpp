#include "wire.h"

#include <gtest/gtest.h>

#include <string>

#include "e2e/upload_board.h"

using namespace std::string_literals;

TEST(SimWire, ChecksumOfWorkedSamples) {
    for (const auto& [bytes, sum] : e2e::kChecksumSamples) {
        EXPECT_EQ(sim::add_to_checksum(0, 0, bytes), sum) << sim::printable_datagram(bytes);
    }
}

TEST(SimWire, ChecksumInPiecesOfAnySizeEqualsTheWhole) {
    std::string image;
    for (int i = 0; i < 1031; ++i) {
        image += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    std::uint32_t whole = sim::add_to_checksum(0, 0, image);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 1024u}) {
        std::uint32_t sum = 0;
        for (std::size_t offset = 0; offset < image.size(); offset += piece) {
            sum = sim::add_to_checksum(sum, offset, std::string_view(image).substr(offset, piece));
        }
        EXPECT_EQ(sum, whole) << "pieces of " << piece;
    }
}

TEST(SimWire, EndOfLoadMessages) {
    for (const auto& [checksum, datagram] : e2e::kEndLoadSamples) {
        EXPECT_EQ(sim::parse_end_load(datagram), checksum) << sim::printable_datagram(datagram);
    }
    const std::pair<std::string, std::optional<std::uint32_t>> samples[] = {
        {"<END_LOAD> 4294967295\0"s, 0xFFFFFFFF},
        {"<END_LOAD> 0\0"s, std::nullopt},  // odd length
        {"<END_LOAD> 0 "s, std::nullopt},   // no terminating zero
        {"<END_LOAD>  \0"s, std::nullopt},  // no number
        {"<END_LOAD> 1x\0"s, std::nullopt},
        {"<END_LOAD> -2147483649\0"s, std::nullopt},
        {"<END_LOAD> 4294967296\0"s, std::nullopt},
        {"<END_LOAD> +5\0"s, std::nullopt},
        {"<end_load> 0 \0"s, std::nullopt},
        {"<ACK>\0"s, std::nullopt},
    };
    for (const auto& [datagram, value] : samples) {
        EXPECT_EQ(sim::parse_end_load(datagram), value) << sim::printable_datagram(datagram);
    }
}

TEST(SimWire, BoardTypeOfBootloaderHeaders) {
    std::string late(140, 'x');
    late += "KRD/4Q, Rel. B, ROM-Version:";
    const std::pair<std::string, std::string> samples[] = {
        {"PLN7/ZE, Rel. B, ROM-Version: 1.0", "PLN7/ZE"},
        {"Talvium bootloader KRD/4Q, Rel. B, ROM-Version: 2", "KRD/4Q"},
        {"PGR/ZE, Rel. C, ROM-Version:\0PLN7/ZE, Rel. A"s, "PGR/ZE"},
        {"BOOT\0PLN7/ZE, Rel. A, ROM-Version:"s, ""},  // the header text ends at the zero
        {"BOOT loader", ""},
        {", Rel. B at the start", ""},
        {late, ""},  // beyond the 128 bytes of the header
    };
    for (const auto& [head, type] : samples) {
        EXPECT_EQ(sim::rom_board_type(head), type) << sim::printable_datagram(head);
    }
}

TEST(SimWire, PrintableDatagrams) {
    const std::pair<std::string, std::string> samples[] = {
        {"<VERSION> Talvium 5.2", "<VERSION> Talvium 5.2"},
        {"<END_LOAD> 0 \0"s, "<END_LOAD> 0 \\x00"},
        {"a\\b", "a\\\\b"},
        {"\x7F\xFF\n", "\\x7F\\xFF\\x0A"},
        {std::string(70, 'z'), std::string(64, 'z') + "... (70 bytes)"},
    };
    for (const auto& [datagram, text] : samples) {
        EXPECT_EQ(sim::printable_datagram(datagram), text);
    }
    EXPECT_EQ(sim::without_trailing_zeros("<CONTINUE>\0"s), "<CONTINUE>");
    EXPECT_EQ(sim::without_trailing_zeros("<BREAK>"), "<BREAK>");
}
