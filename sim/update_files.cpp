#include "update_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace sim {

std::string update_file_path(const std::string& dir, int number) {
    return dir + "/update-" + std::to_string(number) + ".bin";
}

bool write_update_file(const std::string& dir, int number, const std::string& bytes) {
    std::string path = update_file_path(dir, number);
    std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "tvflash-sim: cannot write %s\n", partial.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::fprintf(stderr, "tvflash-sim: cannot rename %s: %s\n", partial.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

}  // namespace sim
