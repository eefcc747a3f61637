// Helpers for the end-to-end tests of the update commands: image files in a private folder, a
// board that takes any upload, and the texts and datagrams such a run produces.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/fake_board.h"

namespace e2e {

// A folder of image files, removed with everything in it at the end of the test.
class ImageFolder {
  public:
    ImageFolder() {
        static int serial = 0;
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

// A 64 KiB bootloader image marked "BOOT".
inline std::string rom_image() {
    return overwrite(pattern_image(65536), 0, "BOOT");
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

// The end-of-load datagram the board expects after image.
inline std::string end_load_for(const std::string& image) {
    std::string text =
        "<END_LOAD> " + std::to_string(static_cast<std::int32_t>(board_checksum(image)));
    if (text.size() % 2 == 0) {
        text += ' ';
    }
    return text + std::string(1, '\0');
}

inline bool is_upload_announcement(const std::string& datagram) {
    return datagram == "<UPDATESYS>" || datagram == "<UPDATERESERVE>" ||
           datagram == "<UPDATEROM>" || datagram == "<FORMATDISK>";
}

inline bool is_image_block(const std::string& datagram) {
    return datagram.empty() || datagram[0] != '<';
}

// Answers the probe, the upload announcement with "<OK_LOAD>" and every block with "<ACK>".
// Returns false for anything else (the end-of-load message, "<CONTINUE>", "<BREAK>").
inline bool answer_upload(FakeBoard& board, const std::string& datagram) {
    if (datagram == "<VERSION>") {
        board.reply("<VERSION> Talvium 1.0");
        return true;
    }
    if (is_upload_announcement(datagram)) {
        board.reply("<OK_LOAD>");
        return true;
    }
    if (is_image_block(datagram)) {
        board.reply("<ACK>");
        return true;
    }
    return false;
}

inline std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// Standard output of an update run up to "File transfer consistency check...", with the
// progress characters of the blocks.
inline std::string upload_output(std::uint16_t port, const std::string& path, std::uint64_t size,
                                 const std::string& progress, std::uint64_t total) {
    return connecting_line(port) + "." + "OK.\nRead file " + upper(path) + " (" +
           std::to_string(size) + " bytes).\nUploading" + progress + "OK.\nTotal of " +
           std::to_string(total) + " bytes uploaded.\nFile transfer consistency check...";
}

inline const std::string kUpdateSucceeded =
    "OK.\nUpdating flash memory...OK.\nFlash memory update successful.\n";

}  // namespace e2e
