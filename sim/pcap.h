// Captures of the simulator's traffic: every datagram the board receives and sends, written to a
// file in the classic pcap format as raw IPv4 packets with their UDP headers and wall-clock
// timestamps, so that Wireshark or tshark reads it as if it had been recorded on the wire. No
// privileges and no capture library are needed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace sim {

// One end of a datagram: an IPv4 address and a port, both in host byte order.
struct Endpoint {
    std::uint32_t host = 0;
    std::uint16_t port = 0;
};

// The pcap file header: format 2.4, little-endian, microsecond timestamps, raw IP packets.
std::string pcap_file_header();

// One pcap record holding packet, stamped with microseconds since 1970.
std::string pcap_record(std::int64_t unix_microseconds, std::string_view packet);

// The IPv4 packet that carries payload in one UDP datagram from `from` to `to`, with a correct
// header checksum and UDP checksum. Payloads longer than an IPv4 datagram can carry are cut.
std::string ipv4_udp_packet(Endpoint from, Endpoint to, std::string_view payload,
                            std::uint16_t identification);

// A capture file being written; each datagram is flushed to the file at once, so the file is
// complete whenever the simulator stops.
class PcapWriter {
  public:
    // Creates (or empties) the file at path and writes its header; null with a reason in error
    // when the file cannot be written. board is the simulator's own address and port.
    static std::unique_ptr<PcapWriter> create(const std::string& path, Endpoint board,
                                              std::string& error);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // A datagram the board received from peer, or sent to it, at this moment.
    void received(Endpoint peer, std::string_view datagram);
    void sent(Endpoint peer, std::string_view datagram);

  private:
    PcapWriter(std::FILE* file, Endpoint board) : file_(file), board_(board) {}
    void write(Endpoint from, Endpoint to, std::string_view datagram);

    std::FILE* file_;
    Endpoint board_;
    std::uint16_t next_identification_ = 1;
    bool write_failed_ = false;  // reported once on standard error
};

}  // namespace sim
