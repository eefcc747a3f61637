// The verdicts of the erase dialogue: which result replies end it, what each prints and the exit
// status it gives. The same for all six erase commands.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kEraseStartTag = "<ERASE_START>";

// Printed once the board has started erasing; the verdict continues the line.
inline constexpr const char* kEraseStartedText = "OK.\nFlash memory is being erased...";

struct EraseVerdict {
    std::string text;  // printed as it stands
    int status = 1;    // the run's exit status
};

// The verdict of a result reply, its tags tested in a fixed order by prefix; none for a reply that
// is not a result. The error code of "<ERASE_ERROR>" is read from after the tag and one separator
// character.
std::optional<EraseVerdict> find_erase_verdict(std::string_view reply);
