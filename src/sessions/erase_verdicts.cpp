#include "sessions/erase_verdicts.h"

#include <cinttypes>
#include <cstdio>

#include "sessions/framing.h"

namespace {

constexpr std::string_view kEraseOkTag = "<ERASE_OK>";
constexpr std::string_view kEraseErrorTag = "<ERASE_ERROR>";

struct EraseRefusal {
    std::string_view tag;
    const char* text;
};

// Tested after the success and the error code, in this order.
constexpr EraseRefusal kEraseRefusals[] = {
    {"<NO_SYS_AREA>", "FAILED (suitable for erasure data not found inside System Area).\n"},
    {"<NO_RESERVE>", "FAILED (reserve system not found inside flash memory).\n"},
    {"<NO_FLASH_FILE_SYSTEM>", "FAILED (flash file system not found inside flash memory).\n"},
    {"<FILE_SYSTEM_PRESENCE_ERROR>",
     "FAILED (existing flash file system will be destroyed if this operation proceeds).\n"},
};

std::string erase_error_text(std::int32_t code) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "ERR.\nERROR: unsuccessful erase of flash memory (code %" PRId32 ").\n", code);
    return text;
}

}  // namespace

std::optional<EraseVerdict> find_erase_verdict(std::string_view reply) {
    if (has_tag(reply, kEraseOkTag)) {
        return EraseVerdict{"OK.\nFlash memory has been successfully erased.\n", 0};
    }
    if (has_tag(reply, kEraseErrorTag)) {
        return EraseVerdict{erase_error_text(read_int_at(reply, kEraseErrorTag.size() + 1)), 1};
    }
    for (const EraseRefusal& refusal : kEraseRefusals) {
        if (has_tag(reply, refusal.tag)) {
            return EraseVerdict{refusal.text, 1};
        }
    }
    return std::nullopt;
}
