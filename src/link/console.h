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
// newline and carriage return become \xNN; every other byte stays as it is.
std::string escape_board_text(std::string_view text);
