// What the fleet needs of the terminal and the desktop: whether standard output is a terminal the
// view can redraw, its size, and whether a child shows a window. One implementation per platform
// (terminal_posix.cpp, terminal_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace terminal {

// True when standard output is a terminal that takes the escape sequences of a redraw in place
// (on POSIX one whose TERM is not "dumb"; on Windows a console that could be switched to them).
bool output_redraws();

struct Size {
    int columns = 80;
    int rows = 24;
};

// The size of the terminal of standard output; 80 by 24 when it cannot be told.
Size output_size();

// True where the tool asks its questions in message boxes (Windows) rather than on its standard
// input.
bool questions_in_windows();

// True when the process shows a window of its own: on Windows the tool's bootloader question,
// which waits for the operator. Always false elsewhere, where the tool asks on its standard input.
bool shows_window(std::int64_t process_id);

// True where a byte 0x80-0x9F outside a UTF-8 character is a control to the terminal (POSIX, whose
// terminals read UTF-8); false where the console's code page shows it as a letter (Windows).
bool stray_c1_is_control();

// A command line as the operator would type it on this system's command line.
std::string typed_command_line(const std::vector<std::string>& argv);

}  // namespace terminal
