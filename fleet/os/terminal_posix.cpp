// The terminal on POSIX systems: isatty, TERM and the window size of standard output.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "os/terminal.h"
#include "text.h"

namespace terminal {

bool output_redraws() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) == 1 && term != nullptr && std::string_view(term) != "dumb";
}

Size output_size() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return {};
    }
    return {size.ws_col, size.ws_row};
}

bool questions_in_windows() {
    return false;
}

bool shows_window(std::int64_t) {
    return false;
}

bool stray_c1_is_control() {
    return true;
}

std::string typed_command_line(const std::vector<std::string>& argv) {
    return fleet::shell_line(argv);
}

}  // namespace terminal
