// The terminal on Windows: the console of standard output, switched to escape sequences for the
// redraw, and the top-level windows of a child.
#include <windows.h>

#include "os/terminal.h"
#include "process/subprocess.h"

namespace terminal {
namespace {

struct WindowSearch {
    DWORD process_id;
    bool found;
};

BOOL CALLBACK note_window(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process_id && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool output_redraws() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
        return false;
    }
    return SetConsoleMode(out,
                          mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

Size output_size() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return {};
    }
    return {info.srWindow.Right - info.srWindow.Left + 1,
            info.srWindow.Bottom - info.srWindow.Top + 1};
}

bool questions_in_windows() {
    return true;
}

bool shows_window(std::int64_t process_id) {
    WindowSearch search{static_cast<DWORD>(process_id), false};
    EnumWindows(note_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool stray_c1_is_control() {
    return false;
}

std::string typed_command_line(const std::vector<std::string>& argv) {
    return subprocess::windows_command_line(argv);
}

}  // namespace terminal
