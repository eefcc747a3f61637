// Reading the operator's answer to a question on a text console.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

enum class ConsoleAnswer { yes, no, unclear };

// "y", "yes" and an empty line (the default) are Yes; "n" and "no" are No, in any case and with
// surrounding blanks; anything else is unclear and the question is asked again.
ConsoleAnswer classify_console_answer(std::string_view line);

// Reads one line from stream into line, without its line end, keeping at most a few hundred
// characters of it. Returns false at end of input or on a read error before a line end.
bool read_console_line(std::FILE* stream, std::string& line);
