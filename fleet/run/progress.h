// What a running tvflash shows of its progress, read from its output as it comes: the stage it is
// in, and during an upload the share of blocks acknowledged (a "." per 1024 bytes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fleet {

enum class Stage {
    starting,
    probing,
    erasing,
    uploading,
    checking,  // the transfer checksum
    writing,   // the board writes its flash
    reading,   // the flash map
    operator_question,
};

class StepProgress {
  public:
    explicit StepProgress(std::uint64_t image_size = 0) : image_size_(image_size) {}

    // Takes the next piece of the tool's output (standard output and error as they came).
    void feed(std::string_view out);

    Stage stage() const { return stage_; }
    // The share of the image acknowledged, 0 to 100.
    int percent() const;

    // The tool asks the operator in a message box (Windows), seen by other means than output.
    void set_operator_question(bool asking);

  private:
    void on_text(std::string_view line);

    std::uint64_t image_size_;
    Stage stage_ = Stage::starting;
    Stage before_question_ = Stage::starting;
    bool counting_dots_ = false;
    std::uint64_t dots_ = 0;
    std::string line_;  // the current line so far, but the dots of an upload
};

// What a stage reads as in the live view: "probing", "uploading  42%", ...
std::string stage_text(Stage stage, int percent);

// The stage as one stable word for machines: "starting", "probing", "erasing", "uploading",
// "checking", "writing", "reading" or "question".
const char* stage_word(Stage stage);

// The line that tells how a run ended, made safe for one line: the last line naming FAILED or
// ERROR (an ERROR message with the lines that continue it; after the bootloader question's
// prompt, only what follows it), or else the last line with text.
std::string verdict_line(std::string_view output);

// The reason of a failed step for the live view: "FAILED (...)" as the tool wrote it in the
// verdict, or "FAILED: " and the verdict.
std::string failure_text(std::string_view verdict);

}  // namespace fleet
