// The fleet's files on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "os/files.h"

namespace files {
namespace {

bool is_runnable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string error_text(int error) {
    return std::strerror(error);
}

std::FILE* open_for_writing(const std::string& path, bool append, std::string& error) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = error_text(errno);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) {
        error = error_text(errno);
        close(fd);
    }
    return file;
}

bool sync(std::FILE* file, std::string& error) {
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
        error = error_text(errno);
        return false;
    }
    return true;
}

void binary_standard_output() {}

void keep_running_past_file_limits() {
    signal(SIGXFSZ, SIG_IGN);
}

std::optional<std::string> find_program(const std::string& command, std::string& why) {
    if (command.find('/') != std::string::npos) {
        if (is_runnable_file(command)) {
            return command;
        }
        why = access(command.c_str(), F_OK) == 0 ? "is not a program that can be run"
                                                 : "is not there";
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        std::string candidate = (folder.empty() ? "." : folder) + "/" + command;
        if (is_runnable_file(candidate)) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        folders.remove_prefix(colon + 1);
    }
    why = "is not in PATH";
    return std::nullopt;
}

}  // namespace files
