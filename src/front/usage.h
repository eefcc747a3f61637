// The banner and the usage text.
#pragma once

#include <string>
#include <string_view>

// TVFLASH_VERSION is the project's version, given by the build.
inline constexpr std::string_view kBanner = "Talvium flashing tool, version " TVFLASH_VERSION "\n";

// The usage text with the program's name filled in.
std::string usage_text(std::string_view program_name);

// Writes the usage text to standard error and ends the process with status 1.
[[noreturn]] void print_usage_and_exit(std::string_view program_name);
