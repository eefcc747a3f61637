#include "front/image_check.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

#include "front/rom_image.h"
#include "link/console.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A directory, a device or a pipe can often be opened for reading, but its "size" says nothing
// about what a read would deliver, so only regular files count as images.
File open_image(const std::string& file_name, std::uint64_t& image_size) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file_name, error)) {
        return nullptr;
    }
    File file(std::fopen(file_name.c_str(), "rb"));
    if (!file) {
        return nullptr;
    }
    // A 64-bit size on every platform, where a seek position may be only 32 bits wide.
    image_size = std::filesystem::file_size(file_name, error);
    if (error) {
        return nullptr;
    }
    return file;
}

std::string rom_image_refusal(std::FILE* file, const std::string& file_name,
                              std::uint64_t image_size) {
    if (image_size != kRomImageSize) {
        return "\nERROR: input file '" + file_name +
               "' does not have the expected length of 64K.\n";
    }
    char header[kRomHeaderSize];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) {
        return "\nERROR: cannot read input file '" + file_name + "'.\n";
    }
    if (!has_rom_signature(std::string_view(header, sizeof header))) {
        return "\nERROR: input file '" + file_name + "' has an invalid format.\n";
    }
    return "";
}

}  // namespace

std::string image_refusal(CommandCode code, const std::string& file_name,
                          std::uint64_t& image_size) {
    File file = open_image(file_name, image_size);
    if (!file) {
        return "\nERROR: cannot open input file '" + file_name + "'.\n";
    }
    if (code != CommandCode::update_rom) {
        return "";
    }
    return rom_image_refusal(file.get(), file_name, image_size);
}

bool check_image(CommandCode code, const std::string& file_name, std::uint64_t& image_size) {
    std::string refusal = image_refusal(code, file_name, image_size);
    if (!refusal.empty()) {
        print_err("%s", refusal.c_str());
    }
    return refusal.empty();
}
