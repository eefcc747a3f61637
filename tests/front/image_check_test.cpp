#include "front/image_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ImageCheck : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tvflash_image_check_" + std::to_string(getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write_file(const std::string& name, const std::string& content) {
        fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    fs::path dir_;
};

std::string rom_image(const std::string& header) {
    std::string image = header;
    image.resize(65536, '\xA5');
    return image;
}

}  // namespace

TEST_F(ImageCheck, AcceptsAndRefusesByCommandSizeAndSignature) {
    struct Sample {
        CommandCode code;
        std::string content;
        bool accepted;
    };
    const std::string signature = "PGR/ZE, Rel. B, ROM-Version: 4.1";
    const Sample samples[] = {
        {CommandCode::update_sys, "", true},
        {CommandCode::update_reserve, "abc", true},
        {CommandCode::format_disk, std::string(5000, '\0'), true},
        {CommandCode::update_sys, rom_image("no signature"), true},
        {CommandCode::update_rom, rom_image("BOOT"), true},
        {CommandCode::update_rom, rom_image("header " + signature), true},
        {CommandCode::update_rom, rom_image("no signature"), false},
        {CommandCode::update_rom, rom_image("BOOT").substr(0, 65535), false},
        {CommandCode::update_rom, rom_image("BOOT") + "x", false},
        {CommandCode::update_rom, "", false},
    };
    int n = 0;
    for (const Sample& s : samples) {
        std::string path = write_file("image" + std::to_string(n++), s.content);
        std::uint64_t size = 12345;
        EXPECT_EQ(check_image(s.code, path, size), s.accepted) << path;
        if (s.accepted) {
            EXPECT_EQ(size, s.content.size()) << path;
        }
    }
}

TEST_F(ImageCheck, RefusesWhatIsNotARegularFile) {
    fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string paths[] = {dir_.string(), (dir_ / "missing").string(), fifo.string(),
                                 "/dev/null", ""};
    for (const std::string& path : paths) {
        std::uint64_t size = 0;
        EXPECT_FALSE(check_image(CommandCode::update_sys, path, size)) << path;
    }
}

TEST_F(ImageCheck, MeasuresImagesBeyondFourGiB) {
    const std::uint64_t big = (5ull << 30) + 3;
    fs::path path = dir_ / "big.bin";
    std::ofstream(path, std::ios::binary).put('\x01');
    std::error_code error;
    fs::resize_file(path, big, error);
    if (error) {
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    }
    std::uint64_t size = 0;
    EXPECT_TRUE(check_image(CommandCode::format_disk, path.string(), size));
    EXPECT_EQ(size, big);
}
