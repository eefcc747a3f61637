// The Windows demo's pure parts: its image, the readers of the simulator's and the tool's output,
// the judging of each step and the quoting of command-line arguments.
#include "demo_core.h"

#include <gtest/gtest.h>

TEST(DemoCore, ImageIsTheOneDemoShWrites) {
    const std::string image = demo::demo_image(demo::kImageSize);
    ASSERT_EQ(image.size(), 307200u);
    // The first and last bytes that scripts/demo.sh's generator writes.
    EXPECT_EQ(image.substr(0, 8), "\x68\x4D\x95\x91\xB8\xB3\xF0\x27");
    EXPECT_EQ(image.substr(307196), "\x54\xE9\x28\x46");
}

TEST(DemoCore, ReadsTheListeningPortAndTheSystemRow) {
    const std::pair<std::string, std::optional<std::uint16_t>> listening[] = {
        {"tvflash-sim listening on 127.0.0.1:52311\n", 52311},
        {"tvflash-sim listening on 127.0.0.1:4000\r\n", 4000},
        {"tvflash-sim listening on 127.0.0.1:52311", std::nullopt},  // not whole yet
        {"tvflash-sim listening on 127.0.0.1:70000\n", std::nullopt},
        {"tvflash-sim listening on 10.0.0.1:4000\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, port] : listening) {
        EXPECT_EQ(demo::listening_port(text), port) << text;
    }
    const std::string free_row =
        "0x00340000 - 0x005FFFFF | Free             | 2883584 (2816K) bytes\n";
    const std::pair<std::string, std::optional<std::uint64_t>> rows[] = {
        {free_row + "0x00040000 - 0x0033FFFF | System      | 3145728 (3072K) bytes\n", 3145728},
        {"0x00040000 - 0x0008FFFF | System                      |  327680 ( 320K) bytes", 327680},
        {free_row, std::nullopt},
        {"0x00600000 - 0x007BFFFF | Reserve System | 1835008 (1792K) bytes\n", std::nullopt},
    };
    for (const auto& [text, size] : rows) {
        EXPECT_EQ(demo::system_area_size(text), size) << text;
    }
    EXPECT_EQ(demo::without_carriage_returns("a\r\nb\rc\r\n\r"), "a\nb\rc\n\r");
}

TEST(DemoCore, JudgesEachStepByStatusAndKeyLines) {
    const std::string table = "                           Flash memory configuration\n";
    const std::string total = "Total size of flash memory 16M bytes.\n";
    const std::string row = "0x00040000 - 0x0033FFFF | System | 3145728 (3072K) bytes\n";
    const std::string new_row = "0x00040000 - 0x0008FFFF | System |  327680 ( 320K) bytes\n";
    const std::string uploaded =
        "Total of 307200 bytes uploaded.\nFlash memory update successful.\n";
    demo::DemoJudge good;
    EXPECT_TRUE(good.judge(0, 0, "OK.\nTalvium 5.2 on PLN7/ZE (simulated)\n").empty());
    EXPECT_TRUE(good.judge(1, 0, table + row + total).empty());
    EXPECT_TRUE(good.judge(2, 0, uploaded).empty());
    EXPECT_TRUE(good.judge(3, 0, table + new_row + total).empty());
    EXPECT_TRUE(good.judge(4, 0, "Flash memory has been successfully erased.\n").empty());

    demo::DemoJudge bad;
    EXPECT_EQ(bad.judge(0, 1, "FAILED (timeout).\n"),
              (std::vector<std::string>{"'version' ended with status 1",
                                        "no version text with Talvium"}));
    EXPECT_EQ(bad.judge(1, 0, table + row), (std::vector<std::string>{"no total size line"}));
    EXPECT_EQ(
        bad.judge(2, 1, "Total of 307200 bytes uploaded. \n"),
        (std::vector<std::string>{"'updatesys project.tvm' ended with status 1",
                                  "'Total of 307200 bytes uploaded.' missing from the output",
                                  "'Flash memory update successful.' missing from the output"}));
    EXPECT_EQ(bad.judge(3, 0, table + row + total),
              (std::vector<std::string>{"the System area should now hold the 307200-byte image "
                                        "(was 3145728, is 3145728 bytes)"}));
    EXPECT_EQ(demo::verdict_line(true), "demo: every step did what it should");
}

TEST(DemoCore, QuotesArgumentsAsTheCRuntimeReadsThem) {
    const std::pair<std::wstring, std::wstring> samples[] = {
        {L"version", L"version"},
        {L"C:\\tools\\tvflash.exe", L"C:\\tools\\tvflash.exe"},
        {L"C:\\Program Files\\tvflash 2.3.6\\tvflash.exe",
         L"\"C:\\Program Files\\tvflash 2.3.6\\tvflash.exe\""},
        {L"", L"\"\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"folder with blanks\\", L"\"folder with blanks\\\\\""},
    };
    for (const auto& [argument, quoted] : samples) {
        EXPECT_EQ(demo::quote_argument(argument), quoted);
    }
}
