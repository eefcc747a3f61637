// The command words, their codes and what each sends, plus the command-line rules that need no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class CommandCode : int {
    unknown = 0,
    version = 1,
    erase = 2,
    erase_sys = 3,
    erase_user = 4,
    erase_reserve = 5,
    erase_registry = 6,
    erase_disk = 7,
    update_sys = 8,
    update_reserve = 9,
    update_rom = 10,
    format_disk = 11,
    get_config = 12,
    cyclic_version = 13,
};

struct CommandEntry {
    std::string_view word;  // lower case, as typed
    CommandCode code;
    std::string_view wire_text;  // the command text sent to the board, empty for the probe-only
};

// The entry for a lower-cased command word, if there is one.
std::optional<CommandEntry> find_command(std::string_view word);

// The entry for a code; the code must be a known one.
const CommandEntry& command_entry(CommandCode code);

bool is_erase_command(CommandCode code);
bool is_upload_command(CommandCode code);

// A command needs an image file when its word contains "update" or is "formatdisk".
bool command_needs_file(std::string_view word);

// ASCII lower and upper case; every other byte stays as it is.
std::string to_lower_ascii(std::string_view text);
std::string to_upper_ascii(std::string_view text);

// The program's name from its own path: no directory ('/' or '\\'), no last extension, lower case.
std::string program_name_from_path(std::string_view path);

// The port as atoi would read it, saturated to the int range, then its low 16 bits.
std::uint16_t parse_port(std::string_view text);
