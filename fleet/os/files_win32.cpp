// The fleet's files on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "os/files.h"

namespace files {
namespace {

bool is_file(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void binary_standard_output() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::string error_text(int error) {
    return std::strerror(error);
}

std::FILE* open_for_writing(const std::string& path, bool append, std::string& error) {
    // "N": the handle is not inherited by the tools the fleet starts.
    std::FILE* file = std::fopen(path.c_str(), append ? "abN" : "wbN");
    if (file == nullptr) {
        error = error_text(errno);
    }
    return file;
}

bool sync(std::FILE* file, std::string& error) {
    if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
        error = error_text(errno);
        return false;
    }
    return true;
}

void keep_running_past_file_limits() {}

std::optional<std::string> find_program(const std::string& command, std::string& why) {
    if (command.find_first_of("/\\") != std::string::npos) {
        if (is_file(command)) {
            return command;
        }
        why = "is not there";
        return std::nullopt;
    }
    // The search CreateProcess makes for a bare name: the program's own folder, the current
    // folder, the system folders, then PATH; ".exe" is added to a name without an extension.
    char found[MAX_PATH * 4];
    const char* extension = command.find('.') == std::string::npos ? ".exe" : nullptr;
    DWORD length = SearchPathA(nullptr, command.c_str(), extension, sizeof found, found, nullptr);
    if (length > 0 && length < sizeof found) {
        return std::string(found, length);
    }
    why = "is not in PATH";
    return std::nullopt;
}

}  // namespace files
