#include "sessions/flash_table.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>

namespace {

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

TEST(AreaTypeName, KnownAndUnknownTypes) {
    const struct {
        AreaType type;
        std::string name;
    } samples[] = {
        {0, "Free"},          {1, "Free for Reserve System"},
        {2, "User"},          {3, "System"},
        {4, "File System"},   {5, "Reserve System"},
        {6, "Registry"},      {7, "ROM"},
        {8, "Unknown"},       {255, "Unknown"},
        {-1, "Unknown"},      {kIntMin, "Unknown"},
        {kIntMax, "Unknown"},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(area_type_name(sample.type), sample.name) << sample.type;
    }
}

TEST(ParseAreaReply, FieldsAndPartialParses) {
    const AreaRow previous{0x11111111u, 0x22222222u, 5};
    const struct {
        std::string reply;
        int fields;
        AreaRow row;
    } samples[] = {
        {"<FLASH_CONFIG_DATA> 0 3FFFF 3", 3, {0, 0x3FFFFu, 3}},
        {"<FLASH_CONFIG_DATA> 0x00040000 0X7ffff 2", 3, {0x40000u, 0x7FFFFu, 2}},
        {"<FLASH_CONFIG_DATA>\t  a0000 \r\n bffff\v-1", 3, {0xA0000u, 0xBFFFFu, -1}},
        {"<FLASH_CONFIG_DATA>0 FF +4", 3, {0, 0xFFu, 4}},
        {"<FLASH_CONFIG_DATA> 10 20 3 trailing text", 3, {0x10u, 0x20u, 3}},
        {"<FLASH_CONFIG_DATA> 10 20 6junk", 3, {0x10u, 0x20u, 6}},
        // Wider than 32 bits: only the low 32 bits count; a minus negates modulo 2^32.
        {"<FLASH_CONFIG_DATA> 123456789 FFFFFFFFFFFFFFFFFFFFFFF1 7",
         3,
         {0x23456789u, 0xFFFFFFF1u, 7}},
        {"<FLASH_CONFIG_DATA> -1 +0x10 0", 3, {0xFFFFFFFFu, 0x10u, 0}},
        // Types beyond the int range saturate, so they can never pass for a known type.
        {"<FLASH_CONFIG_DATA> 0 0 2147483648", 3, {0, 0, kIntMax}},
        {"<FLASH_CONFIG_DATA> 0 0 4294967299", 3, {0, 0, kIntMax}},
        {"<FLASH_CONFIG_DATA> 0 0 -2147483649", 3, {0, 0, kIntMin}},
        {"<FLASH_CONFIG_DATA> 0 0 -99999999999999999999999", 3, {0, 0, kIntMin}},
        {"<FLASH_CONFIG_DATA> 0 0 2147483647", 3, {0, 0, kIntMax}},
        {"<FLASH_CONFIG_DATA> 0 0 -2147483648", 3, {0, 0, kIntMin}},
        // A bare "0x" reads as 0, as the C library takes it.
        {"<FLASH_CONFIG_DATA> 0x 20 1", 3, {0, 0x20u, 1}},
        // Partial parses keep the previous values of the fields not read.
        {"<FLASH_CONFIG_DATA> 10 20", 2, {0x10u, 0x20u, 5}},
        {"<FLASH_CONFIG_DATA> 10 20 x", 2, {0x10u, 0x20u, 5}},
        {"<FLASH_CONFIG_DATA> 10 zz 1", 1, {0x10u, 0x22222222u, 5}},
        {"<FLASH_CONFIG_DATA> 1g 20 3", 1, {0x1u, 0x22222222u, 5}},
        {"<FLASH_CONFIG_DATA> - 20 3", 0, previous},
        {"<FLASH_CONFIG_DATA>", 0, previous},
        {"<FLASH_CONFIG_DATA>   ", 0, previous},
        {"<flash_config_data> 1 2 3", 0, previous},
    };
    for (const auto& sample : samples) {
        AreaRow row = previous;
        EXPECT_EQ(parse_area_reply(sample.reply, row), sample.fields) << sample.reply;
        EXPECT_EQ(std::tie(row.start, row.end, row.type),
                  std::tie(sample.row.start, sample.row.end, sample.row.type))
            << sample.reply;
    }
}

// Within the 32-bit range the parser takes what the C library's scan pattern takes.
TEST(ParseAreaReply, AgreesWithScanPatternInRange) {
    const std::string replies[] = {
        "<FLASH_CONFIG_DATA> 0 3FFFF 3",
        "<FLASH_CONFIG_DATA>0x10 0Xab -7",
        "<FLASH_CONFIG_DATA>\n\t1f\f2e  +9",
        "<FLASH_CONFIG_DATA> 10 20",
        "<FLASH_CONFIG_DATA> 10 zz 1",
        "<FLASH_CONFIG_DATA> ffffffff 0 2147483647",
        "<FLASH_CONFIG_DATA> 0x 20 1",
        "<FLASH_CONFIG_DATA> 1 2 - 3",
        "<FLASH_CONFIG_DATA>",
        "<FLASH_CONFIG_DATA> +abc -0 00012",
    };
    for (const std::string& reply : replies) {
        std::uint32_t start = 7, end = 8;
        std::int32_t type = 9;
        int fields =
            std::sscanf(reply.c_str(), "<FLASH_CONFIG_DATA> %" SCNx32 " %" SCNx32 " %" SCNd32,
                        &start, &end, &type);
        AreaRow row{7, 8, 9};
        EXPECT_EQ(parse_area_reply(reply, row), fields < 0 ? 0 : fields) << reply;
        EXPECT_EQ(std::tie(row.start, row.end, row.type), std::tie(start, end, type)) << reply;
    }
}

TEST(FormatAreaRow, RowsAndWrappedSizes) {
    const struct {
        AreaRow row;
        std::string line;
    } samples[] = {
        {{0, 0x3FFFFu, 3},
         "0x00000000 - 0x0003FFFF | System                      |  262144 ( 256K) bytes\n"},
        {{0x40000u, 0x7FFFFu, 1},
         "0x00040000 - 0x0007FFFF | Free for Reserve System     |  262144 ( 256K) bytes\n"},
        {{0x00800000u, 0x00FFFFFFu, 4},
         "0x00800000 - 0x00FFFFFF | File System                 | 8388608 (8192K) bytes\n"},
        {{0x1000u, 0x13FFu, 7},
         "0x00001000 - 0x000013FF | ROM                         |    1024 (   1K) bytes\n"},
        {{0x1000u, 0x10FFu, 6},
         "0x00001000 - 0x000010FF | Registry                    |     256 (   0K) bytes\n"},
        {{0, 0xFFFFFFFFu, 0},
         "0x00000000 - 0xFFFFFFFF | Free                        |       0 (   0K) bytes\n"},
        {{0x200u, 0xFFu, -1},
         "0x00000200 - 0x000000FF | Unknown                     | 4294967040 (4194303K) bytes\n"},
        {{0xABCDEF00u, 0xABCDEF00u, 8},
         "0xABCDEF00 - 0xABCDEF00 | Unknown                     |       1 (   0K) bytes\n"},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(format_area_row(sample.row), sample.line);
    }
}

TEST(FormatAreaRow, BarsStandUnderTheHeading) {
    const std::string header = kFlashTableHeader;
    const std::string heading =
        "      Address Range     |          Area Name          |          Size\n";
    ASSERT_NE(header.find(heading), std::string::npos);
    const std::string row = format_area_row({0, 0x3FFFFu, 1});
    EXPECT_EQ(row.find('|'), heading.find('|'));
    EXPECT_EQ(row.rfind('|'), heading.rfind('|'));
    EXPECT_EQ(heading.find('|'), 24u);
    EXPECT_EQ(heading.rfind('|'), 54u);
    EXPECT_EQ(std::string(kFlashTableRule), std::string(79, '-') + "\n");
}

TEST(ReadTotalSize, NumberAfterTagAndSeparator) {
    const struct {
        std::string reply;
        double total;
    } samples[] = {
        {"<FLASH_CONFIG_END> 16", 16},
        {"<FLASH_CONFIG_END> 0.5", 0.5},
        {"<FLASH_CONFIG_END>    2.25 MiB", 2.25},
        {"<FLASH_CONFIG_END>x1.5", 1.5},
        {"<FLASH_CONFIG_END>2.5", 0.5},  // the separator position is skipped whatever holds it
        {"<FLASH_CONFIG_END>", 0},
        {"<FLASH_CONFIG_END> ", 0},
        {"<FLASH_CONFIG_END> none", 0},
        {"<FLASH_CONFIG_END> -3", -3},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(read_total_size(sample.reply), sample.total) << sample.reply;
    }
    EXPECT_EQ(read_total_size("<FLASH_CONFIG_END> 1e999"), std::numeric_limits<double>::infinity());
}

TEST(FormatTotalLine, WholeFractionalAndSmallTotals) {
    const struct {
        double total;
        std::string line;
    } samples[] = {
        {16, "Total size of flash memory 16M bytes.\n"},
        {0, "Total size of flash memory 0M bytes.\n"},
        {0.5, "Total size of flash memory 512K bytes.\n"},
        {0.3, "Total size of flash memory 307K bytes.\n"},
        {1.5, "Total size of flash memory 1.500M bytes.\n"},
        {2.25, "Total size of flash memory 2.250M bytes.\n"},
        {0.0009765625, "Total size of flash memory 1K bytes.\n"},
        {4096, "Total size of flash memory 4096M bytes.\n"},
        {-0.5, "Total size of flash memory -512K bytes.\n"},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(format_total_line(sample.total), sample.line) << sample.total;
    }
    const std::string huge = format_total_line(1e308);
    EXPECT_EQ(huge.size(), 27u + 309u + 9u);
    EXPECT_EQ(huge.substr(huge.size() - 9), "M bytes.\n");
}

}  // namespace
