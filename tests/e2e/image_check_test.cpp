// The image checks of the update commands, made before the network is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/upload_board.h"

using namespace std::string_literals;

TEST(ImageCheckEndToEnd, RefusedImagesEndTheRunBeforeAnythingIsSent) {
    e2e::ImageFolder folder;
    e2e::FakeBoard board(
        [](e2e::FakeBoard& b, const std::string& datagram) { e2e::answer_upload(b, datagram); });
    const std::string port = board.port_text();
    const std::string missing = (folder.path() / "missing.bin").string();
    const std::string directory = folder.path().string();
    const std::string short_rom = folder.write("short.hex", e2e::rom_image().substr(0, 65535));
    const std::string long_rom = folder.write("long.hex", e2e::rom_image() + "x");
    const std::string unsigned_rom = folder.write("plain.hex", e2e::pattern_image(65536));
    const std::string hidden_rom = folder.write(
        "hidden.hex",
        e2e::overwrite(e2e::pattern_image(65536), 0, "Loader\0PGR/ZE, Rel. C, ROM-Version:"s));
    const std::string lower_rom = folder.write(
        "lower.hex", e2e::overwrite(e2e::pattern_image(65536), 0, "pgr/ze, Rel. C, ROM-Version:"));
    const std::string late_rom = folder.write(
        "late.hex", e2e::overwrite(e2e::pattern_image(65536), 0,
                                   std::string(101, 'x') + "PGR/ZE, Rel. C, ROM-Version:"));

    auto cannot_open = [](const std::string& p) {
        return "\nERROR: cannot open input file '" + p + "'.\n";
    };
    auto wrong_length = [](const std::string& p) {
        return "\nERROR: input file '" + p + "' does not have the expected length of 64K.\n";
    };
    auto invalid = [](const std::string& p) {
        return "\nERROR: input file '" + p + "' has an invalid format.\n";
    };
    struct Sample {
        std::vector<std::string> args;
        std::string err;
    };
    const Sample samples[] = {
        {{"127.0.0.1", port, "updatesys", missing}, cannot_open(missing)},
        {{"127.0.0.1", port, "updaterom", missing}, cannot_open(missing)},
        {{"127.0.0.1", port, "formatdisk", directory}, cannot_open(directory)},
        {{"127.0.0.1", port, "updatereserve", "/dev/null"}, cannot_open("/dev/null")},
        {{"127.0.0.1", "0", "updatesys", missing}, cannot_open(missing)},
        {{"127.0.0.1", port, "updaterom", short_rom}, wrong_length(short_rom)},
        {{"127.0.0.1", port, "UPDATEROM", long_rom}, wrong_length(long_rom)},
        {{"127.0.0.1", port, "updaterom", unsigned_rom}, invalid(unsigned_rom)},
        {{"127.0.0.1", port, "updaterom", hidden_rom}, invalid(hidden_rom)},
        {{"127.0.0.1", port, "updaterom", lower_rom}, invalid(lower_rom)},
        {{"127.0.0.1", port, "updaterom", late_rom}, invalid(late_rom)},
    };
    for (const Sample& s : samples) {
        auto r = e2e::run_tvflash(s.args);
        EXPECT_EQ(r.status, 1) << s.args[3];
        EXPECT_EQ(r.out, "") << s.args[3];
        EXPECT_EQ(r.err, s.err) << s.args[3];
    }
    EXPECT_TRUE(board.received().empty());
}
