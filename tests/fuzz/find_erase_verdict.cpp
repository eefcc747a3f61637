// find_erase_verdict: a verdict exactly for the result tags, status 0 only for "<ERASE_OK>", the
// error code of "<ERASE_ERROR>" read as read_int_at reads it after the tag and one separator,
// and every verdict text whole lines of terminal-safe text.
#include <string>

#include "fuzz_check.h"
#include "sessions/erase_verdicts.h"
#include "sessions/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view reply = fuzz::as_text(data, size < kMessageBufferSize - 1 ? size : 127);
    reply = reply.substr(0, reply.find('\0'));
    std::optional<EraseVerdict> verdict = find_erase_verdict(reply);

    static constexpr std::string_view kResults[] = {
        "<ERASE_OK>",   "<ERASE_ERROR>",          "<NO_SYS_AREA>",
        "<NO_RESERVE>", "<NO_FLASH_FILE_SYSTEM>", "<FILE_SYSTEM_PRESENCE_ERROR>",
    };
    bool is_result = false;
    for (std::string_view tag : kResults) {
        is_result = is_result || has_tag(reply, tag);
    }
    FUZZ_CHECK(verdict.has_value() == is_result);
    if (!verdict) {
        return 0;
    }
    FUZZ_CHECK((verdict->status == 0) == has_tag(reply, "<ERASE_OK>"));
    FUZZ_CHECK(verdict->status == 0 || verdict->status == 1);
    FUZZ_CHECK(!verdict->text.empty() && verdict->text.back() == '\n');
    FUZZ_CHECK(fuzz::is_terminal_safe(verdict->text));
    if (has_tag(reply, "<ERASE_ERROR>")) {
        std::string code = std::to_string(read_int_at(reply, 14));
        FUZZ_CHECK(verdict->text ==
                   "ERR.\nERROR: unsuccessful erase of flash memory (code " + code + ").\n");
    }
    return 0;
}
