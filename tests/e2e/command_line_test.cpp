// The command line as an operator meets it: argument errors, the usage text and the port rules.
#include <gtest/gtest.h>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "front/usage.h"

namespace {

const std::string kUsage = usage_text("tvflash");

}  // namespace

TEST(CommandLineEndToEnd, NoArgumentsShowBannerAndUsage) {
    EXPECT_TRUE(
        e2e::ran(e2e::run_tvflash({}), 1, "", "Talvium flashing tool, version 2.4.0\n" + kUsage));
}

TEST(CommandLineEndToEnd, WrongArgumentCountsShowTheErrorAndUsage) {
    const std::vector<std::vector<std::string>> samples = {
        {"127.0.0.1"},
        {"127.0.0.1", "4000"},
        {"127.0.0.1", "4000", "updatesys", "a.bin", "extra"},
        {"1", "2", "3", "4", "5", "6"},
    };
    for (const auto& args : samples) {
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash(args), 1, "",
                             "\nERROR: invalid number of arguments\n" + kUsage))
            << args.size();
    }
}

TEST(CommandLineEndToEnd, RefusalsBeforeTheNetworkSendNothing) {
    e2e::FakeBoard board(e2e::answering({}));
    const std::string port = board.port_text();
    const std::pair<std::vector<std::string>, std::string> samples[] = {
        {{"127.0.0.1", port, "FlashIt"}, "\nERROR: unknown <command> parameter 'flashit'\n"},
        {{"127.0.0.1", port, "UPDATESYS"}, "\nERROR: missing <filename> parameter\n"},
        {{"127.0.0.1", port, "formatdisk"}, "\nERROR: missing <filename> parameter\n"},
        {{"127.0.0.1", "0", "version"}, ""},
        {{"127.0.0.1", "port", "version"}, ""},
        {{"127.0.0.1", "65536", "version"}, ""},
        {{"127.0.0.1", "0", "bogus"}, "\nERROR: unknown <command> parameter 'bogus'\n"},
    };
    for (const auto& [args, error] : samples) {
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash(args), 1, "", error + kUsage)) << args[2];
    }
    EXPECT_TRUE(board.received().empty());
}

TEST(CommandLineEndToEnd, PortWrapsModulo65536AndWordIgnoresCase) {
    e2e::FakeBoard board(e2e::answering({}));
    std::string wrapped = std::to_string(board.port() + 65536);
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash({"127.0.0.1", wrapped, "Version", "ignored-file-name"}),
                         0, e2e::connecting_line(board.port()) + "OK.\nTalvium 1.0\n"));
}

TEST(CommandLineEndToEnd, HostNameIsNoAddressAndCannotBeConnected) {
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash({"localhost", "4000", "version"}), 1,
                         "Connecting to target localhost on port 4000...",
                         "connect() failed: Error 13\n"));
}
