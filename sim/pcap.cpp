#include "pcap.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace sim {

namespace {

constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4;
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kLinkTypeRawIp = 101;
constexpr std::size_t kIpHeaderLength = 20;
constexpr std::size_t kUdpHeaderLength = 8;
constexpr std::size_t kMaxPayload = 65535 - kIpHeaderLength - kUdpHeaderLength;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTimeToLive = 64;
constexpr std::uint16_t kDontFragment = 0x4000;

void put_le32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>(value >> shift & 0xFF);
    }
}

void put_be16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
}

void put_be32(std::string& out, std::uint32_t value) {
    put_be16(out, static_cast<std::uint16_t>(value >> 16));
    put_be16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

// The ones' complement sum of big-endian 16-bit words, an odd last byte padded with zero.
std::uint32_t add_words(std::uint32_t sum, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t high = static_cast<unsigned char>(bytes[i]);
        std::uint32_t low = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        sum += high << 8 | low;
    }
    return sum;
}

std::uint16_t fold_checksum(std::uint32_t sum) {
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void put_checksum(std::string& packet, std::size_t at, std::uint16_t checksum) {
    packet[at] = static_cast<char>(checksum >> 8);
    packet[at + 1] = static_cast<char>(checksum & 0xFF);
}

std::int64_t unix_microseconds_now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string pcap_file_header() {
    std::string header;
    put_le32(header, kPcapMagic);
    put_le32(header, 2 | 4 << 16);  // version 2.4: two 16-bit numbers
    put_le32(header, 0);            // time zone: UTC
    put_le32(header, 0);            // accuracy of the timestamps
    put_le32(header, kSnapLength);
    put_le32(header, kLinkTypeRawIp);
    return header;
}

std::string pcap_record(std::int64_t unix_microseconds, std::string_view packet) {
    std::string record;
    put_le32(record, static_cast<std::uint32_t>(unix_microseconds / 1000000));
    put_le32(record, static_cast<std::uint32_t>(unix_microseconds % 1000000));
    put_le32(record, static_cast<std::uint32_t>(packet.size()));
    put_le32(record, static_cast<std::uint32_t>(packet.size()));
    record += packet;
    return record;
}

std::string ipv4_udp_packet(Endpoint from, Endpoint to, std::string_view payload,
                            std::uint16_t identification) {
    payload = payload.substr(0, kMaxPayload);
    const auto udp_length = static_cast<std::uint16_t>(kUdpHeaderLength + payload.size());
    std::string packet;
    packet += '\x45';  // version 4, header of five 32-bit words
    packet += '\x00';
    put_be16(packet, static_cast<std::uint16_t>(kIpHeaderLength + udp_length));
    put_be16(packet, identification);
    put_be16(packet, kDontFragment);
    packet += static_cast<char>(kTimeToLive);
    packet += static_cast<char>(kProtocolUdp);
    put_be16(packet, 0);
    put_be32(packet, from.host);
    put_be32(packet, to.host);
    put_checksum(packet, 10, fold_checksum(add_words(0, packet)));

    put_be16(packet, from.port);
    put_be16(packet, to.port);
    put_be16(packet, udp_length);
    put_be16(packet, 0);
    packet += payload;
    // The UDP checksum covers a pseudo-header of the addresses, the protocol and the length.
    std::string pseudo;
    put_be32(pseudo, from.host);
    put_be32(pseudo, to.host);
    put_be16(pseudo, kProtocolUdp);
    put_be16(pseudo, udp_length);
    std::uint32_t sum = add_words(add_words(0, pseudo), std::string_view(packet).substr(20));
    std::uint16_t checksum = fold_checksum(sum);
    put_checksum(packet, 26, checksum == 0 ? 0xFFFF : checksum);
    return packet;
}

std::unique_ptr<PcapWriter> PcapWriter::create(const std::string& path, Endpoint board,
                                               std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    const std::string header = pcap_file_header();
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size() ||
        std::fflush(file) != 0) {
        error = std::strerror(errno);
        std::fclose(file);
        return nullptr;
    }
    return std::unique_ptr<PcapWriter>(new PcapWriter(file, board));
}

PcapWriter::~PcapWriter() {
    std::fclose(file_);
}

void PcapWriter::received(Endpoint peer, std::string_view datagram) {
    write(peer, board_, datagram);
}

void PcapWriter::sent(Endpoint peer, std::string_view datagram) {
    write(board_, peer, datagram);
}

void PcapWriter::write(Endpoint from, Endpoint to, std::string_view datagram) {
    const std::string record = pcap_record(
        unix_microseconds_now(), ipv4_udp_packet(from, to, datagram, next_identification_++));
    if ((std::fwrite(record.data(), 1, record.size(), file_) != record.size() ||
         std::fflush(file_) != 0) &&
        !write_failed_) {
        write_failed_ = true;
        std::fprintf(stderr, "tvflash-sim: capture file: %s\n", std::strerror(errno));
    }
}

}  // namespace sim
