// Helpers for the tests of the update commands: image files in a private folder, the image
// checksum and end-of-load message as the board sees them, and a board that takes any upload.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/fake_board.h"

namespace e2e {

// A folder of image files, removed with everything in it at the end of the test.
class ImageFolder {
  public:
    ImageFolder() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("tvflash_images_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~ImageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ImageFolder(const ImageFolder&) = delete;
    ImageFolder& operator=(const ImageFolder&) = delete;

    // Writes content to the file name in this folder and returns its path.
    std::string write(const std::string& name, const std::string& content) const {
        std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// size bytes in which every 1024-byte block differs from the others and begins with an odd byte,
// so that no block looks like a tagged text.
inline std::string pattern_image(std::size_t size) {
    std::string image(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>(((i % 1024) * 7 + (i / 1024) * 2 + 1) & 0xFF);
    }
    return image;
}

// image with text written over it from offset at on.
inline std::string overwrite(std::string image, std::size_t at, const std::string& text) {
    return image.replace(at, text.size(), text);
}

// A 64 KiB bootloader image that begins with header.
inline std::string rom_image(const std::string& header = "BOOT") {
    return overwrite(pattern_image(65536), 0, header);
}

// The image in blocks of at most 1024 bytes, as they go on the wire.
inline std::vector<std::string> blocks_of(const std::string& image) {
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < image.size(); at += 1024) {
        blocks.push_back(image.substr(at, 1024));
    }
    return blocks;
}

// The checksum as the board computes it: every byte weighted by its place in a big-endian word.
inline std::uint32_t board_checksum(const std::string& image) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        sum += static_cast<std::uint32_t>(static_cast<unsigned char>(image[i]))
               << (24 - 8 * (i % 4));
    }
    return sum;
}

// The end-of-load datagram for a checksum, and the one the board expects after image.
inline std::string end_load(std::uint32_t checksum) {
    std::string text = "<END_LOAD> " + std::to_string(static_cast<std::int32_t>(checksum));
    if (text.size() % 2 == 0) {
        text += ' ';
    }
    return text + std::string(1, '\0');
}
inline std::string end_load_for(const std::string& image) {
    return end_load(board_checksum(image));
}

// Worked samples of the checksum and of the end-of-load datagram, which the tool and the
// simulated board must agree on.
inline const std::pair<std::string, std::uint32_t> kChecksumSamples[] = {
    {"", 0},
    {"\x01", 0x01000000},
    {"abc", 0x61626300},
    {"\x12\x34", 0x12340000},
    {"\x01\x02\x03\x04\x05", 0x06020304},
    {"\xFF\xFF\xFF\xFF", 0xFFFFFFFF},
    {std::string("\x80\x00\x00\x00", 4), 0x80000000},
    {std::string("\xFF\xFF\xFF\xFF\x00\x00\x00\x01", 8), 0},  // the sum wraps modulo 2^32
    {std::string("\xFF\xFF\xFF\xFF\x00\x00\x00\x02", 8), 1},
};
inline const std::pair<std::uint32_t, std::string> kEndLoadSamples[] = {
    {0, std::string("<END_LOAD> 0 \0", 14)},
    {16777216, std::string("<END_LOAD> 16777216\0", 20)},
    {0xFFFFFFFF, std::string("<END_LOAD> -1\0", 14)},
    {100795140, std::string("<END_LOAD> 100795140 \0", 22)},
    {1633837824, std::string("<END_LOAD> 1633837824\0", 22)},
    {0x80000000, std::string("<END_LOAD> -2147483648 \0", 24)},
};

inline bool is_image_block(const std::string& datagram) {
    return datagram.empty() || datagram[0] != '<';
}

// A board that takes any upload: "<OK_LOAD>" to each announcement, "<ACK>" to each block and
// end_replies to the end-of-load message; table and the probe come first, as answering() has it.
inline FakeBoard::Script uploading(std::vector<Reply> end_replies, ReplyTable table = {}) {
    for (const char* announcement :
         {"<UPDATESYS>", "<UPDATERESERVE>", "<UPDATEROM>", "<FORMATDISK>"}) {
        table.try_emplace(announcement, std::vector<Reply>{"<OK_LOAD>"});
    }
    return answering(std::move(table),
                     [end_replies](FakeBoard& board, const std::string& datagram) {
                         if (is_image_block(datagram)) {
                             board.reply("<ACK>");
                         } else if (datagram.starts_with("<END_LOAD>")) {
                             board.reply_all(end_replies);
                         }
                     });
}

}  // namespace e2e
