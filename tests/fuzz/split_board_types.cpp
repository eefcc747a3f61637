// split_board_types of "<DEST_DIFFER_QUERY>" with format_bootloader_warning: the two types are
// views of the reply around its first "|" after offset 20, and the warning built from their
// escaped forms is terminal-safe and names both.
#include "fuzz_check.h"
#include "link/console.h"
#include "sessions/framing.h"
#include "sessions/upload_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view reply = fuzz::as_text(data, size < kMessageBufferSize - 1 ? size : 127);
    reply = reply.substr(0, reply.find('\0'));
    BoardTypes types = split_board_types(reply);
    std::string_view text = text_from(reply, 20);
    std::size_t bar = text.find('|');
    if (bar == std::string_view::npos) {
        FUZZ_CHECK(types.stored.empty() && types.update.empty());
    } else {
        FUZZ_CHECK(types.stored.data() == text.data() && types.stored.size() == bar);
        FUZZ_CHECK(types.update.data() == text.data() + bar + 1);
        FUZZ_CHECK(types.update.size() == text.size() - bar - 1);
        FUZZ_CHECK(types.stored.find('|') == std::string_view::npos);
    }
    std::string stored = escape_board_text(types.stored);
    std::string update = escape_board_text(types.update);
    std::string warning = format_bootloader_warning(stored, update);
    FUZZ_CHECK(fuzz::is_terminal_safe(warning));
    FUZZ_CHECK(warning.find("designed for target of type " + stored + "\n") != std::string::npos);
    FUZZ_CHECK(warning.find("for target of type " + update + ".\n\n") != std::string::npos);
    FUZZ_CHECK(warning.ends_with("Do you want to proceed?"));
    return 0;
}
