// The simulated board as a pure state machine. It is given each datagram received (with the time
// and the sender) and returns the replies to send, each with its delay; it does no I/O, so a test
// can drive it datagram by datagram. Losses that the caller simulates are reported back to it, so
// that it can ask for repeats and tell a repeated block from the next one.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "flash_map.h"

namespace sim {

// Milliseconds on a steady clock, from any start.
using Millis = std::int64_t;

// The sender of a datagram and receiver of a reply: one address and port, as the caller numbers
// them.
using PeerId = std::uint64_t;

// How the board behaves, fixed for its life.
struct BoardSettings {
    std::string version_text = "Talvium 5.2 on PLN7/ZE (simulated)";
    std::string board_type = "PLN7/ZE";  // the hardware; a bootloader for another type is queried
    std::uint32_t flash_mib = 16;
    int boards = 1;               // boards answering "<VERSION>" on one address
    Millis erase_ms = 0;          // how long an erase takes
    Millis update_ms = 0;         // how long writing an update takes
    bool updating_flash = false;  // "<UPDATING_FLASH>" before the first answer to a command
    bool silent = false;          // answers nothing at all
    double nack_rate = 0;         // share of blocks and end-of-load messages refused
    bool lossy = false;           // the caller drops datagrams: ask for repeats, repeat verdicts
    std::uint32_t seed = 1;       // for the refusals of nack_rate
    bool blind = false;           // told of no loss: asks for a repeat after any silence
    bool keep_images = false;     // keeps each upload's bytes for take_written_image
};

// What a reply asks of the tool, which tells the board what a lost one costs.
enum class ReplyKind {
    plain,   // needs no answer
    ack,     // acknowledges a block; the tool sends its next datagram
    prompt,  // the tool must answer it ("<OK_LOAD>", "<NACK>", the bootloader question)
};

// One datagram to send to `to` after `delay` milliseconds.
struct Reply {
    std::string bytes;
    Millis delay = 0;
    PeerId to = 0;
    ReplyKind kind = ReplyKind::plain;
};

// Repeatable random choices: whether an event of the given rate (0 to 1) happens this time. The
// same seed gives the same sequence on every platform.
class Chance {
  public:
    explicit Chance(std::uint32_t seed) : engine_(seed) {}

    bool happens(double rate);

  private:
    std::mt19937 engine_;
};

// Board habits the tool's resend rules depend on.
inline constexpr Millis kUpdatingFlashPause = 1500;  // from "<UPDATING_FLASH>" to the answer
inline constexpr Millis kTalkInterval = 2000;        // progress text during slow work
inline constexpr Millis kNackAfterSilence = 300;     // silence before a "<NACK>"
inline constexpr int kMaxNacksInRow = 10;            // "<NACK>"s without an answer, then none
inline constexpr int kVerdictCopies = 3;             // a final verdict sent this often when lossy
inline constexpr Millis kVerdictSpacing = 100;       // between those copies

class BoardModel {
  public:
    explicit BoardModel(BoardSettings settings);

    // A datagram from peer at now; returns the replies in the order to send.
    std::vector<Reply> on_datagram(PeerId peer, std::string_view datagram, Millis now);

    // The caller dropped a datagram from peer before the board saw it.
    void on_datagram_lost(PeerId peer);

    // The caller dropped one of the board's replies instead of sending it.
    void on_reply_lost(const Reply& reply);

    // When on_timer next has something to do, if ever.
    std::optional<Millis> next_timer() const;

    // Runs the board's own timer; returns the replies it sends.
    std::vector<Reply> on_timer(Millis now);

    // The bytes of the update written since the last call, if any (kept only with keep_images).
    std::optional<std::string> take_written_image();

    const FlashLayout& layout() const { return layout_; }
    const FlashContents& contents() const { return contents_; }

  private:
    enum class State { idle, loading, awaiting_answer };
    enum class ImageKind { system, reserve, rom, file_system };

    // The command last answered, so that the tool's repeats of it are answered alike.
    struct Answered {
        bool active = false;
        PeerId peer = 0;
        std::string command;
        Millis answer_at = 0;   // when the first answer goes out
        Millis verdict_at = 0;  // when the erase verdict goes out
        std::string verdict;    // erase verdict; empty for other commands
    };

    // The upload in progress, from the update command to the end of the bootloader question.
    struct Load {
        PeerId peer = 0;
        ImageKind kind = ImageKind::system;
        std::string command;
        Millis answer_at = 0;
        std::uint64_t blocks = 0;
        std::uint64_t bytes = 0;
        std::uint32_t checksum = 0;
        std::string head;              // the first bytes of the image, for the bootloader's type
        std::string data;              // the whole image, with keep_images
        std::string new_rom_type;      // the type named by a bootloader awaiting the operator
        bool repeat_expected = false;  // the last acknowledgement was lost
        bool loss_known = false;       // a datagram of this exchange was lost since the last one
        int nacks_in_row = 0;
        Millis quiet_since = 0;
    };

    std::vector<Reply> on_command(PeerId peer, std::string_view command, Millis now);
    std::vector<Reply> on_load_datagram(std::string_view datagram, Millis now);
    std::vector<Reply> on_answer(PeerId peer, std::string_view datagram, Millis now);
    std::vector<Reply> replay_answer(Millis now) const;
    std::vector<Reply> version_replies(PeerId peer) const;
    std::vector<Reply> start_erase(PeerId peer, std::string_view command, Millis now);
    std::vector<Reply> config_replies(PeerId peer, Millis first) const;
    std::vector<Reply> start_load(PeerId peer, ImageKind kind, std::string_view command,
                                  Millis now);
    std::vector<Reply> finish_load(std::uint32_t checksum);
    std::vector<Reply> write_image(Millis start);
    std::string erase(std::string_view command);
    std::string bootloader_query() const;
    std::uint64_t capacity(ImageKind kind) const;
    void add_verdict(std::vector<Reply>& replies, std::string verdict, Millis at, PeerId to) const;
    void add_talk(std::vector<Reply>& replies, std::string_view what, Millis start, Millis length,
                  PeerId to) const;
    Millis first_answer_delay() const;

    BoardSettings settings_;
    FlashLayout layout_;
    FlashContents contents_;
    State state_ = State::idle;
    Answered answered_;
    Load load_;
    Chance refusals_;
    std::optional<std::string> written_;
};

}  // namespace sim
