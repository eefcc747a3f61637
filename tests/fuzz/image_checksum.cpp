// image_checksum with format_end_load. The checksum of an image fed in blocks (each but the last
// a multiple of 4 bytes long, as the upload's 1024-byte blocks are) equals one call over the
// whole and the board's own sum; the end-of-load datagram has an even length, one terminating
// zero, and gives the checksum back to the board's reader.
#include <string>

#include "fuzz_check.h"
#include "sessions/upload_format.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the block length: 4 to 1024 bytes, a multiple of 4.
    std::size_t block = 4u * (1u + data[0] % 256u);
    const std::uint8_t* image = data + 1;
    std::size_t length = size - 1;
    std::uint32_t whole = image_checksum(image, length, 0);
    std::uint32_t pieces = 0;
    for (std::size_t at = 0; at < length; at += block) {
        pieces = image_checksum(image + at, length - at < block ? length - at : block, pieces);
    }
    FUZZ_CHECK(pieces == whole);
    FUZZ_CHECK(sim::add_to_checksum(0, 0, fuzz::as_text(image, length)) == whole);

    std::string datagram = format_end_load(whole);
    FUZZ_CHECK(datagram.size() % 2 == 0);
    FUZZ_CHECK(datagram.find('\0') == datagram.size() - 1);
    FUZZ_CHECK(datagram.starts_with("<END_LOAD> "));
    std::optional<std::uint32_t> read_back = sim::parse_end_load(datagram);
    FUZZ_CHECK(read_back.has_value() && *read_back == whole);
    return 0;
}
