// One row of the record: a try of a step of a board, with the image (by its hash) that went onto
// it, the station, the operator, when, the result and why. The JSON stream, the station's
// database and the line's shared one all carry these fields under these names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fleet {

struct RecordRow {
    std::string run;
    std::string station;
    std::string operator_name;  // "operator"
    std::string target;
    int attempt = 1;  // a station's count of boards at the target; else 1
    std::string board_version;
    int step = 1;  // 1-based
    std::string command;
    std::string file;
    std::uint64_t image_bytes = 0;
    std::string image_sha256;
    std::string recipe_sha256;
    std::string tool_version;
    std::string status;  // passed, failed, skipped, interrupted
    std::string error_class;
    std::string verdict;
    std::optional<int> exit_status;  // none when the tool did not run or a signal ended it
    std::optional<std::string> start;
    std::optional<double> seconds;
    std::string transcript;  // the try's complete output
    int try_number = 1;      // "try"
};

}  // namespace fleet
