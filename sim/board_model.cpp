#include "board_model.h"

#include <array>
#include <utility>

#include "wire.h"

namespace sim {

namespace {

constexpr std::string_view kVersion = "<VERSION>";
constexpr std::string_view kGetConfig = "<GETCONFIG>";
constexpr std::string_view kErase = "<ERASE>";
constexpr std::string_view kEraseSys = "<ERASESYS>";
constexpr std::string_view kEraseUser = "<ERASEUSER>";
constexpr std::string_view kEraseReserve = "<ERASERESERVE>";
constexpr std::string_view kEraseRegistry = "<ERASEREGISTRY>";
constexpr std::string_view kEraseDisk = "<ERASEDISK>";
constexpr std::string_view kContinue = "<CONTINUE>";
constexpr std::string_view kBreak = "<BREAK>";

constexpr std::string_view kAck = "<ACK>";
constexpr std::string_view kNack = "<NACK>";
constexpr std::string_view kUpdatingFlash = "<UPDATING_FLASH>";
constexpr std::string_view kEraseStart = "<ERASE_START>";
constexpr std::string_view kEraseOk = "<ERASE_OK>";
constexpr std::string_view kNoSysArea = "<NO_SYS_AREA>";
constexpr std::string_view kNoReserve = "<NO_RESERVE>";
constexpr std::string_view kNoFileSystem = "<NO_FLASH_FILE_SYSTEM>";
constexpr std::string_view kOkLoad = "<OK_LOAD>";
constexpr std::string_view kCheckOk = "<CHECK_OK>";
constexpr std::string_view kCheckError = "<CHECK_ERROR>";
constexpr std::string_view kSizeError = "<SIZE_ERROR>";
constexpr std::string_view kSizeErrorExpanded = "<SIZE_ERROR><EXPANDED> ";
constexpr std::string_view kUpdateOk = "<UPDATE_OK>";
constexpr std::string_view kDestDifferQuery = "<DEST_DIFFER_QUERY> ";

constexpr std::size_t kRomHeadLength = 128;
constexpr Millis kBoardSpacing = 5;  // between the version answers of boards on one address

bool is_erase_command(std::string_view command) {
    return command == kErase || command == kEraseSys || command == kEraseUser ||
           command == kEraseReserve || command == kEraseRegistry || command == kEraseDisk;
}

}  // namespace

bool Chance::happens(double rate) {
    if (rate <= 0) {
        return false;
    }
    return (static_cast<double>(engine_()) + 0.5) / 4294967296.0 < rate;
}

BoardModel::BoardModel(BoardSettings settings)
    : settings_(std::move(settings)), layout_(settings_.flash_mib), refusals_(settings_.seed) {}

std::vector<Reply> BoardModel::on_datagram(PeerId peer, std::string_view datagram, Millis now) {
    if (settings_.silent) {
        return {};
    }
    // A tool run that died in the middle leaves an upload behind; the next run comes from
    // another port.
    if (state_ != State::idle && peer != load_.peer) {
        state_ = State::idle;
    }
    switch (state_) {
        case State::loading:
            return on_load_datagram(datagram, now);
        case State::awaiting_answer:
            return on_answer(peer, datagram, now);
        case State::idle:
            break;
    }
    return on_command(peer, without_trailing_zeros(datagram), now);
}

void BoardModel::on_datagram_lost(PeerId peer) {
    if (state_ != State::idle && peer == load_.peer) {
        load_.loss_known = true;
    }
}

void BoardModel::on_reply_lost(const Reply& reply) {
    if (state_ == State::idle || reply.to != load_.peer || reply.kind == ReplyKind::plain) {
        return;
    }
    load_.loss_known = true;
    if (reply.kind == ReplyKind::ack) {
        load_.repeat_expected = true;
    }
}

std::optional<Millis> BoardModel::next_timer() const {
    // A board that is told nothing of losses can only take a silence in an upload for one.
    bool loss_suspected = settings_.blind ? state_ == State::loading : load_.loss_known;
    if (state_ == State::idle || !settings_.lossy || !loss_suspected ||
        load_.nacks_in_row >= kMaxNacksInRow) {
        return std::nullopt;
    }
    return load_.quiet_since + kNackAfterSilence;
}

std::vector<Reply> BoardModel::on_timer(Millis now) {
    std::optional<Millis> due = next_timer();
    if (!due || now < *due) {
        return {};
    }
    ++load_.nacks_in_row;
    load_.loss_known = false;
    load_.quiet_since = now;
    return {{std::string(kNack), 0, load_.peer, ReplyKind::prompt}};
}

std::vector<Reply> BoardModel::on_command(PeerId peer, std::string_view command, Millis now) {
    if (command == kVersion) {
        answered_.active = false;
        return version_replies(peer);
    }
    if (answered_.active && answered_.peer == peer && answered_.command == command) {
        return replay_answer(now);
    }
    answered_.active = false;
    if (is_erase_command(command)) {
        return start_erase(peer, command, now);
    }
    if (command == kGetConfig) {
        Millis first = first_answer_delay();
        answered_ = {true, peer, std::string(command), now + first, now + first, ""};
        std::vector<Reply> replies;
        if (settings_.updating_flash) {
            replies.push_back({std::string(kUpdatingFlash), 0, peer});
        }
        for (Reply& reply : config_replies(peer, first)) {
            replies.push_back(std::move(reply));
        }
        return replies;
    }
    static constexpr std::array<std::pair<std::string_view, ImageKind>, 4> kUpdates{{
        {"<UPDATESYS>", ImageKind::system},
        {"<UPDATERESERVE>", ImageKind::reserve},
        {"<UPDATEROM>", ImageKind::rom},
        {"<FORMATDISK>", ImageKind::file_system},
    }};
    for (const auto& [text, kind] : kUpdates) {
        if (command == text) {
            return start_load(peer, kind, command, now);
        }
    }
    return {};
}

// A command the board has answered is sent again when the tool heard no answer: answer it the
// same way, without doing the work twice.
std::vector<Reply> BoardModel::replay_answer(Millis now) const {
    if (now < answered_.answer_at) {
        return {};
    }
    if (answered_.command == kGetConfig) {
        return config_replies(answered_.peer, 0);
    }
    std::vector<Reply> replies{{std::string(kEraseStart), 0, answered_.peer}};
    if (now >= answered_.verdict_at) {
        add_verdict(replies, answered_.verdict, 0, answered_.peer);
    }
    return replies;
}

std::vector<Reply> BoardModel::version_replies(PeerId peer) const {
    std::string text = std::string(kVersion) + " " + settings_.version_text;
    std::vector<Reply> replies;
    for (int board = 0; board < settings_.boards; ++board) {
        replies.push_back({text, board * kBoardSpacing, peer});
    }
    return replies;
}

std::vector<Reply> BoardModel::start_erase(PeerId peer, std::string_view command, Millis now) {
    std::string verdict = erase(command);
    Millis first = first_answer_delay();
    Millis length = verdict == kEraseOk ? settings_.erase_ms : 0;
    answered_ = {true, peer, std::string(command), now + first, now + first + length, verdict};
    std::vector<Reply> replies;
    if (settings_.updating_flash) {
        replies.push_back({std::string(kUpdatingFlash), 0, peer});
    }
    replies.push_back({std::string(kEraseStart), first, peer});
    add_talk(replies, "<ERASING>", first, length, peer);
    add_verdict(replies, verdict, first + length, peer);
    return replies;
}

std::vector<Reply> BoardModel::config_replies(PeerId peer, Millis first) const {
    std::vector<std::string> texts = flash_config_replies(layout_, contents_);
    std::vector<Reply> replies;
    for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
        replies.push_back({texts[i], first, peer});
    }
    add_verdict(replies, texts.back(), first, peer);
    return replies;
}

std::vector<Reply> BoardModel::start_load(PeerId peer, ImageKind kind, std::string_view command,
                                          Millis now) {
    Millis first = first_answer_delay();
    load_ = Load{};
    load_.peer = peer;
    load_.kind = kind;
    load_.command = command;
    load_.answer_at = now + first;
    load_.quiet_since = now + first;
    state_ = State::loading;
    std::vector<Reply> replies;
    if (settings_.updating_flash) {
        replies.push_back({std::string(kUpdatingFlash), 0, peer});
    }
    replies.push_back({std::string(kOkLoad), first, peer, ReplyKind::prompt});
    return replies;
}

std::vector<Reply> BoardModel::on_load_datagram(std::string_view datagram, Millis now) {
    load_.loss_known = false;
    load_.nacks_in_row = 0;
    load_.quiet_since = now;
    PeerId peer = load_.peer;
    if (load_.blocks == 0 && without_trailing_zeros(datagram) == load_.command) {
        if (now < load_.answer_at) {
            return {};
        }
        return {{std::string(kOkLoad), 0, peer, ReplyKind::prompt}};
    }
    // Blocks carry no numbers: after a lost acknowledgement the tool sends the same block again,
    // which would otherwise pass for the next one.
    if (load_.repeat_expected) {
        load_.repeat_expected = false;
        return {{std::string(kAck), 0, peer, ReplyKind::ack}};
    }
    if (std::optional<std::uint32_t> checksum = parse_end_load(datagram)) {
        return finish_load(*checksum);
    }
    if (datagram.size() > kMaxBlockLength || refusals_.happens(settings_.nack_rate)) {
        return {{std::string(kNack), 0, peer, ReplyKind::prompt}};
    }
    load_.checksum = add_to_checksum(load_.checksum, load_.bytes, datagram);
    if (settings_.keep_images) {
        load_.data += datagram;
    }
    if (load_.head.size() < kRomHeadLength) {
        load_.head += datagram.substr(0, kRomHeadLength - load_.head.size());
    }
    load_.bytes += datagram.size();
    ++load_.blocks;
    return {{std::string(kAck), 0, peer, ReplyKind::ack}};
}

std::vector<Reply> BoardModel::finish_load(std::uint32_t checksum) {
    PeerId peer = load_.peer;
    if (refusals_.happens(settings_.nack_rate)) {
        return {{std::string(kNack), 0, peer, ReplyKind::prompt}};
    }
    state_ = State::idle;
    std::vector<Reply> replies;
    if (checksum != load_.checksum) {
        add_verdict(replies, std::string(kCheckError), 0, peer);
        return replies;
    }
    replies.push_back({std::string(kCheckOk), 0, peer});
    if (load_.bytes > capacity(load_.kind)) {
        // A file-system image is expanded over its whole region, so the board names the room.
        std::string verdict =
            load_.kind == ImageKind::file_system
                ? std::string(kSizeErrorExpanded) + std::to_string(capacity(load_.kind))
                : std::string(kSizeError);
        add_verdict(replies, verdict, 0, peer);
        return replies;
    }
    if (load_.kind == ImageKind::rom) {
        load_.new_rom_type = sim::rom_board_type(load_.head);
        if (!load_.new_rom_type.empty() && load_.new_rom_type != settings_.board_type) {
            state_ = State::awaiting_answer;
            replies.push_back({bootloader_query(), 0, peer, ReplyKind::prompt});
            return replies;
        }
    }
    for (Reply& reply : write_image(0)) {
        replies.push_back(std::move(reply));
    }
    return replies;
}

std::vector<Reply> BoardModel::on_answer(PeerId peer, std::string_view datagram, Millis now) {
    std::string_view text = without_trailing_zeros(datagram);
    load_.loss_known = false;
    load_.nacks_in_row = 0;
    load_.quiet_since = now;
    if (text == kContinue) {
        return write_image(0);
    }
    if (text == kBreak) {
        state_ = State::idle;
        return {};
    }
    // The tool resends its end-of-load message when the question did not reach it.
    if (parse_end_load(datagram)) {
        return {{bootloader_query(), 0, peer, ReplyKind::prompt}};
    }
    state_ = State::idle;
    return on_command(peer, text, now);
}

std::vector<Reply> BoardModel::write_image(Millis start) {
    switch (load_.kind) {
        case ImageKind::system:
            contents_.system_bytes = load_.bytes;
            break;
        case ImageKind::reserve:
            contents_.reserve_bytes = load_.bytes;
            break;
        case ImageKind::rom:
            break;
        case ImageKind::file_system:
            contents_.file_system = true;
            break;
    }
    state_ = State::idle;
    if (settings_.keep_images) {
        written_ = std::move(load_.data);
        load_.data.clear();
    }
    std::vector<Reply> replies;
    add_talk(replies, "<UPDATING>", start, settings_.update_ms, load_.peer);
    add_verdict(replies, std::string(kUpdateOk), start + settings_.update_ms, load_.peer);
    return replies;
}

std::optional<std::string> BoardModel::take_written_image() {
    return std::exchange(written_, std::nullopt);
}

// Applies an erase command to the flash and returns the board's verdict.
std::string BoardModel::erase(std::string_view command) {
    if (command == kErase) {
        contents_.system_bytes = 0;
        contents_.reserve_bytes = 0;
        contents_.file_system = false;
        contents_.user = false;
    } else if (command == kEraseSys) {
        if (contents_.system_bytes == 0) {
            return std::string(kNoSysArea);
        }
        contents_.system_bytes = 0;
    } else if (command == kEraseUser) {
        contents_.user = false;
    } else if (command == kEraseReserve) {
        if (contents_.reserve_bytes == 0) {
            return std::string(kNoReserve);
        }
        contents_.reserve_bytes = 0;
    } else if (command == kEraseRegistry) {
        contents_.registry = false;
    } else if (command == kEraseDisk) {
        if (!contents_.file_system) {
            return std::string(kNoFileSystem);
        }
        contents_.file_system = false;
    }
    return std::string(kEraseOk);
}

// The board compares a bootloader with its own hardware, so the type it names first is always the
// simulated board type.
std::string BoardModel::bootloader_query() const {
    std::string query =
        std::string(kDestDifferQuery) + settings_.board_type + "|" + load_.new_rom_type;
    return query.substr(0, kMaxReplyLength);
}

std::uint64_t BoardModel::capacity(ImageKind kind) const {
    switch (kind) {
        case ImageKind::system:
            return layout_.system.size();
        case ImageKind::reserve:
            return layout_.reserve.size();
        case ImageKind::rom:
            return layout_.rom.size();
        case ImageKind::file_system:
            return layout_.file_system.size();
    }
    return 0;
}

// The tool waits for nothing after a verdict, so one lost verdict would leave it waiting out its
// timeout; when datagrams are being dropped the board sends it a few times.
void BoardModel::add_verdict(std::vector<Reply>& replies, std::string verdict, Millis at,
                             PeerId to) const {
    int copies = settings_.lossy ? kVerdictCopies : 1;
    for (int copy = 0; copy < copies; ++copy) {
        replies.push_back({verdict, at + copy * kVerdictSpacing, to});
    }
}

// Slow work reports its progress now and then, so that the tool's 20-second timeout never ends
// it.
void BoardModel::add_talk(std::vector<Reply>& replies, std::string_view what, Millis start,
                          Millis length, PeerId to) const {
    for (Millis at = kTalkInterval; at < length; at += kTalkInterval) {
        replies.push_back(
            {std::string(what) + " " + std::to_string(at * 100 / length) + "%", start + at, to});
    }
}

Millis BoardModel::first_answer_delay() const {
    return settings_.updating_flash ? kUpdatingFlashPause : 0;
}

}  // namespace sim
