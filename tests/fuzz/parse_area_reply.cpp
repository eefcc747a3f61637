// parse_area_reply with format_area_row. A row that the board formats (as tvflash-sim does, in a
// few spellings) parses back to the same fields; any reply keeps the fields it cannot read; every
// formatted row is one line whose "|" stand under the heading's (columns 25 and 55), of the
// width of the table's rows whenever the size fits its columns (below 10,000,000 bytes).
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "sessions/flash_table.h"

namespace {

constexpr std::size_t kRowWidth = 77;  // "0x%08X - 0x%08X | %-27s | %7u (%4uK) bytes"

std::uint32_t word_at(const std::uint8_t* data) {
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return value;
}

void check_row(const AreaRow& row) {
    std::string line = format_area_row(row);
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    FUZZ_CHECK(line.find('\n') == line.size() - 1);
    FUZZ_CHECK(line.size() > 55 && line[24] == '|' && line[54] == '|');
    FUZZ_CHECK(line.find('|', 55) == std::string::npos);
    std::uint32_t size = area_size(row);
    if (size < 10000000u) {
        FUZZ_CHECK(line.size() == kRowWidth + 1);
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " %" PRIu32 " (%4" PRIu32 "K) bytes\n", size, size / 1024u);
    FUZZ_CHECK(line.ends_with(tail));
}

void check_round_trip(std::uint32_t start, std::uint32_t end, std::int32_t type,
                      unsigned spelling) {
    static const char* const kFormats[] = {
        "<FLASH_CONFIG_DATA> 0x%08" PRIX32 " 0x%08" PRIX32 " %" PRId32,
        "<FLASH_CONFIG_DATA> %" PRIx32 " %" PRIx32 " %" PRId32,
        "<FLASH_CONFIG_DATA>\t0X%" PRIX32 "   %" PRIX32 "\n%+" PRId32,
        "<FLASH_CONFIG_DATA>0x%" PRIx32 " 0x%" PRIx32 " %" PRId32 " trailing",
    };
    char reply[128];
    std::snprintf(reply, sizeof reply, kFormats[spelling % 4], start, end, type);
    AreaRow row{~start, ~end, ~type};
    FUZZ_CHECK(parse_area_reply(reply, row) == 3);
    FUZZ_CHECK(row.start == start && row.end == end && row.type == type);
    check_row(row);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 13) {
        check_round_trip(word_at(data), word_at(data + 4),
                         static_cast<std::int32_t>(word_at(data + 8)), data[12]);
    }
    std::string_view reply = fuzz::as_text(data, size < 127 ? size : 127);
    reply = reply.substr(0, reply.find('\0'));
    for (std::string prefix : {"", "<FLASH_CONFIG_DATA> "}) {
        std::string text = (prefix + std::string(reply)).substr(0, 127);
        const AreaRow before{0x12345678u, 0x9ABCDEF0u, -7};
        AreaRow row = before;
        int fields = parse_area_reply(text, row);
        FUZZ_CHECK(fields >= 0 && fields <= 3);
        FUZZ_CHECK(fields >= 1 || row.start == before.start);
        FUZZ_CHECK(fields >= 2 || row.end == before.end);
        FUZZ_CHECK(fields >= 3 || row.type == before.type);
        check_row(row);
    }
    return 0;
}
