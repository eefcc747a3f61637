#include "bench_core.h"

#include <algorithm>
#include <cstdio>

namespace bench {

std::uint32_t add_to_checksum(const unsigned char* bytes, std::size_t length, std::uint32_t sum) {
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        sum += (std::uint32_t{bytes[i]} << 24) | (std::uint32_t{bytes[i + 1]} << 16) |
               (std::uint32_t{bytes[i + 2]} << 8) | std::uint32_t{bytes[i + 3]};
    }
    std::uint32_t last = 0;
    for (int shift = 24; i < length; ++i, shift -= 8) {
        last |= std::uint32_t{bytes[i]} << shift;
    }
    return sum + last;
}

std::string end_load_datagram(std::uint32_t checksum) {
    std::string text = "<END_LOAD> " + std::to_string(static_cast<std::int32_t>(checksum));
    if (text.size() % 2 == 0) {
        text.push_back(' ');
    }
    text.push_back('\0');
    return text;
}

bool has_tag(std::string_view reply, std::string_view tag) {
    return reply.substr(0, tag.size()) == tag;
}

std::optional<std::uint16_t> listening_port(std::string_view output) {
    constexpr std::string_view kPrefix = "tvflash-sim listening on ";
    std::size_t start = output.find(kPrefix);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t end = output.find('\n', start);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view line = output.substr(start, end - start);
    std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == line.size()) {
        return std::nullopt;
    }
    unsigned long port = 0;
    for (char c : line.substr(colon + 1)) {
        if (c < '0' || c > '9' || port > 65535) {
            return std::nullopt;
        }
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

void ImageBytes::fill(unsigned char* out, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        // xorshift64: fast and the same on every machine.
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        out[i] = static_cast<unsigned char>(state_ >> 32);
    }
}

std::string firmware_image(std::size_t size, std::uint64_t seed) {
    constexpr std::size_t kBlock = 1024;
    std::string image(size, '\0');
    ImageBytes bytes(seed);
    for (std::size_t at = 0; at < size; at += kBlock) {
        std::size_t length = std::min(kBlock, size - at);
        std::size_t block = at / kBlock;
        if (block % 32 >= 20 && block % 32 < 23) {
            continue;  // zero padding between sections
        }
        if (block % 64 >= 60) {
            image.replace(at, length, length, '\xFF');  // erased flash at the end of a section
            continue;
        }
        bytes.fill(reinterpret_cast<unsigned char*>(image.data() + at), length);
    }
    return image;
}

std::string failure_line(std::string_view output) {
    std::string found;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        std::string_view line =
            output.substr(start, end == std::string_view::npos ? end : end - start);
        std::size_t at =
            std::min({line.find("FAILED ("), line.find("ERROR"), line.find("timeout")});
        if (at != std::string_view::npos) {
            found = line.substr(at);
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return found;
}

std::string failure_kind(std::string_view line) {
    std::string kind;
    for (std::size_t i = 0; i < line.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        bool follows_digit = i > 0 && line[i - 1] >= '0' && line[i - 1] <= '9';
        if (!digit) {
            kind += line[i];
        } else if (!follows_digit) {
            kind += 'N';
        }
    }
    return kind;
}

std::string update_outcome(bool timed_out, int status, std::string_view output, bool exact) {
    if (timed_out) {
        return "did not end";
    }
    if (status == 0) {
        return exact ? "exact" : "WRONG image";
    }
    std::string line = failure_line(output);
    return line.empty() ? "status " + std::to_string(status) + " without a failure line" : line;
}

double median(std::vector<double> samples) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    std::size_t middle = samples.size() / 2;
    if (samples.size() % 2 == 1) {
        return samples[middle];
    }
    return (samples[middle - 1] + samples[middle]) / 2;
}

namespace {

std::string format_double(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string format_seconds(double seconds) {
    return format_double("%.3f s", seconds);
}

std::string format_rate(double bytes, double seconds) {
    if (seconds <= 0) {
        return "-";
    }
    return format_double("%.1f MiB/s", bytes / seconds / (1024.0 * 1024.0));
}

std::string format_ratio(double numerator, double denominator) {
    if (denominator <= 0) {
        return "-";
    }
    return format_double("%.2fx", numerator / denominator);
}

std::string format_kib_as_mib(double kib) {
    return format_double("%.1f MiB", kib / 1024.0);
}

std::string format_milliseconds(double seconds) {
    return format_double("%.2f ms", seconds * 1000.0);
}

}  // namespace bench
