#include "scan.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "os/net.h"
#include "plan/targets.h"
#include "sessions/framing.h"
#include "text.h"

namespace fleet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kVersionTag = "<VERSION>";
constexpr std::size_t kVersionTextOffset = 10;
constexpr std::size_t kAddressColumn = 17;

// Where the scan sent its datagrams: the addresses in ascending order, and the port.
struct Asked {
    const std::vector<std::uint32_t>& hosts;
    std::uint16_t port;

    // As on the tool's connected socket, only the service's own port counts, and only the
    // addresses asked: a board that answers from another address of its own is not counted there.
    bool answers(const net::Datagram& datagram) const {
        return datagram.port == port &&
               std::binary_search(hosts.begin(), hosts.end(), datagram.address);
    }
};

// Takes every answer that comes until the deadline.
void listen_until(net::UdpSocket& socket, const Asked& asked, Clock::time_point deadline,
                  Answers& answers) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        std::optional<net::Datagram> datagram =
            socket.receive(std::max(left, std::chrono::milliseconds(0)));
        if (!datagram) {
            if (Clock::now() >= deadline) {
                return;
            }
            continue;
        }
        std::optional<std::string> text = version_text(datagram->bytes);
        if (asked.answers(*datagram) && text) {
            answers[datagram->address].push_back(*text);
        }
    }
}

struct Sent {
    std::size_t failures = 0;
    std::string first_error;
};

Sent send_paced(net::UdpSocket& socket, const Asked& asked, Answers& answers) {
    Sent sent;
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < asked.hosts.size(); ++i) {
        std::string error;
        if (!socket.send_to(asked.hosts[i], asked.port, kVersionTag, error)) {
            sent.first_error = sent.failures++ == 0 ? error : sent.first_error;
        }
        listen_until(socket, asked, start + kScanPacing * static_cast<int>(i + 1), answers);
    }
    return sent;
}

int scan_error(const std::string& message) {
    std::fprintf(stderr, "tvflash-fleet: %s\n", message.c_str());
    return 2;
}

}  // namespace

std::optional<std::string> version_text(std::string_view datagram) {
    std::string_view text = datagram.substr(0, datagram.find('\0'));
    text = text.substr(0, kMessageBufferSize - 1);
    if (!has_tag(text, kVersionTag)) {
        return std::nullopt;
    }
    return std::string(text_from(text, kVersionTextOffset));
}

std::vector<std::string> format_scan_rows(const Answers& answers) {
    std::vector<std::string> rows;
    for (const auto& [address, texts] : answers) {
        std::string row = pad(format_ipv4(address), kAddressColumn) + one_line(texts.front());
        if (texts.size() > 1) {
            row += "  CONFLICT (" + std::to_string(texts.size()) + " answers)";
        }
        rows.push_back(row);
    }
    return rows;
}

int run_scan(const Options& options) {
    ParsedRange range = parse_range(options.range);
    if (!range.range) {
        return scan_error(range.error);
    }
    std::optional<std::uint32_t> port = parse_number(options.port, 1, 65535);
    if (!port) {
        return scan_error(quote(options.port) + " is not a port from 1 to 65535");
    }
    net::UdpSocket socket;
    std::string error;
    if (!socket.open(error)) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
        return 1;
    }
    const std::vector<std::uint32_t> hosts = host_addresses(*range.range);
    const Clock::time_point start = Clock::now();
    Answers answers;
    const Asked asked{hosts, static_cast<std::uint16_t>(*port)};
    Sent sent = send_paced(socket, asked, answers);
    listen_until(socket, asked, Clock::now() + kScanListening, answers);
    for (const std::string& row : format_scan_rows(answers)) {
        std::printf("%s\n", row.c_str());
    }
    if (sent.failures > 0) {
        std::fprintf(stderr, "tvflash-fleet: %zu of %zu datagrams could not be sent (%s)\n",
                     sent.failures, hosts.size(), sent.first_error.c_str());
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "%zu of %zu addresses answered in %s s\n", answers.size(), hosts.size(),
                 format_seconds(seconds).c_str());
    return answers.empty() ? 1 : 0;
}

}  // namespace fleet
