// The probe every command begins with: the board's version and the address-conflict check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "front/command_table.h"

// What a version reply prints for code, or nothing: "%s\n" of the version text for version,
// "Linked to target %s%s\n" for cyclic_version ("running " when the text names Talvium).
std::string format_version_line(CommandCode code, std::string_view version_text);

// The conflict message of every command but cyclic_version (whose text is shown as a notice).
std::string format_conflict_line(int boards, std::string_view host);
std::string format_conflict_notice(int boards, std::string_view host);

// Handles one received datagram of the probe: prints "OK.\n" once an attempt (for version and
// cyclic_version) and the reply's line. Returns true for a version reply. Clears the buffer.
bool handle_version_reply(char* reply, std::size_t size, CommandCode code, bool& ok_printed);

// Sends "<VERSION>", waits for the first answer, listens about one second for further boards and
// ends the run on an address conflict. Returns when exactly one board answered; for
// cyclic_version it repeats for ever. program_name is the caption of the conflict notice.
void probe_target(CommandCode code, const char* host, std::uint16_t port,
                  std::string_view program_name);
