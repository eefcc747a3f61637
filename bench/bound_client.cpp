#include "bound_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string_view>

#include "bench_core.h"

namespace bench {

namespace {

constexpr std::size_t kBlockSize = 1024;
constexpr int kCommandTries = 20;
constexpr int kCommandWaitMs = 1000;
constexpr int kReplyTimeoutMs = 20000;
// The probe's listening window for further boards: 20 waits of 50 ms, as the tool makes it.
constexpr int kCollectionWaits = 20;
constexpr int kCollectionWaitMs = 50;

int connect_to_board(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in board{};
    board.sin_family = AF_INET;
    board.sin_port = htons(port);
    board.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Replies are awaited with a blocking receive under the socket's own time limit.
    timeval limit{kReplyTimeoutMs / 1000, 0};
    if (connect(fd, reinterpret_cast<const sockaddr*>(&board), sizeof board) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool send_bytes(int fd, std::string_view bytes) {
    return send(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

// One reply as text; empty after 20 seconds of silence or on a failure. One system call per
// reply, the least a client can make.
std::string receive_reply(int fd) {
    char buffer[128];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(got));
}

// One reply within timeout_ms (timed as precisely as the tool's waits), or empty.
std::string receive_within(int fd, int timeout_ms) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, timeout_ms) <= 0) {
        return {};
    }
    return receive_reply(fd);
}

// Sends command until a reply with tag arrives, once a second like the tool's repeats.
bool command_until(int fd, std::string_view command, std::string_view tag) {
    for (int attempt = 0; attempt < kCommandTries; ++attempt) {
        if (!send_bytes(fd, command)) {
            return false;
        }
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kCommandWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (has_tag(receive_within(fd, kCommandWaitMs), tag)) {
                return true;
            }
        }
    }
    return false;
}

bool probe(std::uint16_t port) {
    int fd = connect_to_board(port);
    if (fd < 0) {
        return false;
    }
    bool answered = command_until(fd, "<VERSION>", "<VERSION>");
    int boards = answered ? 1 : 0;
    for (int i = 0; answered && i < kCollectionWaits; ++i) {
        if (has_tag(receive_within(fd, kCollectionWaitMs), "<VERSION>")) {
            ++boards;
        }
    }
    close(fd);
    return boards == 1;
}

// Sends data and waits for its "<ACK>", sending it again on "<NACK>".
bool send_acknowledged(int fd, std::string_view data) {
    if (!send_bytes(fd, data)) {
        return false;
    }
    for (;;) {
        std::string reply = receive_reply(fd);
        if (reply.empty()) {
            return false;
        }
        if (has_tag(reply, "<ACK>")) {
            return true;
        }
        if (has_tag(reply, "<NACK>") && !send_bytes(fd, data)) {
            return false;
        }
    }
}

// Sends the image; returns false when the file or the link failed.
bool send_blocks(int fd, std::FILE* image, std::uint32_t& checksum) {
    unsigned char block[kBlockSize];
    for (;;) {
        std::size_t length = std::fread(block, 1, sizeof block, image);
        if (length == 0) {
            return std::ferror(image) == 0;
        }
        checksum = add_to_checksum(block, length, checksum);
        std::string_view data(reinterpret_cast<const char*>(block), length);
        if (!send_acknowledged(fd, data)) {
            return false;
        }
    }
}

// Waits for the verdicts; "<NACK>" asks for the end-of-load message again.
bool await_update_ok(int fd, std::string_view end_load) {
    for (;;) {
        std::string reply = receive_reply(fd);
        if (reply.empty()) {
            return false;
        }
        if (has_tag(reply, "<UPDATE_OK>")) {
            return true;
        }
        if (has_tag(reply, "<NACK>")) {
            if (!send_bytes(fd, end_load)) {
                return false;
            }
            continue;
        }
        bool verdict_pending = has_tag(reply, "<CHECK_OK>") || has_tag(reply, "<UPDATING_FLASH>");
        if (!verdict_pending && reply.front() == '<' && !has_tag(reply, "<ACK>")) {
            std::fprintf(stderr, "board refused the image: %s\n", reply.c_str());
            return false;
        }
    }
}

int upload(std::uint16_t port, std::FILE* image) {
    int fd = connect_to_board(port);
    if (fd < 0) {
        return 1;
    }
    if (!command_until(fd, "<UPDATESYS>", "<OK_LOAD>")) {
        close(fd);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    std::uint32_t checksum = 0;
    bool sent = send_blocks(fd, image, checksum);
    std::string end_load = end_load_datagram(checksum);
    sent = sent && send_bytes(fd, end_load);
    double block_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bool taken = sent && await_update_ok(fd, end_load);
    close(fd);
    if (!taken) {
        return 1;
    }
    std::printf("block_seconds %.6f\n", block_seconds);
    return 0;
}

}  // namespace

int run_bound_probe(std::uint16_t port) {
    return probe(port) ? 0 : 1;
}

int run_bound_erase(std::uint16_t port) {
    if (!probe(port)) {
        return 1;
    }
    int fd = connect_to_board(port);
    if (fd < 0) {
        return 1;
    }
    bool started = command_until(fd, "<ERASESYS>", "<ERASE_START>");
    std::string verdict = started ? receive_reply(fd) : std::string();
    close(fd);
    if (!has_tag(verdict, "<ERASE_OK>")) {
        return 1;
    }
    std::printf("OK.\n");
    return 0;
}

int run_bound_client(std::uint16_t port, const std::string& image_path) {
    std::FILE* image = std::fopen(image_path.c_str(), "rb");
    if (image == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", image_path.c_str());
        return 1;
    }
    int status = probe(port) ? upload(port, image) : 1;
    std::fclose(image);
    return status;
}

}  // namespace bench
