#include "sessions/erase_verdicts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kErased = "OK.\nFlash memory has been successfully erased.\n";

std::string error_text(const std::string& code) {
    return "ERR.\nERROR: unsuccessful erase of flash memory (code " + code + ").\n";
}

TEST(FindEraseVerdict, ResultReplies) {
    const struct {
        std::string reply;
        std::string text;
        int status;
    } samples[] = {
        {"<ERASE_OK>", kErased, 0},
        {"<ERASE_OK> 12 blocks", kErased, 0},
        {"<ERASE_ERROR> 17", error_text("17"), 1},
        {"<ERASE_ERROR>", error_text("0"), 1},
        {"<ERASE_ERROR> ", error_text("0"), 1},
        {"<ERASE_ERROR> -5", error_text("-5"), 1},
        {"<ERASE_ERROR> none", error_text("0"), 1},
        {"<ERASE_ERROR>   42 sectors", error_text("42"), 1},
        // The character after the tag is skipped whatever it is.
        {"<ERASE_ERROR>17", error_text("7"), 1},
        {"<ERASE_ERROR>x9", error_text("9"), 1},
        {"<ERASE_ERROR> 99999999999", error_text("2147483647"), 1},
        {"<NO_SYS_AREA>", "FAILED (suitable for erasure data not found inside System Area).\n", 1},
        {"<NO_RESERVE> 3", "FAILED (reserve system not found inside flash memory).\n", 1},
        {"<NO_FLASH_FILE_SYSTEM>", "FAILED (flash file system not found inside flash memory).\n",
         1},
        {"<FILE_SYSTEM_PRESENCE_ERROR>",
         "FAILED (existing flash file system will be destroyed if this operation proceeds).\n", 1},
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
