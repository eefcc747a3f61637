// The command line as an operator meets it: argument errors, the usage text and the port rules.
#include <gtest/gtest.h>

#include "e2e/fake_board.h"
#include "front/usage.h"

namespace {

const std::string kUsage = usage_text("tvflash");

e2e::FakeBoard::Script version_board(const std::string& text) {
    return [text](e2e::FakeBoard& board, const std::string& datagram) {
        if (datagram == "<VERSION>") {
            board.reply("<VERSION> " + text);
        }
    };
}

}  // namespace

TEST(CommandLineEndToEnd, NoArgumentsShowBannerAndUsage) {
    auto r = e2e::run_tvflash({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Talvium flashing tool, version 2.3.6\n" + kUsage);
}

TEST(CommandLineEndToEnd, WrongArgumentCountsShowTheErrorAndUsage) {
    const std::vector<std::vector<std::string>> samples = {
        {"127.0.0.1"},
        {"127.0.0.1", "4000"},
        {"127.0.0.1", "4000", "updatesys", "a.bin", "extra"},
        {"1", "2", "3", "4", "5", "6"},
    };
    for (const auto& args : samples) {
        auto r = e2e::run_tvflash(args);
        EXPECT_EQ(r.status, 1) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\nERROR: invalid number of arguments\n" + kUsage);
    }
}

TEST(CommandLineEndToEnd, RefusalsBeforeTheNetworkSendNothing) {
    e2e::FakeBoard board(version_board("Talvium 1.0"));
    const std::string port = board.port_text();
    struct Sample {
        std::vector<std::string> args;
        std::string err;
    };
    const Sample samples[] = {
        {{"127.0.0.1", port, "FlashIt"},
         "\nERROR: unknown <command> parameter 'flashit'\n" + kUsage},
        {{"127.0.0.1", port, "UPDATESYS"}, "\nERROR: missing <filename> parameter\n" + kUsage},
        {{"127.0.0.1", port, "formatdisk"}, "\nERROR: missing <filename> parameter\n" + kUsage},
        {{"127.0.0.1", "0", "version"}, kUsage},
        {{"127.0.0.1", "port", "version"}, kUsage},
        {{"127.0.0.1", "65536", "version"}, kUsage},
        {{"127.0.0.1", "0", "bogus"}, "\nERROR: unknown <command> parameter 'bogus'\n" + kUsage},
    };
    for (const Sample& s : samples) {
        auto r = e2e::run_tvflash(s.args);
        EXPECT_EQ(r.status, 1) << s.args[2];
        EXPECT_EQ(r.out, "") << s.args[2];
        EXPECT_EQ(r.err, s.err) << s.args[2];
    }
    EXPECT_TRUE(board.received().empty());
}

TEST(CommandLineEndToEnd, PortWrapsModulo65536AndWordIgnoresCase) {
    e2e::FakeBoard board(version_board("Talvium 1.0"));
    std::string wrapped = std::to_string(board.port() + 65536);
    auto r = e2e::run_tvflash({"127.0.0.1", wrapped, "Version", "ignored-file-name"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "OK.\nTalvium 1.0\n");
}

TEST(CommandLineEndToEnd, HostNameIsNoAddressAndCannotBeConnected) {
    auto r = e2e::run_tvflash({"localhost", "4000", "version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Connecting to target localhost on port 4000...");
    EXPECT_EQ(r.err, "connect() failed: Error 13\n");
}
