// The image checks of the update commands, made before the network is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/upload_board.h"

using namespace std::string_literals;

TEST(ImageCheckEndToEnd, RefusedImagesEndTheRunBeforeAnythingIsSent) {
    e2e::ImageFolder folder;
    e2e::FakeBoard board(e2e::uploading({}));
    const std::string missing = (folder.path() / "missing.bin").string();
    const std::string directory = folder.path().string();
    const std::string short_rom = folder.write("short.hex", e2e::rom_image().substr(0, 65535));
    const std::string long_rom = folder.write("long.hex", e2e::rom_image() + "x");
    const std::string unsigned_rom = folder.write("plain.hex", e2e::pattern_image(65536));
    const std::string hidden_rom =
        folder.write("hidden.hex", e2e::rom_image("Loader\0PGR/ZE, Rel. C, ROM-Version:"s));
    const std::string lower_rom =
        folder.write("lower.hex", e2e::rom_image("pgr/ze, Rel. C, ROM-Version:"));
    const std::string late_rom = folder.write(
        "late.hex", e2e::rom_image(std::string(101, 'x') + "PGR/ZE, Rel. C, ROM-Version:"));

    auto cannot_open = [](const std::string& path) {
        return "\nERROR: cannot open input file '" + path + "'.\n";
    };
    auto wrong_length = [](const std::string& path) {
        return "\nERROR: input file '" + path + "' does not have the expected length of 64K.\n";
    };
    auto invalid = [](const std::string& path) {
        return "\nERROR: input file '" + path + "' has an invalid format.\n";
    };
    const std::pair<std::vector<std::string>, std::string> samples[] = {
        {{"updatesys", missing}, cannot_open(missing)},
        {{"updaterom", missing}, cannot_open(missing)},
        {{"formatdisk", directory}, cannot_open(directory)},
        {{"updatereserve", "/dev/null"}, cannot_open("/dev/null")},
        {{"updaterom", short_rom}, wrong_length(short_rom)},
        {{"UPDATEROM", long_rom}, wrong_length(long_rom)},
        {{"updaterom", unsigned_rom}, invalid(unsigned_rom)},
        {{"updaterom", hidden_rom}, invalid(hidden_rom)},
        {{"updaterom", lower_rom}, invalid(lower_rom)},
        {{"updaterom", late_rom}, invalid(late_rom)},
    };
    for (const auto& [args, err] : samples) {
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), args), 1, "", err)) << args[1];
    }
    EXPECT_TRUE(e2e::ran(e2e::run_tvflash({"127.0.0.1", "0", "updatesys", missing}), 1, "",
                         cannot_open(missing)));
    EXPECT_TRUE(board.received().empty());
}
