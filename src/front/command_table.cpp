#include "front/command_table.h"

#include <array>

#include "sessions/framing.h"

namespace {

constexpr std::array<CommandEntry, 13> kCommands{{
    {"version", CommandCode::version, ""},
    {"erase", CommandCode::erase, "<ERASE>"},
    {"erasesys", CommandCode::erase_sys, "<ERASESYS>"},
    {"eraseuser", CommandCode::erase_user, "<ERASEUSER>"},
    {"erasereserve", CommandCode::erase_reserve, "<ERASERESERVE>"},
    {"eraseregistry", CommandCode::erase_registry, "<ERASEREGISTRY>"},
    {"erasedisk", CommandCode::erase_disk, "<ERASEDISK>"},
    {"updatesys", CommandCode::update_sys, "<UPDATESYS>"},
    {"updatereserve", CommandCode::update_reserve, "<UPDATERESERVE>"},
    {"updaterom", CommandCode::update_rom, "<UPDATEROM>"},
    {"formatdisk", CommandCode::format_disk, "<FORMATDISK>"},
    {"getconfig", CommandCode::get_config, "<GETCONFIG>"},
    {"cyclic_version", CommandCode::cyclic_version, ""},
}};

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper_ascii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::optional<CommandEntry> find_command(std::string_view word) {
    for (const CommandEntry& entry : kCommands) {
        if (entry.word == word) {
            return entry;
        }
    }
    return std::nullopt;
}

const CommandEntry& command_entry(CommandCode code) {
    return kCommands[static_cast<std::size_t>(code) - 1];
}

bool is_erase_command(CommandCode code) {
    return code >= CommandCode::erase && code <= CommandCode::erase_disk;
}

bool is_upload_command(CommandCode code) {
    return code >= CommandCode::update_sys && code <= CommandCode::format_disk;
}

bool command_needs_file(std::string_view word) {
    return word.find("update") != std::string_view::npos || word == "formatdisk";
}

std::string to_lower_ascii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = lower_ascii(c);
    }
    return result;
}

std::string to_upper_ascii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = upper_ascii(c);
    }
    return result;
}

std::string program_name_from_path(std::string_view path) {
    std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // A leading dot is part of the name, not an extension.
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot != 0) {
        name = name.substr(0, dot);
    }
    return to_lower_ascii(name);
}

std::uint16_t parse_port(std::string_view text) {
    // The number as atoi reads it, without its overflow: saturated to the int range.
    std::int32_t value = read_int_at(text, 0);
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}
