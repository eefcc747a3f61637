// format_version_line on the text of a "<VERSION>" reply (offset 10 of the reply buffer): the
// version line and cyclic_version's "Linked to target" line are one line of escaped board text,
// and the other commands print nothing.
#include "front/command_table.h"
#include "fuzz_check.h"
#include "link/console.h"
#include "sessions/framing.h"
#include "sessions/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view reply = fuzz::as_text(data, size < kMessageBufferSize - 1 ? size : 127);
    reply = reply.substr(0, reply.find('\0'));
    std::string_view text = text_from(reply, 10);
    std::string escaped = escape_board_text(text);

    std::string version = format_version_line(CommandCode::version, text);
    FUZZ_CHECK(version == escaped + "\n");

    std::string linked = format_version_line(CommandCode::cyclic_version, text);
    bool talvium = text.find("Talvium") != std::string_view::npos;
    FUZZ_CHECK(linked ==
               std::string("Linked to target ") + (talvium ? "running " : "") + escaped + "\n");
    FUZZ_CHECK(fuzz::is_terminal_safe(version) && fuzz::is_terminal_safe(linked));

    for (CommandCode other : {CommandCode::erase, CommandCode::get_config, CommandCode::update_rom,
                              CommandCode::unknown}) {
        FUZZ_CHECK(format_version_line(other, text).empty());
    }
    return 0;
}
