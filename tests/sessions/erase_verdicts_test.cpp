#include "sessions/erase_verdicts.h"

#include <gtest/gtest.h>

#include <string>

#include "e2e/texts.h"

namespace {

using e2e::erase_error;
using e2e::kErased;

TEST(FindEraseVerdict, ResultReplies) {
    const struct {
        std::string reply;
        std::string text;
        int status;
    } samples[] = {
        {"<ERASE_OK>", kErased, 0},
        {"<ERASE_OK> 12 blocks", kErased, 0},
        {"<ERASE_ERROR> 17", erase_error("17"), 1},
        {"<ERASE_ERROR>", erase_error("0"), 1},
        {"<ERASE_ERROR> ", erase_error("0"), 1},
        {"<ERASE_ERROR> -5", erase_error("-5"), 1},
        {"<ERASE_ERROR> none", erase_error("0"), 1},
        {"<ERASE_ERROR>   42 sectors", erase_error("42"), 1},
        // The character after the tag is skipped whatever it is.
        {"<ERASE_ERROR>17", erase_error("7"), 1},
        {"<ERASE_ERROR>x9", erase_error("9"), 1},
        {"<ERASE_ERROR> 99999999999", erase_error("2147483647"), 1},
        {"<NO_SYS_AREA>", e2e::kNoSystemArea, 1},
        {"<NO_RESERVE> 3", e2e::kNoReserve, 1},
        {"<NO_FLASH_FILE_SYSTEM>", e2e::kNoFileSystem, 1},
        {"<FILE_SYSTEM_PRESENCE_ERROR>", e2e::kFileSystemPresent, 1},
    };
    for (const auto& sample : samples) {
        const auto verdict = find_erase_verdict(sample.reply);
        ASSERT_TRUE(verdict.has_value()) << sample.reply;
        EXPECT_EQ(verdict->text, sample.text) << sample.reply;
        EXPECT_EQ(verdict->status, sample.status) << sample.reply;
    }
}

TEST(FindEraseVerdict, OtherRepliesAreNoVerdict) {
    const std::string replies[] = {
        "",
        "<ERASE_START>",
        "<NACK>",
        "<UPDATING_FLASH>",
        "<erase_ok>",
        "<ERASE_O",
        "<ERASE_OKAY>",
        " <ERASE_OK>",
        "<ERASE_ERR>",
        "<NO_SYS>",
        "Erasing block 3\n",
    };
    for (const std::string& reply : replies) {
        EXPECT_FALSE(find_erase_verdict(reply).has_value()) << reply;
    }
}

}  // namespace
