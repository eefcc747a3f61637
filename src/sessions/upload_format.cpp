#include "sessions/upload_format.h"

#include <algorithm>

#include "sessions/framing.h"

namespace {

constexpr std::string_view kSpaceErrorTag = "<SIZE_ERROR><EXPANDED>";
constexpr std::size_t kUpdateErrorCodeOffset = 15;
constexpr std::size_t kBoardTypesOffset = 20;

std::uint32_t big_endian_word(const unsigned char* bytes, std::size_t count) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        word = (word << 8) | (i < count ? bytes[i] : 0u);
    }
    return word;
}

}  // namespace

std::uint32_t image_checksum(const unsigned char* bytes, std::size_t count, std::uint32_t sum) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        sum += big_endian_word(bytes + i, 4);
    }
    if (i < count) {
        sum += big_endian_word(bytes + i, count - i);
    }
    return sum;
}

bool block_escapes_checksum(const unsigned char* bytes, std::size_t count) {
    return count > 0 && image_checksum(bytes, count, 0) == 0;
}

BlockNack classify_block_nack(std::uint32_t elapsed_ms, std::uint32_t typical_ack_ms) {
    std::uint64_t bound = std::max<std::uint64_t>(
        kNackRefusalFloorMs, std::uint64_t{kNackRefusalFactor} * typical_ack_ms);
    return elapsed_ms < bound ? BlockNack::refusal : BlockNack::after_silence;
}

std::uint32_t spare_ack_grace_ms(std::uint32_t typical_ack_ms) {
    std::uint64_t grace = std::max<std::uint64_t>(
        kSpareAckGraceFloorMs, std::uint64_t{kSpareAckGraceFactor} * typical_ack_ms);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(grace, UINT32_MAX));
}

void AckTimes::add(std::uint32_t ms) {
    times_[count_ % kKept] = ms;
    ++count_;
}

std::uint32_t AckTimes::typical() const {
    std::size_t kept = std::min(count_, kKept);
    if (kept == 0) {
        return 0;
    }
    std::array<std::uint32_t, kKept> sorted = times_;
    auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(kept / 2);
    std::nth_element(sorted.begin(), middle, sorted.begin() + static_cast<std::ptrdiff_t>(kept));
    return *middle;
}

std::string unprovable_block_reason(std::uint64_t block_number, bool all_zero) {
    return "block " + std::to_string(block_number) +
           (all_zero ? " is all zeros" : " adds up to zero") +
           " and may have been stored twice; the checksum cannot tell";
}

std::string spare_ack_reason(std::uint64_t acks, std::uint64_t blocks) {
    return std::to_string(acks) + " acknowledgements for " + std::to_string(blocks) +
           " blocks; a block stored twice cannot be ruled out";
}

std::string format_end_load(std::uint32_t checksum) {
    std::string datagram = "<END_LOAD> " + std::to_string(static_cast<std::int32_t>(checksum));
    // The board takes the message only with an even length, its terminating zero included.
    if (datagram.size() % 2 == 0) {
        datagram += ' ';
    }
    datagram += '\0';
    return datagram;
}

CompletionReply classify_completion_reply(std::string_view reply) {
    if (has_tag(reply, "<CHECK_")) {
        return has_tag(text_from(reply, 7), "OK>") ? CompletionReply::check_ok
                                                   : CompletionReply::check_failed;
    }
    // The longer tag first: the plain size error is its prefix.
    if (has_tag(reply, kSpaceErrorTag)) {
        return CompletionReply::space_error;
    }
    if (has_tag(reply, "<SIZE_ERROR>")) {
        return CompletionReply::size_error;
    }
    if (has_tag(reply, "<UPDATE_OK>")) {
        return CompletionReply::update_ok;
    }
    if (has_tag(reply, "<UPDATE_ERROR>")) {
        return CompletionReply::update_error;
    }
    if (has_tag(reply, "<FILE_SYSTEM_PRESENCE_ERROR>")) {
        return CompletionReply::file_system_presence;
    }
    if (has_tag(reply, "<SYSTEM_FILE_PRESENCE_ERROR>")) {
        return CompletionReply::system_file_presence;
    }
    if (has_tag(reply, "<DEST_DIFFER_QUERY>")) {
        return CompletionReply::bootloader_query;
    }
    if (has_tag(reply, "<NACK>")) {
        return CompletionReply::nack;
    }
    return CompletionReply::other;
}

std::int32_t available_space(std::string_view reply) {
    return read_int_at(reply, kSpaceErrorTag.size());
}

std::int32_t update_error_code(std::string_view reply) {
    return read_int_at(reply, kUpdateErrorCodeOffset);
}

BoardTypes split_board_types(std::string_view reply) {
    std::string_view text = text_from(reply, kBoardTypesOffset);
    std::size_t bar = text.find('|');
    if (bar == std::string_view::npos) {
        return {};
    }
    return {text.substr(0, bar), text.substr(bar + 1)};
}

std::string format_bootloader_warning(std::string_view stored, std::string_view update) {
    std::string text =
        "WARNING: bootloader destination conflict.\n"
        "Bootloader stored already at the target was\n"
        "designed for target of type ";
    text += stored;
    text +=
        "\nand bootloader for update was designed\n"
        "for target of type ";
    text += update;
    text +=
        ".\n\nIf you proceed with the version of\n"
        "bootloader not really fitting to your\n"
        "hardware then your hardware can be\n"
        "completely damaged.\n\n"
        "Do you want to proceed?";
    return text;
}
