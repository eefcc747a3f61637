// The update commands against a board: the upload in blocks, resends, the end-of-load message,
// the board's verdicts and the bootloader question.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// A board that takes the upload and answers the end-of-load message with replies.
e2e::FakeBoard::Script board_answering_end_load(std::vector<std::string> replies) {
    return [replies](e2e::FakeBoard& board, const std::string& datagram) {
        if (e2e::answer_upload(board, datagram)) {
            return;
        }
        if (datagram.starts_with("<END_LOAD>")) {
            for (const std::string& reply : replies) {
                board.reply(reply);
            }
        }
    };
}

std::vector<std::string> blocks_of(const std::string& image) {
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < image.size(); at += 1024) {
        blocks.push_back(image.substr(at, 1024));
    }
    return blocks;
}

// The datagrams of a clean upload: probe, announcement, blocks, end-of-load message.
std::vector<std::string> upload_datagrams(const std::string& announcement,
                                          const std::string& image) {
    std::vector<std::string> datagrams = {"<VERSION>", announcement};
    for (const std::string& block : blocks_of(image)) {
        datagrams.push_back(block);
    }
    datagrams.push_back(e2e::end_load_for(image));
    return datagrams;
}

const std::string kWarning =
    "WARNING: bootloader destination conflict.\n"
    "Bootloader stored already at the target was\n"
    "designed for target of type KRD4/Q\n"
    "and bootloader for update was designed\n"
    "for target of type PLN7/ZE \\x1b[2J|x.\n"
    "\n"
    "If you proceed with the version of\n"
    "bootloader not really fitting to your\n"
    "hardware then your hardware can be\n"
    "completely damaged.\n"
    "\n"
    "Do you want to proceed?";
const std::string kQuery = "<DEST_DIFFER_QUERY> KRD4/Q|PLN7/ZE \x1b[2J|x";
const std::string kPrompt = "tvflash: " + kWarning + " [Y/n] ";

}  // namespace

TEST(UploadEndToEnd, EmptyImageSendsOnlyTheEndLoadMessage) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("empty.bin", "");
    const std::pair<std::string, std::string> commands[] = {
        {"updatesys", "<UPDATESYS>"},
        {"UpdateReserve", "<UPDATERESERVE>"},
        {"formatdisk", "<FORMATDISK>"},
    };
    for (const auto& [word, announcement] : commands) {
        e2e::FakeBoard board(board_answering_end_load({"<CHECK_OK>", "<UPDATE_OK>"}));
        auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), word, path});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.err, "") << word;
        EXPECT_EQ(r.out, e2e::upload_output(board.port(), path, 0, "", 0) + e2e::kUpdateSucceeded)
            << word;
        EXPECT_EQ(board.received(),
                  (std::vector<std::string>{"<VERSION>", announcement, "<END_LOAD> 0 \0"s}))
            << word;
    }
}

TEST(UploadEndToEnd, BlocksOfAtMost1024BytesWithADotPerFullBlock) {
    e2e::ImageFolder folder;
    for (std::size_t size : {1u, 1023u, 1024u, 1025u, 2048u, 3000u}) {
        const std::string image = e2e::pattern_image(size);
        const std::string path = folder.write("images/sys_" + std::to_string(size) + ".tvm", image);
        e2e::FakeBoard board(board_answering_end_load({"<CHECK_OK>", "<UPDATE_OK>"}));
        auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path});
        EXPECT_EQ(r.status, 0) << size;
        EXPECT_EQ(r.err, "") << size;
        EXPECT_EQ(r.out, e2e::upload_output(board.port(), path, size, std::string(size / 1024, '.'),
                                            size) +
                             e2e::kUpdateSucceeded)
            << size;
        EXPECT_EQ(board.received(), upload_datagrams("<UPDATESYS>", image)) << size;
    }
}

TEST(UploadEndToEnd, BootloaderImageGoesIn64Blocks) {
    e2e::ImageFolder folder;
    const std::string signed_image =
        e2e::overwrite(e2e::pattern_image(65536), 3, "Loader PLN7/HTY, Rel. B, ROM-Version: 7\0"s);
    for (const std::string& image : {e2e::rom_image(), signed_image}) {
        const std::string path = folder.write("eboot.hex", image);
        e2e::FakeBoard board(board_answering_end_load({"<CHECK_OK>", "<UPDATE_OK>"}));
        auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updaterom", path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out,
                  e2e::upload_output(board.port(), path, 65536, std::string(64, '.'), 65536) +
                      e2e::kUpdateSucceeded);
        EXPECT_EQ(board.received(), upload_datagrams("<UPDATEROM>", image));
    }
}

TEST(UploadEndToEnd, NackResendsTheSameBlockAndOtherRepliesAreIgnored) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(2048);
    const std::string path = folder.write("sys.bin", image);
    const std::vector<std::string> blocks = blocks_of(image);
    std::atomic<int> second_block_seen{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (datagram == blocks[0]) {
            b.reply("<UPDATING_FLASH>");
            b.reply("<NACK");
            b.reply("<ACK>");
            return;
        }
        if (datagram == blocks[1] && ++second_block_seen == 1) {
            b.reply("<NACK>");
            return;
        }
        if (!e2e::answer_upload(b, datagram) && datagram.starts_with("<END_LOAD>")) {
            b.reply("<UPDATE_OK>");
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::upload_output(board.port(), path, 2048, ".+.", 2048) +
                         "OK.\nFlash memory update successful.\n");
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<UPDATESYS>", blocks[0], blocks[1], blocks[1],
                                        e2e::end_load_for(image)}));
}

TEST(UploadEndToEnd, CompletionVerdictsThatEndTheRun) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(100);
    const std::string path = folder.write("sys.bin", image);
    struct Sample {
        std::vector<std::string> replies;
        std::string shown;
        int status;
    };
    const std::string updating = "OK.\nUpdating flash memory...";
    const Sample samples[] = {
        {{"<CHECK_OK>", "<UPDATE_OK>"}, e2e::kUpdateSucceeded, 0},
        {{"<UPDATE_OK>"}, "OK.\nFlash memory update successful.\n", 0},
        {{"<ACK>", "<UPDATING_FLASH>", "<CHECK_OK", "<UPDATE_OK>"},
         "<ACK><UPDATING_FLASH>FAILED (checksum error).\n",
         1},
        {{"<CHECK_ERR>", "<UPDATE_OK>"}, "FAILED (checksum error).\n", 1},
        {{"<CHECK_OK>", "<SIZE_ERROR><EXPANDED> 4096"},
         updating + "FAILED (not enough free space left, 4096 bytes available).\n",
         1},
        {{"<SIZE_ERROR><EXPANDED>"},
         "FAILED (not enough free space left, 0 bytes available).\n",
         1},
        {{"<SIZE_ERROR>"}, "FAILED (size of image file too large).\n", 1},
        {{"<CHECK_OK>", "<UPDATE_ERROR> 5"},
         updating + "ERR.\nERROR during flash memory update (code 5).\n",
         1},
        {{"<UPDATE_ERROR>"}, "ERR.\nERROR during flash memory update (code 0).\n", 1},
        {{"<FILE_SYSTEM_PRESENCE_ERROR>"},
         "FAILED (existing flash file system will be destroyed if this operation proceeds).\n",
         1},
        {{"<CHECK_OK>", "<SYSTEM_FILE_PRESENCE_ERROR>"},
         updating + "FAILED (existing system file will be destroyed if this operation proceeds).\n",
         1},
    };
    for (const Sample& s : samples) {
        e2e::FakeBoard board(board_answering_end_load(s.replies));
        auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "formatdisk", path});
        EXPECT_EQ(r.status, s.status) << s.replies.back();
        EXPECT_EQ(r.err, "") << s.replies.back();
        EXPECT_EQ(r.out, e2e::upload_output(board.port(), path, 100, "", 100) + s.shown)
            << s.replies.back();
        EXPECT_EQ(board.received(), upload_datagrams("<FORMATDISK>", image)) << s.replies.back();
    }
}

TEST(UploadEndToEnd, BootloaderQuestionAnsweredOnTheConsole) {
    e2e::ImageFolder folder;
    const std::string image = e2e::rom_image();
    const std::string path = folder.write("eboot.hex", image);
    struct Sample {
        std::string input;
        std::string answer_sent;
        std::string shown;
        std::string err;
        int status;
    };
    const std::string refused = "FAILED (bootloader does not fit for the hardware).\n";
    const Sample samples[] = {
        {"y\n", "<CONTINUE>", "OK.\nFlash memory update successful.\n", kPrompt, 0},
        {"\n", "<CONTINUE>", "OK.\nFlash memory update successful.\n", kPrompt, 0},
        {"what?\nYes\n", "<CONTINUE>", "OK.\nFlash memory update successful.\n", kPrompt + kPrompt,
         0},
        {"n\n", "<BREAK>", refused, kPrompt, 1},
        {"NO\n", "<BREAK>", refused, kPrompt, 1},
        {"", "<BREAK>", refused, kPrompt + "\n", 1},
        {"maybe", "<BREAK>", refused, kPrompt + "\n", 1},
    };
    for (const Sample& s : samples) {
        e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& datagram) {
            if (e2e::answer_upload(b, datagram)) {
                return;
            }
            if (datagram.starts_with("<END_LOAD>")) {
                b.reply("<CHECK_OK>");
                b.reply(kQuery);
            } else if (datagram == "<CONTINUE>") {
                b.reply("<UPDATE_OK>");
            }
        });
        auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updaterom", path}, s.input);
        EXPECT_EQ(r.status, s.status) << s.input;
        EXPECT_EQ(r.err, s.err) << s.input;
        EXPECT_EQ(r.out,
                  e2e::upload_output(board.port(), path, 65536, std::string(64, '.'), 65536) +
                      "OK.\nUpdating flash memory..." + s.shown)
            << s.input;
        std::vector<std::string> expected = upload_datagrams("<UPDATEROM>", image);
        expected.push_back(s.answer_sent);
        EXPECT_EQ(board.received(), expected) << s.input;
    }
}

TEST(UploadEndToEnd, NackResendsTheEndLoadBeforeTheQuestionAndContinueAfterIt) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1030);
    const std::string path = folder.write("sys.bin", image);
    std::atomic<int> end_loads{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (e2e::answer_upload(b, datagram)) {
            return;
        }
        if (datagram.starts_with("<END_LOAD>")) {
            if (++end_loads == 1) {
                b.reply("<NACK>");
            } else {
                b.reply("<CHECK_OK>");
                b.reply(kQuery);
            }
        } else if (datagram == "<CONTINUE>") {
            b.reply("<NACK>");
        } else if (datagram == "<CONTINUE>\0"s) {
            b.reply("<UPDATE_OK>");
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kPrompt);
    EXPECT_EQ(r.out, e2e::upload_output(board.port(), path, 1030, ".", 1030) +
                         "+OK.\nUpdating flash memory...+OK.\nFlash memory update successful.\n");
    std::vector<std::string> expected = upload_datagrams("<UPDATESYS>", image);
    expected.push_back(e2e::end_load_for(image));
    expected.push_back("<CONTINUE>");
    expected.push_back("<CONTINUE>\0"s);
    EXPECT_EQ(board.received(), expected);
}

TEST(UploadEndToEnd, ImageGoneBeforeTheUploadEndsTheRunWithoutSendingIt) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("sys.bin", e2e::pattern_image(10));
    e2e::FakeBoard board([path](e2e::FakeBoard& b, const std::string& datagram) {
        if (datagram == "<VERSION>") {
            std::filesystem::remove(path);
        }
        e2e::answer_upload(b, datagram);
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + ".");
    EXPECT_EQ(r.err, "\nERROR: cannot open input file '" + path + "'.\n");
    EXPECT_EQ(board.received(), std::vector<std::string>{"<VERSION>"});
}

// Progress characters by phase: "*" while a block waits, "." until the first "<CHECK_" reply,
// none after it; and no repeat of anything once the upload has begun.
TEST(UploadEndToEnd, ProgressCharactersFollowThePhasesOfTheUpload) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1500);
    const std::string path = folder.write("sys.bin", image);
    e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& datagram) {
        if (e2e::is_image_block(datagram)) {
            b.reply_after(datagram.size() == 1024 ? 1600ms : 0ms, "<ACK>");
        } else if (datagram.starts_with("<END_LOAD>")) {
            b.reply_after(1600ms, "<CHECK_OK>");
            b.reply_after(3400ms, "<UPDATE_OK>");
        } else {
            e2e::answer_upload(b, datagram);
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string head = e2e::connecting_line(board.port()) + ".OK.\nRead file " +
                             e2e::upper(path) + " (1500 bytes).\nUploading";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const std::string rest = r.out.substr(head.size());
    const std::string check =
        "OK.\nTotal of 1500 bytes uploaded.\nFile transfer consistency check...";
    const std::size_t check_at = rest.find(check);
    ASSERT_NE(check_at, std::string::npos) << rest;
    const std::string block_progress = rest.substr(0, check_at);
    EXPECT_EQ(block_progress.back(), '.') << block_progress;
    EXPECT_EQ(block_progress.substr(0, block_progress.size() - 1),
              std::string(block_progress.size() - 1, '*'));
    EXPECT_GE(block_progress.size(), 2u);
    const std::string after_check = rest.substr(check_at + check.size());
    const std::string tail = e2e::kUpdateSucceeded;
    ASSERT_GE(after_check.size(), tail.size());
    EXPECT_EQ(after_check.substr(after_check.size() - tail.size()), tail);
    const std::string check_progress = after_check.substr(0, after_check.size() - tail.size());
    EXPECT_GE(check_progress.size(), 1u);
    EXPECT_EQ(check_progress, std::string(check_progress.size(), '.'));
    EXPECT_EQ(board.received(), upload_datagrams("<UPDATESYS>", image));
}

TEST(UploadEndToEnd, ReadFileLineShowsSizesBeyondFourGiB) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("huge.img", "\x01");
    const std::uint64_t size = (5ull << 30) + 7;
    std::error_code error;
    std::filesystem::resize_file(path, size, error);
    if (error) {
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    }
    std::atomic<int> blocks{0};
    // The board takes the first block and then falls silent; the run is cut short after it.
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (e2e::is_image_block(datagram)) {
            ++blocks;
            return;
        }
        e2e::answer_upload(b, datagram);
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "formatdisk", path}, "", 4s);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out.substr(0, r.out.find("Uploading")), e2e::connecting_line(board.port()) +
                                                            ".OK.\nRead file " + e2e::upper(path) +
                                                            " (5368709127 bytes).\n");
    EXPECT_EQ(blocks, 1);
}
