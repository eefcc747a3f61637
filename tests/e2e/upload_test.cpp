// The update commands against a board: the upload in blocks, resends, the end-of-load message,
// the board's verdicts and the bootloader question.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// The datagrams of a clean upload: probe, announcement, blocks, end-of-load message, and then
// the datagrams in after.
std::vector<std::string> upload_datagrams(const std::string& announcement, const std::string& image,
                                          const std::vector<std::string>& after = {}) {
    std::vector<std::string> datagrams = {"<VERSION>", announcement};
    for (const std::string& block : e2e::blocks_of(image)) {
        datagrams.push_back(block);
    }
    datagrams.push_back(e2e::end_load_for(image));
    datagrams.insert(datagrams.end(), after.begin(), after.end());
    return datagrams;
}

const std::string kQuery = "<DEST_DIFFER_QUERY> KRD4/Q|PLN7/ZE \x1b[2J|x";
const std::string kPrompt =
    "tvflash: " + e2e::bootloader_warning("KRD4/Q", "PLN7/ZE \\x1b[2J|x") + " [Y/n] ";

}  // namespace

TEST(UploadEndToEnd, BlocksOfAtMost1024BytesWithADotPerFullBlock) {
    e2e::ImageFolder folder;
    const std::string signed_rom =
        e2e::overwrite(e2e::pattern_image(65536), 3, "Loader PLN7/HTY, Rel. B, ROM-Version: 7\0"s);
    const struct {
        std::string word;
        std::string announcement;
        std::string image;
    } samples[] = {
        // An empty image sends only the end-of-load message.
        {"updatesys", "<UPDATESYS>", ""},
        {"UpdateReserve", "<UPDATERESERVE>", ""},
        {"formatdisk", "<FORMATDISK>", ""},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(1)},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(1023)},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(1024)},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(1025)},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(2048)},
        {"updatesys", "<UPDATESYS>", e2e::pattern_image(3000)},
        // A bootloader image goes in 64 blocks.
        {"updaterom", "<UPDATEROM>", e2e::rom_image()},
        {"updaterom", "<UPDATEROM>", signed_rom},
    };
    for (const auto& s : samples) {
        const std::size_t size = s.image.size();
        const std::string path = folder.write("images/" + s.word + std::to_string(size), s.image);
        e2e::FakeBoard board(e2e::uploading({"<CHECK_OK>", "<UPDATE_OK>"}));
        EXPECT_TRUE(
            e2e::ran(e2e::run_tvflash_on(board.port(), {s.word, path}), 0,
                     e2e::upload_output(board.port(), path, size, std::string(size / 1024, '.')) +
                         e2e::kUpdateSucceeded))
            << s.word << " " << size;
        EXPECT_EQ(board.received(), upload_datagrams(s.announcement, s.image)) << size;
    }
    EXPECT_EQ(e2e::end_load_for(""), "<END_LOAD> 0 \0"s);
}

TEST(UploadEndToEnd, NackResendsTheSameBlockAndOtherRepliesAreIgnored) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(2048);
    const std::string path = folder.write("sys.bin", image);
    const std::vector<std::string> blocks = e2e::blocks_of(image);
    e2e::FakeBoard board(e2e::answering_in_turn(
        blocks[1], {{"<NACK>"}, {"<ACK>"}},
        e2e::uploading({"<UPDATE_OK>"}, {{blocks[0], {"<UPDATING_FLASH>", "<NACK", "<ACK>"}}})));
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"updatesys", path}), 0,
                         e2e::upload_output(board.port(), path, 2048, ".+.") + e2e::kUpdated));
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<UPDATESYS>", blocks[0], blocks[1], blocks[1],
                                        e2e::end_load_for(image)}));
}

// A block whose words sum to zero escapes the checksum: stored twice, it shifts the rest of the
// image unseen. A "<NACK>" for it after a silence (its "<ACK>" may have been lost), or more
// "<ACK>"s than blocks, leaves an image nobody can vouch for, also when the spare "<ACK>" comes
// late, after the last block's (the end-of-load message waits for it); a refusal at once, any
// other block and an image without such a block go on as before.
TEST(UploadEndToEnd, ABlockTheChecksumCannotSeeIsNeverReportedWrittenOnDoubt) {
    e2e::ImageFolder folder;
    const std::string plain = e2e::pattern_image(3072);
    const std::string padded = e2e::overwrite(plain, 1024, std::string(1024, '\0'));
    const std::string stored_twice =
        "FAILED (block 2 is all zeros and may have been stored twice; the checksum cannot tell).\n";
    const std::string spare =
        "FAILED (4 acknowledgements for 3 blocks; a block stored twice cannot be ruled out).\n";
    using Turns = std::vector<std::vector<e2e::Reply>>;
    const Turns silence_nack = {{{"<NACK>", 300ms}}},
                silence_then_ack = {{{"<NACK>", 300ms}}, {"<ACK>"}},
                refused = {{"<NACK>"}, {"<ACK>"}}, acked_twice = {{"<ACK>", "<ACK>"}},
                acked_late = {{"<ACK>", {"<ACK>", 1ms}}},
                acked_later = {{"<ACK>", {"<ACK>", 40ms}}};
    const std::vector<e2e::Reply> written = {"<UPDATE_OK>"},
                                  checked = {"<CHECK_OK>", "<UPDATE_OK>"},
                                  asked = {"<CHECK_OK>", kQuery};
    const std::string spare_ack = "<ACK>" + e2e::kUpdating;
    const struct {
        const std::string& image;
        std::size_t turned;  // the block whose arrivals are answered by turns
        const Turns& turns;
        std::vector<e2e::Reply> end_replies;
        std::string progress;
        std::string shown;  // after the total line; none when the run ends before it
        int status;
        std::string sent;  // block numbers from 0; E: the end-of-load message; B: "<BREAK>"
    } samples[] = {
        // The "<ACK>" of the zero block lost, the board asks again after its silence.
        {padded, 1, silence_nack, {}, "." + stored_twice, "", 1, "01"},
        // The same board refusing the zero block at once, or any other block after a silence.
        {padded, 1, refused, written, ".+..", e2e::kUpdated, 0, "0112E"},
        {padded, 2, silence_then_ack, written, "..+.", e2e::kUpdated, 0, "0122E"},
        // The zero block delivered twice, and the board acknowledging both copies, the second
        // at once or a little later.
        {padded, 1, acked_twice, checked, "...", e2e::kUpdating + spare, 1, "012E"},
        {padded, 1, acked_twice, asked, "...", e2e::kUpdating + spare, 1, "012EB"},
        {padded, 1, acked_late, checked, "...", e2e::kUpdating + spare, 1, "012E"},
        {padded, 1, acked_later, checked, "...", e2e::kUpdating + spare, 1, "012E"},
        // A spare "<ACK>" with no such block: the checksum would have seen a block stored twice.
        {plain, 1, acked_twice, checked, "...", spare_ack + e2e::kUpdated, 0, "012E"},
    };
    for (const auto& s : samples) {
        const std::vector<std::string> blocks = e2e::blocks_of(s.image);
        const std::string path = folder.write("sys.bin", s.image);
        e2e::FakeBoard board(
            e2e::answering_in_turn(blocks[s.turned], s.turns, e2e::uploading(s.end_replies)));
        const std::string expected =
            s.shown.empty() ? e2e::upload_head(board.port(), path, 3072) + s.progress
                            : e2e::upload_output(board.port(), path, 3072, s.progress) + s.shown;
        std::vector<std::string> sent = {"<VERSION>", "<UPDATESYS>"};
        for (char item : s.sent) {
            sent.push_back(item == 'E'   ? e2e::end_load_for(s.image)
                           : item == 'B' ? "<BREAK>"
                                         : blocks[static_cast<std::size_t>(item - '0')]);
        }
        EXPECT_TRUE(
            e2e::ran(e2e::run_tvflash_on(board.port(), {"updatesys", path}), s.status, expected))
            << s.sent;
        EXPECT_EQ(board.received(), sent) << s.sent;
    }
}

// A datagram too long for the reply buffer is a failed receive, not a "<NACK>": the block may
// have arrived, so it is not sent again. The fresh socket's port is one the board never heard
// from, so its "<ACK>" cannot come; the test ends the wait.
TEST(UploadEndToEnd, AnOverLongAnswerToABlockIsNoRequestToSendItAgain) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(2048);
    const std::string path = folder.write("sys.bin", image);
    e2e::FakeBoard board(e2e::answering_in_turn(
        image.substr(0, 1024), {{std::string(200, 'x')}, {"<ACK>"}}, e2e::uploading({})));
    auto r = e2e::run_tvflash_on(board.port(), {"updatesys", path}, "", 4s);
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(e2e::output_is(r.out, {e2e::upload_head(board.port(), path, 2048), {'*', 0, 4}}));
    EXPECT_EQ(board.count_received(image.substr(0, 1024)), 1);
    EXPECT_EQ(board.received().size(), 3u);  // the probe, the announcement and the block
}

TEST(UploadEndToEnd, CompletionVerdictsThatEndTheRun) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(100);
    const std::string path = folder.write("sys.bin", image);
    const std::string updating = e2e::kUpdating;
    const struct {
        std::vector<e2e::Reply> replies;
        std::string shown;
        int status;
    } samples[] = {
        {{"<CHECK_OK>", "<UPDATE_OK>"}, e2e::kUpdateSucceeded, 0},
        {{"<UPDATE_OK>"}, e2e::kUpdated, 0},
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
        {{"<FILE_SYSTEM_PRESENCE_ERROR>"}, e2e::kFileSystemPresent, 1},
        {{"<CHECK_OK>", "<SYSTEM_FILE_PRESENCE_ERROR>"},
         updating + "FAILED (existing system file will be destroyed if this operation proceeds).\n",
         1},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(e2e::uploading(s.replies));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"formatdisk", path}), s.status,
                             e2e::upload_output(board.port(), path, 100, "") + s.shown))
            << s.replies.back().bytes;
        EXPECT_EQ(board.received(), upload_datagrams("<FORMATDISK>", image))
            << s.replies.back().bytes;
    }
}

TEST(UploadEndToEnd, BootloaderQuestionAnsweredOnTheConsole) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << e2e::kAsksInMessageBoxes;
    }
    e2e::ImageFolder folder;
    const std::string image = e2e::rom_image();
    const std::string path = folder.write("eboot.hex", image);
    const std::string refused = "FAILED (bootloader does not fit for the hardware).\n";
    const struct {
        std::string input;
        std::string answer_sent;
        std::string shown;
        std::string err;
        int status;
    } samples[] = {
        {"y\n", "<CONTINUE>", e2e::kUpdated, kPrompt, 0},
        {"\n", "<CONTINUE>", e2e::kUpdated, kPrompt, 0},
        {"what?\nYes\n", "<CONTINUE>", e2e::kUpdated, kPrompt + kPrompt, 0},
        {"n\n", "<BREAK>", refused, kPrompt, 1},
        {"NO\n", "<BREAK>", refused, kPrompt, 1},
        {"", "<BREAK>", refused, kPrompt + "\n", 1},
        {"maybe", "<BREAK>", refused, kPrompt + "\n", 1},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(
            e2e::uploading({"<CHECK_OK>", kQuery}, {{"<CONTINUE>", {"<UPDATE_OK>"}}}));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"updaterom", path}, s.input),
                             s.status,
                             e2e::upload_output(board.port(), path, 65536, std::string(64, '.')) +
                                 e2e::kUpdating + s.shown,
                             s.err))
            << s.input;
        EXPECT_EQ(board.received(), upload_datagrams("<UPDATEROM>", image, {s.answer_sent}))
            << s.input;
    }
}

TEST(UploadEndToEnd, NackResendsTheEndLoadBeforeTheQuestionAndContinueAfterIt) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << e2e::kAsksInMessageBoxes;
    }
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1030);
    const std::string path = folder.write("sys.bin", image);
    const std::string end = e2e::end_load_for(image);
    e2e::FakeBoard board(e2e::answering_in_turn(
        end, {{"<NACK>"}, {"<CHECK_OK>", kQuery}},
        e2e::uploading({}, {{"<CONTINUE>", {"<NACK>"}}, {"<CONTINUE>\0"s, {"<UPDATE_OK>"}}})));
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"updatesys", path}, "y\n"), 0,
                         e2e::upload_output(board.port(), path, 1030, ".") + "+" + e2e::kUpdating +
                             "+" + e2e::kUpdated,
                         kPrompt));
    EXPECT_EQ(board.received(),
              upload_datagrams("<UPDATESYS>", image, {end, "<CONTINUE>", "<CONTINUE>\0"s}));
}

TEST(UploadEndToEnd, ImageGoneBeforeTheUploadEndsTheRunWithoutSendingIt) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("sys.bin", e2e::pattern_image(10));
    e2e::FakeBoard board(
        [path, upload = e2e::uploading({})](e2e::FakeBoard& b, const std::string& datagram) {
            if (datagram == "<VERSION>") {
                std::filesystem::remove(path);
            }
            upload(b, datagram);
        });
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"updatesys", path}), 1,
                         e2e::after_probe(board.port()),
                         "\nERROR: cannot open input file '" + path + "'.\n"));
    EXPECT_EQ(board.received(), std::vector<std::string>{"<VERSION>"});
}

// Progress characters by phase: "*" while a block waits, "." until the first "<CHECK_" reply,
// none after it; and no repeat of anything once the upload has begun.
TEST(UploadEndToEnd, ProgressCharactersFollowThePhasesOfTheUpload) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1500);
    const std::string path = folder.write("sys.bin", image);
    e2e::FakeBoard board(e2e::uploading({{"<CHECK_OK>", 1600ms}, {"<UPDATE_OK>", 3400ms}},
                                        {{image.substr(0, 1024), {{"<ACK>", 1600ms}}}}));
    auto r = e2e::run_tvflash_on(board.port(), {"updatesys", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(e2e::output_is(
        r.out, {e2e::upload_head(board.port(), path, 1500),
                {'*', 1, 100},
                ".OK.\nTotal of 1500 bytes uploaded.\nFile transfer consistency check...",
                {'.', 1, 100},
                e2e::kUpdateSucceeded}));
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
    // The board takes the first block and then falls silent; the run is cut short after it.
    std::string first_block(1024, '\0');
    first_block[0] = '\x01';
    e2e::FakeBoard board(e2e::uploading({}, {{first_block, {}}}));
    auto r = e2e::run_tvflash_on(board.port(), {"formatdisk", path}, "", 4s);
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(r.out.starts_with(e2e::upload_head(board.port(), path, 5368709127))) << r.out;
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<FORMATDISK>", first_block}));
}
