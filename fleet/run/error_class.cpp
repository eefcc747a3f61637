#include "run/error_class.h"

#include <array>
#include <utility>

namespace fleet {
namespace {

// The tool's failure texts (or the part of each that does not vary) and their classes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kFailureTexts{{
    {"FAILED (bootloader does not fit for the hardware)", "bootloader_mismatch"},
    {"FAILED (checksum error)", "checksum"},
    {"is all zeros and may have been stored twice", "unprovable"},
    {"a block stored twice cannot be ruled out", "unprovable"},
    {"ERROR: IP address conflict", "address_conflict"},
    {"Target system not responding.", "no_answer"},
    {"FAILED (connection reset by remote host)", "no_answer"},
    {"FAILED (socket can not be connected)", "link"},
    {"FAILED (error ", "link"},
    {"FAILED (existing flash file system will be destroyed", "refused"},
    {"FAILED (existing system file will be destroyed", "refused"},
    {"FAILED (flash file system not found inside flash memory)", "refused"},
    {"FAILED (not enough free space left", "refused"},
    {"FAILED (reserve system not found inside flash memory)", "refused"},
    {"FAILED (size of image file too large)", "refused"},
    {"FAILED (suitable for erasure data not found inside System Area)", "refused"},
    {"ERROR: unsuccessful erase of flash memory", "refused"},
    {"ERROR during flash memory update", "refused"},
    {"ERROR: cannot open input file", "image"},
    {"ERROR: cannot read input file", "image"},
    {"does not have the expected length of 64K", "image"},
    {"has an invalid format", "image"},
}};

// The tool's own usage errors: the fleet started it wrongly.
constexpr std::array<std::string_view, 3> kUsageErrors{"ERROR: invalid number of arguments",
                                                       "ERROR: missing <filename> parameter",
                                                       "ERROR: unknown <command> parameter"};

}  // namespace

std::string_view error_class(const StepResult& result, std::string_view output) {
    switch (result.status) {
        case StepStatus::interrupted:
            return "interrupted";
        case StepStatus::failed:
            break;
        default:
            return "";
    }
    if (!result.started || result.signal != 0 || result.exit_status != 1) {
        return "tool";
    }
    for (std::string_view usage : kUsageErrors) {
        if (output.find(usage) != std::string_view::npos) {
            return "tool";
        }
    }
    std::size_t last = std::string_view::npos;
    std::string_view found = "other";
    for (const auto& [text, name] : kFailureTexts) {
        std::size_t at = output.rfind(text);
        if (at != std::string_view::npos && (last == std::string_view::npos || at > last)) {
            last = at;
            found = name;
        }
    }
    return found;
}

bool can_retry(std::string_view error_class) {
    return error_class == "no_answer" || error_class == "link" || error_class == "checksum" ||
           error_class == "unprovable";
}

}  // namespace fleet
