// The pure parts of the upload benchmark: the wire texts its minimal client needs, the test
// images it writes, and the statistics and formats of its table. No I/O here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The tool and the simulator the benchmarks run unless told otherwise; the build sets them to its
// own programs.
#ifndef TVFLASH_BENCH_TOOL
#define TVFLASH_BENCH_TOOL ""
#endif
#ifndef TVFLASH_BENCH_SIM
#define TVFLASH_BENCH_SIM ""
#endif

namespace bench {

// The image checksum the board verifies: the sum modulo 2^32 of the bytes taken as big-endian
// 32-bit words, a last partial word padded with zero bytes. Blocks may be fed in order as long as
// every block but the last has a length divisible by 4.
std::uint32_t add_to_checksum(const unsigned char* bytes, std::size_t length, std::uint32_t sum);

// The end-of-load datagram for a checksum: "<END_LOAD> n" with n signed, a space appended when
// needed so that the text with its terminating zero has an even length, and that zero included.
std::string end_load_datagram(std::uint32_t checksum);

// Whether a reply begins with tag.
bool has_tag(std::string_view reply, std::string_view tag);

// The port in the simulator's start-up line "tvflash-sim listening on ADDRESS:PORT", if the text
// holds a complete such line.
std::optional<std::uint16_t> listening_port(std::string_view output);

// A repeatable stream of pseudo-random bytes for the test images.
class ImageBytes {
  public:
    explicit ImageBytes(std::uint64_t seed) : state_(seed == 0 ? 1 : seed) {}

    // Fills length bytes at out.
    void fill(unsigned char* out, std::size_t length);

  private:
    std::uint64_t state_;
};

// An image of size bytes shaped like firmware: random code-like bytes with whole 1024-byte blocks
// of 0x00 and 0xFF padding here and there, the same for the same seed.
std::string firmware_image(std::size_t size, std::uint64_t seed);

// The line that reports a failure in a run's output: from "FAILED (", "ERROR" or "timeout" to the
// end of the last line holding one; empty when none does.
std::string failure_line(std::string_view output);

// A failure line with each run of digits replaced by N, so that runs failing alike at different
// blocks or counts are counted together.
std::string failure_kind(std::string_view line);

// What one update run came to: "did not end", "exact" (status 0 and the board holds the image),
// "WRONG image" (status 0, the board holds something else) or the failure line.
std::string update_outcome(bool timed_out, int status, std::string_view output, bool exact);

// The median of the samples (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> samples);

// Table cells: "1.234 s", "12.3 MiB/s", "0.456 s", "1.08x", "2.9 MiB" ("-" for a value that is not
// known, such as a rate over no time).
std::string format_seconds(double seconds);
std::string format_rate(double bytes, double seconds);
std::string format_ratio(double numerator, double denominator);
std::string format_kib_as_mib(double kib);

// A time in seconds as milliseconds with two decimals: "0.42 ms".
std::string format_milliseconds(double seconds);

}  // namespace bench
