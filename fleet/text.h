// Small text helpers of the fleet: lines, blanks, and text made safe for one line of a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fleet {

// The lines of text, without their "\n" or "\r\n"; a last line without a line end counts too. A
// UTF-8 byte-order mark at the start (some editors write one) is no part of the first line.
std::vector<std::string_view> split_lines(std::string_view text);

// text in single quotes, for messages.
std::string quote(std::string_view text);

// text without blanks (spaces, tabs, carriage returns) at either end.
std::string_view trim(std::string_view text);

// What a byte 0x80-0x9F that is no part of a UTF-8 character is to the terminal: a C1 control
// where terminals read UTF-8 (POSIX), a letter of the console's code page (Windows).
enum class StrayC1 { control, letter };

// Text made safe for one line of a terminal or a table: escaped as the tool escapes board text
// (C0 controls, C1 controls written in UTF-8), and tabs, carriage returns and line ends inside it
// as \x09, \x0d and \x0a too; stray bytes 0x80-0x9F as \xNN where they are controls.
std::string one_line(std::string_view text, StrayC1 stray);

// one_line for this system's terminal (terminal::stray_c1_is_control()).
std::string one_line(std::string_view text);

// The text cut to at most width bytes, "..." marking a cut, never inside a UTF-8 letter.
std::string fit(std::string_view text, std::size_t width);

// text padded with blanks to width.
std::string pad(std::string_view text, std::size_t width);

// Rows as a table: every column but the last padded to its widest cell, two blanks between.
std::vector<std::string> format_table(const std::vector<std::vector<std::string>>& rows);

// Seconds as "1.234".
std::string format_seconds(double seconds);

// A duration as "0:07", "12:34" or "1:02:03".
std::string format_elapsed(double seconds);

// A command line as a POSIX shell would take it back: arguments with blanks, quotes or other
// characters the shell reads in single quotes.
std::string shell_line(const std::vector<std::string>& argv);

}  // namespace fleet
