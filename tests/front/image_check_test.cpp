#include "front/image_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "e2e/upload_board.h"

TEST(ImageCheck, AcceptsAndRefusesByCommandSizeAndSignature) {
    e2e::ImageFolder folder;
    const std::string signature = "PGR/ZE, Rel. B, ROM-Version: 4.1";
    const struct {
        CommandCode code;
        std::string content;
        bool accepted;
    } samples[] = {
        {CommandCode::update_sys, "", true},
        {CommandCode::update_reserve, "abc", true},
        {CommandCode::format_disk, std::string(5000, '\0'), true},
        {CommandCode::update_sys, e2e::rom_image("no signature"), true},
        {CommandCode::update_rom, e2e::rom_image("BOOT"), true},
        {CommandCode::update_rom, e2e::rom_image("header " + signature), true},
        {CommandCode::update_rom, e2e::rom_image("no signature"), false},
        {CommandCode::update_rom, e2e::rom_image("BOOT").substr(0, 65535), false},
        {CommandCode::update_rom, e2e::rom_image("BOOT") + "x", false},
        {CommandCode::update_rom, "", false},
    };
    int n = 0;
    for (const auto& s : samples) {
        std::string path = folder.write("image" + std::to_string(n++), s.content);
        std::uint64_t size = 12345;
        EXPECT_EQ(check_image(s.code, path, size), s.accepted) << path;
        if (s.accepted) {
            EXPECT_EQ(size, s.content.size()) << path;
        }
    }
}

TEST(ImageCheck, RefusesWhatIsNotARegularFile) {
    e2e::ImageFolder folder;
    std::filesystem::path fifo = folder.path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {folder.path().string(), (folder.path() / "missing").string(),
                                    fifo.string(), std::string("/dev/null"), std::string()}) {
        std::uint64_t size = 0;
        EXPECT_FALSE(check_image(CommandCode::update_sys, path, size)) << path;
    }
}

TEST(ImageCheck, MeasuresImagesBeyondFourGiB) {
    e2e::ImageFolder folder;
    const std::uint64_t big = (5ull << 30) + 3;
    const std::string path = folder.write("big.bin", "\x01");
    std::error_code error;
    std::filesystem::resize_file(path, big, error);
    if (error) {
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    }
    std::uint64_t size = 0;
    EXPECT_TRUE(check_image(CommandCode::format_disk, path, size));
    EXPECT_EQ(size, big);
}
