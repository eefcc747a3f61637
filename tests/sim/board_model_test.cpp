#include "board_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "e2e/upload_board.h"
#include "wire.h"

using namespace std::string_literals;
using sim::BoardModel;
using sim::BoardSettings;
using sim::Millis;
using sim::PeerId;
using sim::Reply;

namespace {

using Texts = std::vector<std::string>;

constexpr PeerId kTool = 1;
constexpr PeerId kNextRun = 2;

Texts texts(const std::vector<Reply>& replies) {
    Texts result;
    for (const Reply& reply : replies) {
        result.push_back(reply.bytes);
    }
    return result;
}

// The texts of the board's answer to a datagram from sender.
Texts answer(BoardModel& board, const std::string& datagram, Millis now, PeerId sender = kTool) {
    return texts(board.on_datagram(sender, datagram, now));
}

std::vector<Millis> delays(const std::vector<Reply>& replies) {
    std::vector<Millis> result;
    for (const Reply& reply : replies) {
        result.push_back(reply.delay);
    }
    return result;
}

using e2e::end_load;
using e2e::pattern_image;

// A bootloader image whose header text ends at a zero after header.
std::string rom_image(const std::string& header) {
    return e2e::rom_image(header + '\0');
}

// Sends the blocks of an image, each expecting "<ACK>", and returns the replies to the end-of-load
// message with the given checksum.
std::vector<Reply> send_image(BoardModel& board, const std::string& image, std::uint32_t checksum,
                              Millis now = 10) {
    for (std::size_t offset = 0; offset < image.size(); offset += sim::kMaxBlockLength) {
        EXPECT_EQ(answer(board, image.substr(offset, 1024), now), Texts{"<ACK>"}) << offset;
    }
    return board.on_datagram(kTool, end_load(checksum), now);
}

// Announces and uploads an image with its true checksum.
std::vector<Reply> upload(BoardModel& board, const std::string& command, const std::string& image,
                          Millis now = 0) {
    EXPECT_EQ(answer(board, command, now), Texts{"<OK_LOAD>"});
    return send_image(board, image, sim::add_to_checksum(0, 0, image), now + 10);
}

Texts area_types(const BoardModel& board) {
    Texts types;
    for (const sim::FlashArea& area : sim::flash_areas(board.layout(), board.contents())) {
        types.push_back(std::to_string(static_cast<int>(area.type)));
    }
    return types;
}

}  // namespace

TEST(SimBoard, VersionIsAnsweredByEveryBoardOnTheAddressEachTime) {
    BoardSettings settings;
    settings.boards = 3;
    BoardModel board(settings);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<Reply> replies = board.on_datagram(kTool, "<VERSION>", 0);
        EXPECT_EQ(texts(replies), Texts(3, "<VERSION> Talvium 5.2 on PLN7/ZE (simulated)"));
        EXPECT_EQ(delays(replies), (std::vector<Millis>{0, 5, 10}));
        EXPECT_EQ(replies[2].to, kTool);
    }
}

TEST(SimBoard, GetconfigReportsTheMapAsItStands) {
    BoardModel board(BoardSettings{});
    Texts before = answer(board, "<GETCONFIG>", 0);
    EXPECT_EQ(before, sim::flash_config_replies(board.layout(), board.contents()));
    ASSERT_EQ(answer(board, "<ERASEUSER>", 0), (Texts{"<ERASE_START>", "<ERASE_OK>"}));
    Texts after = answer(board, "<GETCONFIG>", 0);
    EXPECT_EQ(after[8], "<FLASH_CONFIG_DATA> 0x00E00000 0x00FFFFFF 0");
    EXPECT_EQ(after.size(), before.size() - 1);
}

TEST(SimBoard, EraseCommandsChangeTheMapOrFindNothingToErase) {
    struct Sample {
        const char* command;
        const char* first_verdict;
        const char* second_verdict;  // the same command in the next run of the tool
        Texts types_after;
    };
    const Sample samples[] = {
        {"<ERASE>", "<ERASE_OK>", "<ERASE_OK>", {"7", "6", "0", "1", "0"}},
        {"<ERASESYS>", "<ERASE_OK>", "<NO_SYS_AREA>", {"7", "6", "0", "5", "1", "4", "2", "0"}},
        {"<ERASERESERVE>", "<ERASE_OK>", "<NO_RESERVE>", {"7", "6", "3", "0", "1", "4", "2", "0"}},
        {"<ERASEDISK>",
         "<ERASE_OK>",
         "<NO_FLASH_FILE_SYSTEM>",
         {"7", "6", "3", "0", "5", "1", "0", "2", "0"}},
        {"<ERASEUSER>", "<ERASE_OK>", "<ERASE_OK>", {"7", "6", "3", "0", "5", "1", "4", "0"}},
        {"<ERASEREGISTRY>",
         "<ERASE_OK>",
         "<ERASE_OK>",
         {"7", "0", "3", "0", "5", "1", "4", "2", "0"}},
    };
    for (const Sample& sample : samples) {
        BoardModel board(BoardSettings{});
        EXPECT_EQ(answer(board, sample.command, 0), (Texts{"<ERASE_START>", sample.first_verdict}))
            << sample.command;
        EXPECT_EQ(area_types(board), sample.types_after) << sample.command;
        board.on_datagram(kNextRun, "<VERSION>", 100);
        EXPECT_EQ(answer(board, sample.command, 100, kNextRun),
                  (Texts{"<ERASE_START>", sample.second_verdict}))
            << sample.command;
    }
}

TEST(SimBoard, RepeatedCommandIsAnsweredAgainWithoutDoingTheWorkTwice) {
    BoardSettings settings;
    settings.erase_ms = 5000;
    BoardModel board(settings);
    std::vector<Reply> replies = board.on_datagram(kTool, "<ERASESYS>", 1000);
    EXPECT_EQ(texts(replies),
              (Texts{"<ERASE_START>", "<ERASING> 40%", "<ERASING> 80%", "<ERASE_OK>"}));
    EXPECT_EQ(delays(replies), (std::vector<Millis>{0, 2000, 4000, 5000}));
    // The tool repeats the command while "<ERASE_START>" has not reached it.
    EXPECT_EQ(answer(board, "<ERASESYS>", 2000), Texts{"<ERASE_START>"});
    EXPECT_EQ(answer(board, "<ERASESYS>", 6000), (Texts{"<ERASE_START>", "<ERASE_OK>"}));
    // From another sender it is a new command, and the system area is gone by now.
    EXPECT_EQ(answer(board, "<ERASESYS>", 7000, kNextRun),
              (Texts{"<ERASE_START>", "<NO_SYS_AREA>"}));
}

TEST(SimBoard, UpdatingFlashComesFirstAndRepeatsWaitForTheAnswer) {
    BoardSettings settings;
    settings.updating_flash = true;
    BoardModel board(settings);
    std::vector<Reply> replies = board.on_datagram(kTool, "<GETCONFIG>", 0);
    ASSERT_EQ(replies.size(), 12u);
    EXPECT_EQ(replies[0].bytes, "<UPDATING_FLASH>");
    EXPECT_EQ(replies[0].delay, 0);
    EXPECT_EQ(replies[1].bytes, "<FLASH_CONFIG_START>");
    EXPECT_EQ(replies[1].delay, sim::kUpdatingFlashPause);
    EXPECT_TRUE(board.on_datagram(kTool, "<GETCONFIG>", 1000).empty());
    EXPECT_EQ(board.on_datagram(kTool, "<GETCONFIG>", 1600).size(), 11u);
    // The probe is never kept waiting: a second version reply would count as a second board.
    EXPECT_EQ(answer(board, "<VERSION>", 1700).size(), 1u);

    EXPECT_EQ(answer(board, "<UPDATESYS>", 2000), (Texts{"<UPDATING_FLASH>", "<OK_LOAD>"}));
    EXPECT_TRUE(board.on_datagram(kTool, "<UPDATESYS>", 3000).empty());
    EXPECT_EQ(answer(board, "<UPDATESYS>", 3600), Texts{"<OK_LOAD>"});
    std::string image = pattern_image(100);
    EXPECT_EQ(texts(send_image(board, image, sim::add_to_checksum(0, 0, image), 3700)),
              (Texts{"<CHECK_OK>", "<UPDATE_OK>"}));
}

TEST(SimBoard, UpdatesAreCheckedAndWrittenIntoTheMap) {
    BoardSettings settings;
    settings.update_ms = 4500;
    BoardModel board(settings);
    std::string image = pattern_image(3000);
    std::vector<Reply> replies = upload(board, "<UPDATESYS>", image);
    EXPECT_EQ(texts(replies),
              (Texts{"<CHECK_OK>", "<UPDATING> 44%", "<UPDATING> 88%", "<UPDATE_OK>"}));
    EXPECT_EQ(delays(replies), (std::vector<Millis>{0, 2000, 4000, 4500}));
    EXPECT_EQ(board.contents().system_bytes, 3000u);
    EXPECT_EQ(sim::flash_areas(board.layout(), board.contents())[2],
              (sim::FlashArea{0x40000, 0x4FFFF, sim::AreaType::system}));

    EXPECT_EQ(texts(upload(board, "<UPDATERESERVE>", pattern_image(70000))).back(), "<UPDATE_OK>");
    EXPECT_EQ(board.contents().reserve_bytes, 70000u);

    board.on_datagram(kTool, "<ERASEDISK>", 0);
    ASSERT_FALSE(board.contents().file_system);
    EXPECT_EQ(texts(upload(board, "<FORMATDISK>", pattern_image(5000))).back(), "<UPDATE_OK>");
    EXPECT_TRUE(board.contents().file_system);

    // An empty image: no block, the end-of-load message for checksum 0.
    Texts empty = texts(upload(board, "<UPDATESYS>", ""));
    EXPECT_EQ(empty.front(), "<CHECK_OK>");
    EXPECT_EQ(empty.back(), "<UPDATE_OK>");
    EXPECT_EQ(board.contents().system_bytes, 0u);
}

TEST(SimBoard, ChecksumMismatchAndImagesTooLargeAreRefused) {
    BoardModel board(BoardSettings{});
    ASSERT_EQ(board.on_datagram(kTool, "<UPDATESYS>", 0).size(), 1u);
    std::string image = pattern_image(2048);
    EXPECT_EQ(texts(send_image(board, image, sim::add_to_checksum(0, 0, image) + 1)),
              Texts{"<CHECK_ERROR>"});
    EXPECT_EQ(board.contents().system_bytes, 3u * 1024 * 1024);

    std::string too_large(board.layout().system.size() + 1, 'x');
    EXPECT_EQ(texts(upload(board, "<UPDATESYS>", too_large)),
              (Texts{"<CHECK_OK>", "<SIZE_ERROR>"}));
    std::string fits(board.layout().system.size(), 'x');
    EXPECT_EQ(texts(upload(board, "<UPDATESYS>", fits)).back(), "<UPDATE_OK>");

    std::string large_disk(4 * 1024 * 1024 + 1, 'y');
    EXPECT_EQ(texts(upload(board, "<FORMATDISK>", large_disk)),
              (Texts{"<CHECK_OK>", "<SIZE_ERROR><EXPANDED> 4194304"}));
    EXPECT_EQ(texts(upload(board, "<UPDATEROM>", std::string(65537, 'z'))).back(), "<SIZE_ERROR>");
}

TEST(SimBoard, BootloaderForAnotherBoardTypeWaitsForTheOperator) {
    BoardModel board(BoardSettings{});
    std::string foreign = rom_image("KRD/4Q, Rel. B, ROM-Version: 3.1");
    EXPECT_EQ(texts(upload(board, "<UPDATEROM>", foreign)),
              (Texts{"<CHECK_OK>", "<DEST_DIFFER_QUERY> PLN7/ZE|KRD/4Q"}));
    // The tool's end-of-load message again: the question did not reach it.
    EXPECT_EQ(answer(board, e2e::end_load_for(foreign), 50),
              Texts{"<DEST_DIFFER_QUERY> PLN7/ZE|KRD/4Q"});
    EXPECT_TRUE(board.on_datagram(kTool, "<BREAK>", 60).empty());
    // The board takes commands again.
    EXPECT_EQ(answer(board, "<VERSION>", 70).size(), 1u);

    // After a Yes the same bootloader is still foreign to the hardware.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(texts(upload(board, "<UPDATEROM>", foreign, 100)).back(),
                  "<DEST_DIFFER_QUERY> PLN7/ZE|KRD/4Q");
        EXPECT_EQ(answer(board, "<CONTINUE>\0"s, 200), Texts{"<UPDATE_OK>"});
        EXPECT_TRUE(board.on_datagram(kTool, "<CONTINUE>\0"s, 210).empty());
    }

    // A bootloader for the hardware needs no question, and neither does one that names no type.
    EXPECT_EQ(texts(upload(board, "<UPDATEROM>", rom_image("PLN7/ZE, Rel. A, ROM-Version:"))),
              (Texts{"<CHECK_OK>", "<UPDATE_OK>"}));
    EXPECT_EQ(texts(upload(board, "<UPDATEROM>", rom_image("BOOT"))).back(), "<UPDATE_OK>");

    BoardSettings settings;
    settings.board_type = "PGR/ZE";
    BoardModel other(settings);
    EXPECT_EQ(texts(upload(other, "<UPDATEROM>", rom_image("PLN7/ZE, Rel. A, ROM-Version:"))),
              (Texts{"<CHECK_OK>", "<DEST_DIFFER_QUERY> PGR/ZE|PLN7/ZE"}));
}

TEST(SimBoard, AnotherSenderAbandonsAnUploadAndSilenceAnswersNothing) {
    BoardModel board(BoardSettings{});
    board.on_datagram(kTool, "<UPDATESYS>", 0);
    board.on_datagram(kTool, pattern_image(1024), 10);
    // A tool run that died mid-upload; the next run's probe is answered, not taken for a block.
    EXPECT_EQ(answer(board, "<VERSION>", 5000, kNextRun).size(), 1u);
    EXPECT_EQ(board.contents().system_bytes, 3u * 1024 * 1024);

    BoardSettings settings;
    settings.silent = true;
    BoardModel silent(settings);
    for (const char* datagram : {"<VERSION>", "<GETCONFIG>", "<ERASE>", "<UPDATESYS>"}) {
        EXPECT_TRUE(silent.on_datagram(kTool, datagram, 0).empty()) << datagram;
    }
    EXPECT_TRUE(silent.contents().file_system);
}

TEST(SimBoard, RefusedBlocksAreNotCountedAndTheirResendIs) {
    BoardSettings settings;
    settings.nack_rate = 0.3;
    settings.seed = 42;
    BoardModel board(settings);
    std::string image = pattern_image(64 * 1024 + 100);
    board.on_datagram(kTool, "<UPDATESYS>", 0);
    int refusals = 0;
    auto send_until_taken = [&](const std::string& datagram) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            Texts replies = answer(board, datagram, 10);
            if (replies.front() != "<NACK>") {
                return replies;
            }
            EXPECT_EQ(replies.size(), 1u);
            ++refusals;
        }
        return Texts{};
    };
    for (std::size_t offset = 0; offset < image.size(); offset += 1024) {
        EXPECT_EQ(send_until_taken(image.substr(offset, 1024)), Texts{"<ACK>"});
    }
    EXPECT_EQ(send_until_taken(e2e::end_load_for(image)), (Texts{"<CHECK_OK>", "<UPDATE_OK>"}));
    EXPECT_EQ(board.contents().system_bytes, image.size());
    EXPECT_GT(refusals, 5);
    EXPECT_LT(refusals, 60);
}

TEST(SimBoard, LossyBoardAsksForRepeatsOnlyAfterALossAndRepeatsVerdicts) {
    BoardSettings settings;
    settings.lossy = true;
    BoardModel board(settings);
    std::vector<Reply> erase = board.on_datagram(kTool, "<ERASESYS>", 0);
    EXPECT_EQ(texts(erase), (Texts{"<ERASE_START>", "<ERASE_OK>", "<ERASE_OK>", "<ERASE_OK>"}));
    EXPECT_EQ(delays(erase), (std::vector<Millis>{0, 0, 100, 200}));

    board.on_datagram(kTool, "<UPDATESYS>", 1000);
    std::string image = pattern_image(3000);
    EXPECT_EQ(answer(board, image.substr(0, 1024), 1010), Texts{"<ACK>"});
    EXPECT_FALSE(board.next_timer());  // a slow tool is no reason for a repeat

    // The acknowledgement of the second block is lost: the tool sends that block again when asked.
    std::vector<Reply> ack = board.on_datagram(kTool, image.substr(1024, 1024), 1020);
    board.on_reply_lost(ack.front());
    EXPECT_EQ(board.next_timer(), 1020 + sim::kNackAfterSilence);
    EXPECT_TRUE(board.on_timer(1200).empty());
    EXPECT_EQ(texts(board.on_timer(1320)), Texts{"<NACK>"});
    EXPECT_FALSE(board.next_timer());
    EXPECT_EQ(answer(board, image.substr(1024, 1024), 1321), Texts{"<ACK>"});

    // The third block is lost on its way: its resend is the block itself.
    board.on_datagram_lost(kTool);
    EXPECT_EQ(texts(board.on_timer(1700)), Texts{"<NACK>"});
    EXPECT_EQ(answer(board, image.substr(2048), 1701), Texts{"<ACK>"});
    EXPECT_EQ(answer(board, e2e::end_load_for(image), 1702),
              (Texts{"<CHECK_OK>", "<UPDATE_OK>", "<UPDATE_OK>", "<UPDATE_OK>"}));
    EXPECT_EQ(board.contents().system_bytes, 3000u);
}

TEST(SimBoard, LossyBoardGivesUpAskingAfterAFewRepeats) {
    BoardSettings settings;
    settings.lossy = true;
    BoardModel board(settings);
    std::vector<Reply> ok_load = board.on_datagram(kTool, "<UPDATESYS>", 0);
    board.on_reply_lost(ok_load.front());
    int nacks = 0;
    for (Millis now = 0; now < 60000; now += 100) {
        for (const Reply& reply : board.on_timer(now)) {
            board.on_reply_lost(reply);
            ++nacks;
        }
    }
    EXPECT_EQ(nacks, sim::kMaxNacksInRow);
    // The lost "<OK_LOAD>" is sent again when the tool repeats its command.
    EXPECT_EQ(answer(board, "<UPDATESYS>", 60000), Texts{"<OK_LOAD>"});
}

namespace {

// The tool's side of an upload, reduced to its resend rules, against the board model with both
// directions dropping datagrams at random. Returns the tool's final verdict, or "" when the tool
// would have waited out its 20-second timeout.
std::string lossy_upload(BoardModel& board, const std::string& image, double loss,
                         std::uint32_t seed) {
    sim::Chance to_board(seed * 2 + 1);
    sim::Chance to_tool(seed * 2 + 2);
    std::deque<std::string> inbox;
    Millis now = 0;
    auto deliver = [&](std::vector<Reply> replies) {
        for (const Reply& reply : replies) {
            if (to_tool.happens(loss)) {
                board.on_reply_lost(reply);
            } else {
                inbox.push_back(reply.bytes);
            }
        }
    };
    auto send = [&](const std::string& datagram) {
        now += 1;
        if (to_board.happens(loss)) {
            board.on_datagram_lost(kTool);
        } else {
            deliver(board.on_datagram(kTool, datagram, now));
        }
    };
    // The next reply, after the board's timers if need be; the tool's watchdog stands in when
    // resend_each_second is given.
    auto receive = [&](const std::string* resend_each_second) -> std::optional<std::string> {
        for (int second = 0; inbox.empty() && second < 20; ++second) {
            Millis end = now + 1000;
            while (inbox.empty() && board.next_timer() && *board.next_timer() <= end) {
                now = std::max(now, *board.next_timer());
                deliver(board.on_timer(now));
            }
            if (inbox.empty()) {
                now = end;
                if (resend_each_second != nullptr) {
                    send(*resend_each_second);
                }
            }
        }
        if (inbox.empty()) {
            return std::nullopt;
        }
        std::string reply = inbox.front();
        inbox.pop_front();
        return reply;
    };

    // Waits for a reply that is not "<NACK>" nor ignored, answering "<NACK>" with a resend;
    // "" when the tool would time out or the board keeps refusing.
    auto await_reply = [&](const std::string& datagram, bool resend_each_second,
                           const Texts& ignored) -> std::string {
        for (int replies = 0; replies < 100; ++replies) {
            std::optional<std::string> reply = receive(resend_each_second ? &datagram : nullptr);
            if (!reply) {
                return "";
            }
            if (*reply == "<NACK>") {
                send(datagram);
            } else if (std::find(ignored.begin(), ignored.end(), *reply) == ignored.end()) {
                return *reply;
            }
        }
        return "";
    };

    const std::string command = "<UPDATESYS>";
    send(command);
    if (await_reply(command, true, {}) != "<OK_LOAD>") {
        return "";
    }
    for (std::size_t offset = 0; offset < image.size(); offset += 1024) {
        std::string block = image.substr(offset, 1024);
        send(block);
        if (await_reply(block, false, {"<OK_LOAD>"}) != "<ACK>") {
            return "";
        }
    }
    std::string end = e2e::end_load_for(image);
    send(end);
    return await_reply(end, false, {"<CHECK_OK>"});
}

}  // namespace

TEST(SimBoard, WholeUploadsSurviveFivePercentLossEachWay) {
    std::string image = pattern_image(200 * 1024 + 77);
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        BoardSettings settings;
        settings.lossy = true;
        BoardModel board(settings);
        EXPECT_EQ(lossy_upload(board, image, 0.05, seed), "<UPDATE_OK>") << "seed " << seed;
        EXPECT_EQ(board.contents().system_bytes, image.size()) << "seed " << seed;
    }
}
