#include "options.h"

#include <gtest/gtest.h>

namespace {

sim::SimOptions parse_good(const std::vector<std::string>& args) {
    sim::ParsedOptions parsed = sim::parse_options(args);
    EXPECT_EQ(parsed.error, "") << args.front();
    return parsed.options;
}

}  // namespace

TEST(SimOptions, DefaultsDescribeOneHealthyBoardOnTheLoopback) {
    sim::SimOptions options = parse_good({});
    EXPECT_EQ(options.bind_address, "127.0.0.1");
    EXPECT_EQ(options.port, 4000);
    sim::BoardSettings board = sim::board_settings(options);
    EXPECT_EQ(board.version_text, "Talvium 5.2 on PLN7/ZE (simulated)");
    EXPECT_EQ(board.board_type, "PLN7/ZE");
    EXPECT_EQ(board.boards, 1);
    EXPECT_FALSE(board.lossy);
    EXPECT_FALSE(board.silent);
    EXPECT_EQ(board.erase_ms, 0);
}

TEST(SimOptions, EveryOptionInBothSpellings) {
    for (bool with_equals : {false, true}) {
        std::vector<std::pair<std::string, std::string>> pairs{
            {"--bind", "0.0.0.0"},      {"--port", "0"},
            {"--board-type", "KRD/4Q"}, {"--version-text", "Talvium 6 (lab)"},
            {"--flash-size", "64"},     {"--loss-in", "0.05"},
            {"--loss-out", "1"},        {"--nack-rate", ".5"},
            {"--boards", "3"},          {"--slow-erase", "2.5"},
            {"--slow-update", "7"},     {"--seed", "4294967295"},
            {"--pcap", "run.pcap"},
        };
        std::vector<std::string> args;
        for (const auto& [name, value] : pairs) {
            if (with_equals) {
                args.push_back(name + "=" + value);
            } else {
                args.push_back(name);
                args.push_back(value);
            }
        }
        for (const char* flag : {"--updating-flash", "--silent", "--verbose"}) {
            args.push_back(flag);
        }
        sim::SimOptions options = parse_good(args);
        EXPECT_EQ(options.bind_address, "0.0.0.0");
        EXPECT_EQ(options.port, 0);
        EXPECT_EQ(options.flash_mib, 64u);
        EXPECT_EQ(options.seed, 4294967295u);
        EXPECT_TRUE(options.verbose);
        EXPECT_EQ(options.pcap_path, "run.pcap");
        EXPECT_FALSE(options.help);
        sim::BoardSettings board = sim::board_settings(options);
        EXPECT_EQ(board.board_type, "KRD/4Q");
        EXPECT_EQ(board.version_text, "Talvium 6 (lab)");
        EXPECT_EQ(board.boards, 3);
        EXPECT_EQ(board.erase_ms, 2500);
        EXPECT_EQ(board.update_ms, 7000);
        EXPECT_DOUBLE_EQ(board.nack_rate, 0.5);
        EXPECT_TRUE(board.lossy);
        EXPECT_TRUE(board.silent);
        EXPECT_TRUE(board.updating_flash);
    }
    EXPECT_TRUE(parse_good({"--help"}).help);
    EXPECT_TRUE(parse_good({"-h"}).help);
    EXPECT_TRUE(parse_good({"--version"}).version);
    EXPECT_EQ(sim::board_settings(parse_good({"--board-type", "PGR/ZE"})).version_text,
              "Talvium 5.2 on PGR/ZE (simulated)");
}

TEST(SimOptions, BadCommandLinesSayWhatIsWrong) {
    const std::pair<std::vector<std::string>, std::string> samples[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-p", "4000"}, "unexpected argument '-p'"},
        {{"4000"}, "unexpected argument '4000'"},
        {{"--port"}, "option '--port' needs a value"},
        {{"--silent=yes"}, "option '--silent' takes no value"},
    };
    for (const auto& [args, error] : samples) {
        EXPECT_EQ(sim::parse_options(args).error, error) << args.front();
    }
    const struct {
        std::string option;
        std::string expected;
        std::vector<std::string> values;
    } bad_values[] = {
        {"--port", "a port number from 0 to 65535", {"65536", "-1", "40x"}},
        {"--bind", "an IPv4 address such as 127.0.0.1", {"localhost", "127.0.0.256", "127.0.1"}},
        {"--loss-in", "a rate from 0 to 1", {"1.5"}},
        {"--loss-out", "a rate from 0 to 1", {"-0.1"}},
        {"--nack-rate", "a rate from 0 to 1", {"nan", "1e-2"}},
        {"--boards", "a number of boards from 1 to 16", {"0", "17"}},
        {"--slow-erase", "a number of seconds from 0 to 3600", {"3601"}},
        {"--slow-update", "a number of seconds from 0 to 3600", {"1.2.3"}},
        {"--seed", "a number from 0 to 4294967295", {"4294967296"}},
        {"--board-type", "1 to 32 printable characters without blanks or '|'", {"A|B", ""}},
        {"--version-text", "1 to 117 printable characters", {std::string(118, 'v'), "bell\a"}},
        {"--flash-size", "a size in MiB from 16 to 4096", {"8"}},
        {"--dup-in", "a rate from 0 to 1", {"2"}},
        {"--reorder", "a rate from 0 to 1", {"x"}},
        {"--delay", "a number of milliseconds from 0 to 10000", {"10001", "-1", "1.5"}},
        {"--write-dir", "a folder", {""}},
    };
    for (const auto& [option, expected, values] : bad_values) {
        for (const std::string& value : values) {
            EXPECT_EQ(sim::parse_options({option, value}).error,
                      "bad value '" + value + "' for " + option + ": expected " + expected);
        }
    }
}
