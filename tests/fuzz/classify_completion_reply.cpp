// classify_completion_reply: every reply gets one class, by its leading tag in the table's order;
// the free space and the update error code of the replies that carry them are read as atoi reads
// them after the tag.
#include <string>

#include "fuzz_check.h"
#include "sessions/framing.h"
#include "sessions/upload_format.h"

namespace {

CompletionReply by_prefix(std::string_view reply) {
    struct Rule {
        std::string_view tag;
        CompletionReply kind;
    };
    static constexpr Rule kRules[] = {
        {"<SIZE_ERROR><EXPANDED>", CompletionReply::space_error},
        {"<SIZE_ERROR>", CompletionReply::size_error},
        {"<UPDATE_OK>", CompletionReply::update_ok},
        {"<UPDATE_ERROR>", CompletionReply::update_error},
        {"<FILE_SYSTEM_PRESENCE_ERROR>", CompletionReply::file_system_presence},
        {"<SYSTEM_FILE_PRESENCE_ERROR>", CompletionReply::system_file_presence},
        {"<DEST_DIFFER_QUERY>", CompletionReply::bootloader_query},
        {"<NACK>", CompletionReply::nack},
    };
    if (reply.starts_with("<CHECK_")) {
        return reply.substr(7).starts_with("OK>") ? CompletionReply::check_ok
                                                  : CompletionReply::check_failed;
    }
    for (const Rule& rule : kRules) {
        if (reply.starts_with(rule.tag)) {
            return rule.kind;
        }
    }
    return CompletionReply::other;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view reply = fuzz::as_text(data, size < kMessageBufferSize - 1 ? size : 127);
    reply = reply.substr(0, reply.find('\0'));
    CompletionReply kind = classify_completion_reply(reply);
    FUZZ_CHECK(kind == by_prefix(reply));
    FUZZ_CHECK(kind == CompletionReply::other || reply.starts_with("<"));
    return 0;
}
