// sim::parse_end_load, the board's reading of the tool's last upload datagram: it takes only
// "<END_LOAD> n" of even length with one terminating zero, and reads every checksum the tool
// formats back exactly.
#include <cstring>

#include "fuzz_check.h"
#include "sessions/upload_format.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view datagram = fuzz::as_text(data, size);
    std::optional<std::uint32_t> checksum = sim::parse_end_load(datagram);
    if (checksum) {
        FUZZ_CHECK(datagram.size() % 2 == 0 && datagram.starts_with("<END_LOAD> "));
        FUZZ_CHECK(datagram.find('\0') == datagram.size() - 1);
        // The tool's own datagram for that checksum reads the same.
        FUZZ_CHECK(sim::parse_end_load(format_end_load(*checksum)) == checksum);
    }
    if (size >= 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, data, sizeof value);
        FUZZ_CHECK(sim::parse_end_load(format_end_load(value)) == value);
    }
    return 0;
}
