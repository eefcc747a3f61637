#include "report/transcripts.h"

#include "os/terminal.h"
#include "report/board_views.h"

namespace fleet {

TranscriptWriter::TranscriptWriter(const Plan& plan, const RecordFolder& folder,
                                   RecordProblems& problems, bool numbered)
    : plan_(plan),
      folder_(folder),
      problems_(problems),
      numbered_(numbered),
      files_(plan.targets.size()),
      last_paths_(plan.targets.size()),
      silences_(plan.targets.size(), -1) {}

void TranscriptWriter::begin(const Event& event) {
    const std::string target = plan_.targets[event.slot].text();
    std::unique_ptr<RecordFile>& file = files_[event.slot];
    file = std::make_unique<RecordFile>(problems_);
    last_paths_[event.slot] =
        folder_.new_transcript_path(transcript_name(target, numbered_ ? event.board : 0));
    file->open(last_paths_[event.slot], false);
    file->write(transcript_header(target, plan_.steps.size()));
    if (silences_[event.slot] >= 0) {
        file->write("== board found " + silence_text(silences_[event.slot]) + "\n");
    }
}

// The board's own transcript, closed when it finished, tells when it left.
void TranscriptWriter::append_departure(const Event& event) {
    RecordFile file(problems_);
    if (file.open(last_paths_[event.slot], true)) {
        file.write("\n== board left " + silence_text(event.silence) + "\n");
        file.sync();
    }
}

void TranscriptWriter::on_event(const Event& event) {
    std::unique_ptr<RecordFile>& file = files_[event.slot];
    const std::size_t steps = plan_.steps.size();
    switch (event.kind) {
        case EventKind::board_found:
            silences_[event.slot] = event.silence;
            break;
        case EventKind::board_started:
            begin(event);
            break;
        case EventKind::board_left:
            append_departure(event);
            break;
        case EventKind::step_started:
            file->write(transcript_step_start(
                event.step, steps,
                plan_.steps[event.step].text() + try_text(event.try_number, event.tries),
                terminal::typed_command_line(event.argv), event.wall));
            file->flush();
            break;
        case EventKind::step_output:
            file->write(event.bytes);
            break;
        case EventKind::step_finished:
            file->write(
                event.result.status == StepStatus::skipped
                    ? transcript_step_skipped(event.step, steps, plan_.steps[event.step].text())
                    : transcript_step_end(event.result));
            file->flush();
            break;
        case EventKind::board_finished:
            if (file && numbered_) {
                file->sync();
            }
            file.reset();
            break;
        default:
            break;
    }
}

}  // namespace fleet
