// Console output. Standard output is flushed after every write, so each stage of a run shows as it
// happens, also through a pipe.
#pragma once

#include <string>
#include <string_view>

#if defined(__GNUC__) || defined(__clang__)
#define TVFLASH_PRINTF(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define TVFLASH_PRINTF(format_index, first_arg)
#endif

// printf to standard output, then flush.
void print_out(const char* format, ...) TVFLASH_PRINTF(1, 2);

// printf to standard error (unbuffered).
void print_err(const char* format, ...) TVFLASH_PRINTF(1, 2);

// Text that came from the board, made safe for a terminal: control characters other than tab,
// newline and carriage return become \xNN, and so does each byte of U+0080 to U+009F written in
// UTF-8 (0xC2 and 0x80-0x9F), and a 0xC2 that ends the text; every other byte stays as it is,
// 0x80-0x9F on their own too (letters in the code pages of Windows consoles).
std::string escape_board_text(std::string_view text);
