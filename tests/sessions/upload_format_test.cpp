#include "sessions/upload_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "e2e/texts.h"
#include "e2e/upload_board.h"

namespace {

std::uint32_t checksum_of(const std::vector<unsigned char>& bytes) {
    return image_checksum(bytes.data(), bytes.size(), 0);
}

}  // namespace

TEST(ImageChecksum, WorkedValues) {
    for (const auto& [bytes, sum] : e2e::kChecksumSamples) {
        EXPECT_EQ(checksum_of({bytes.begin(), bytes.end()}), sum) << bytes.size() << " bytes";
    }
}

TEST(ImageChecksum, PiecesOfFourByteMultiplesEqualOneCall) {
    std::vector<unsigned char> image(5003);
    std::uint32_t state = 12345;
    for (unsigned char& byte : image) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 16);
    }
    const std::uint32_t whole = checksum_of(image);
    for (std::size_t piece : {4u, 8u, 12u, 1024u, 4096u}) {
        std::uint32_t sum = 0;
        for (std::size_t at = 0; at < image.size(); at += piece) {
            std::size_t length = std::min(piece, image.size() - at);
            sum = image_checksum(image.data() + at, length, sum);
        }
        EXPECT_EQ(sum, whole) << "pieces of " << piece;
    }
    // A piece that is not a multiple of 4 before the last one pads the wrong word.
    std::uint32_t uneven = image_checksum(image.data(), 3, 0);
    uneven = image_checksum(image.data() + 3, image.size() - 3, uneven);
    EXPECT_NE(uneven, whole);
}

TEST(FormatEndLoad, PadsToAnEvenLengthWithTheZero) {
    for (const auto& [checksum, datagram] : e2e::kEndLoadSamples) {
        const std::string made = format_end_load(checksum);
        EXPECT_EQ(made, datagram) << checksum;
        EXPECT_EQ(made.size() % 2, 0u) << checksum;
    }
}

TEST(CompletionReply, TagsAreTestedInOrder) {
    struct Sample {
        std::string reply;
        CompletionReply kind;
    };
    const Sample samples[] = {
        {"<CHECK_OK>", CompletionReply::check_ok},
        {"<CHECK_OK> trailing", CompletionReply::check_ok},
        {"<CHECK_ERR>", CompletionReply::check_failed},
        {"<CHECK_OK", CompletionReply::check_failed},
        {"<CHECK_", CompletionReply::check_failed},
        {"<CHECK_ok>", CompletionReply::check_failed},
        {"<SIZE_ERROR><EXPANDED> 4096", CompletionReply::space_error},
        {"<SIZE_ERROR><EXPANDED>", CompletionReply::space_error},
        {"<SIZE_ERROR>", CompletionReply::size_error},
        {"<SIZE_ERROR><EXPAND", CompletionReply::size_error},
        {"<UPDATE_OK>", CompletionReply::update_ok},
        {"<UPDATE_ERROR> 5", CompletionReply::update_error},
        {"<FILE_SYSTEM_PRESENCE_ERROR>", CompletionReply::file_system_presence},
        {"<SYSTEM_FILE_PRESENCE_ERROR>", CompletionReply::system_file_presence},
        {"<DEST_DIFFER_QUERY> A|B", CompletionReply::bootloader_query},
        {"<NACK>", CompletionReply::nack},
        {"<ACK>", CompletionReply::other},
        {"<UPDATING_FLASH>", CompletionReply::other},
        {"<update_ok>", CompletionReply::other},
        {"<UPDATE_O", CompletionReply::other},
        {"", CompletionReply::other},
    };
    for (const Sample& s : samples) {
        EXPECT_EQ(classify_completion_reply(s.reply), s.kind) << s.reply;
    }
}

TEST(CompletionReply, NumbersOfTheErrorReplies) {
    const std::int32_t max = std::numeric_limits<std::int32_t>::max();
    const std::int32_t min = std::numeric_limits<std::int32_t>::min();
    struct Sample {
        std::string reply;
        std::int32_t number;
    };
    const Sample spaces[] = {
        {"<SIZE_ERROR><EXPANDED> 4096", 4096},
        {"<SIZE_ERROR><EXPANDED>4096", 4096},
        {"<SIZE_ERROR><EXPANDED> \t -12", -12},
        {"<SIZE_ERROR><EXPANDED> +7 bytes", 7},
        {"<SIZE_ERROR><EXPANDED>", 0},
        {"<SIZE_ERROR><EXPANDED> many", 0},
        {"<SIZE_ERROR><EXPANDED> 99999999999", max},
        {"<SIZE_ERROR><EXPANDED> -99999999999", min},
    };
    for (const Sample& s : spaces) {
        EXPECT_EQ(available_space(s.reply), s.number) << s.reply;
    }
    const Sample codes[] = {
        {"<UPDATE_ERROR> 5", 5},   {"<UPDATE_ERROR>", 0},        {"<UPDATE_ERROR>x7", 7},
        {"<UPDATE_ERROR> -3", -3}, {"<UPDATE_ERROR>  12ab", 12}, {"<UPDATE_ERROR>5", 0},
    };
    for (const Sample& s : codes) {
        EXPECT_EQ(update_error_code(s.reply), s.number) << s.reply;
    }
}

TEST(SplitBoardTypes, SplitsAtTheFirstBar) {
    struct Sample {
        std::string reply;
        std::string stored;
        std::string update;
    };
    const Sample samples[] = {
        {"<DEST_DIFFER_QUERY> KRD4/Q|PLN7/ZE", "KRD4/Q", "PLN7/ZE"},
        {"<DEST_DIFFER_QUERY>:KRD4/Q|PLN7/ZE", "KRD4/Q", "PLN7/ZE"},
        {"<DEST_DIFFER_QUERY> A|B|C", "A", "B|C"},
        {"<DEST_DIFFER_QUERY> A|", "A", ""},
        {"<DEST_DIFFER_QUERY> |B", "", "B"},
        {"<DEST_DIFFER_QUERY> AB", "", ""},
        {"<DEST_DIFFER_QUERY>|AB", "", ""},
        {"<DEST_DIFFER_QUERY> ", "", ""},
        {"<DEST_DIFFER_QUERY>", "", ""},
    };
    for (const Sample& s : samples) {
        BoardTypes types = split_board_types(s.reply);
        EXPECT_EQ(types.stored, s.stored) << s.reply;
        EXPECT_EQ(types.update, s.update) << s.reply;
    }
}

TEST(BootloaderWarning, NamesStoredTypeFirstAndUpdateTypeSecond) {
    EXPECT_EQ(format_bootloader_warning("KRD4/Q", "PLN7/ZE"),
              e2e::bootloader_warning("KRD4/Q", "PLN7/ZE"));
    EXPECT_EQ(format_bootloader_warning("", ""), e2e::bootloader_warning("", ""));
}

TEST(BlockNack, RefusalsComeAsFastAsAcknowledgementsAndSilenceNacksLater) {
    struct Sample {
        std::uint32_t elapsed_ms;
        std::uint32_t typical_ack_ms;
        BlockNack kind;
    };
    const Sample samples[] = {
        {0, 0, BlockNack::refusal},
        {99, 0, BlockNack::refusal},  // the floor holds before the first "<ACK>"
        {100, 24, BlockNack::after_silence},
        {150, 40, BlockNack::refusal},  // a slow link: four times its typical "<ACK>" time
        {160, 40, BlockNack::after_silence},
        {4000, 0xFFFFFFFF, BlockNack::refusal},  // no overflow of the bound
    };
    for (const Sample& s : samples) {
        EXPECT_EQ(classify_block_nack(s.elapsed_ms, s.typical_ack_ms), s.kind)
            << s.elapsed_ms << " ms after the block, typical " << s.typical_ack_ms;
    }
}

TEST(SpareAckGrace, TheFloorOrFourTimesTheTypicalAcknowledgement) {
    const std::pair<std::uint32_t, std::uint32_t> samples[] = {
        {0, 100}, {25, 100}, {26, 104}, {1000, 4000}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& [typical_ack_ms, grace_ms] : samples) {
        EXPECT_EQ(spare_ack_grace_ms(typical_ack_ms), grace_ms) << typical_ack_ms;
    }
}

TEST(AckTimes, TypicalIsTheMedianOfTheLatestSixteen) {
    AckTimes times;
    EXPECT_EQ(times.typical(), 0u);
    for (std::uint32_t ms : {5u, 1u, 900u}) {
        times.add(ms);
    }
    EXPECT_EQ(times.typical(), 5u);  // one slow block does not move it
    for (int i = 0; i < 16; ++i) {
        times.add(40);
    }
    EXPECT_EQ(times.typical(), 40u);  // the oldest have gone
}
