// BoardModel::on_datagram, the simulator's reading of whatever reaches its port: a run of
// datagrams from two senders (each a length byte and its bytes) with the board's timer between
// them. Every reply fits the tool's 128-byte reply buffer with its zero, goes to a sender the
// board has heard, and is never due before the datagram or timer that caused it.
#include <set>

#include "board_model.h"
#include "fuzz_check.h"
#include "wire.h"

namespace {

void check_replies(const std::vector<sim::Reply>& replies, const std::set<sim::PeerId>& heard) {
    for (const sim::Reply& reply : replies) {
        FUZZ_CHECK(reply.bytes.size() <= sim::kMaxReplyLength);
        FUZZ_CHECK(heard.count(reply.to) == 1);
        FUZZ_CHECK(reply.delay >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    sim::BoardSettings settings;
    settings.boards = 1 + data[0] % 2;
    settings.updating_flash = (data[0] & 2) != 0;
    settings.lossy = (data[0] & 4) != 0;
    settings.nack_rate = (data[0] & 8) != 0 ? 0.2 : 0;
    settings.erase_ms = (data[0] & 16) != 0 ? 3000 : 0;
    settings.update_ms = (data[0] & 32) != 0 ? 3000 : 0;
    settings.board_type = (data[0] & 64) != 0 ? "KRD/4Q" : "PLN7/ZE";
    sim::BoardModel board(settings);
    std::set<sim::PeerId> heard;
    sim::Millis now = 0;
    for (std::size_t at = 1; at < size;) {
        std::size_t length = data[at] & 0x7F;
        sim::PeerId peer = 1 + (data[at] >> 7);
        ++at;
        length = length < size - at ? length : size - at;
        std::string_view datagram = fuzz::as_text(data + at, length);
        at += length;
        heard.insert(peer);
        now += 50;
        check_replies(board.on_datagram(peer, datagram, now), heard);
        for (std::optional<sim::Millis> due = board.next_timer(); due && *due <= now + 5000;
             due = board.next_timer()) {
            now = *due > now ? *due : now;
            check_replies(board.on_timer(now), heard);
        }
    }
    return 0;
}
