#include "report/transcripts.h"

#include "os/terminal.h"

namespace fleet {

TranscriptWriter::TranscriptWriter(const Plan& plan, const RecordFolder& folder,
                                   RecordProblems& problems, bool numbered)
    : plan_(plan),
      folder_(folder),
      problems_(problems),
      numbered_(numbered),
      files_(plan.targets.size()) {}

void TranscriptWriter::on_event(const Event& event) {
    std::unique_ptr<RecordFile>& file = files_[event.slot];
    const std::size_t steps = plan_.steps.size();
    switch (event.kind) {
        case EventKind::board_started: {
            const std::string target = plan_.targets[event.slot].text();
            file = std::make_unique<RecordFile>(problems_);
            file->open(
                folder_.new_transcript_path(transcript_name(target, numbered_ ? event.board : 0)),
                false);
            file->write(transcript_header(target, steps));
            break;
        }
        case EventKind::step_started:
            file->write(transcript_step_start(event.step, steps, plan_.steps[event.step].text(),
                                              terminal::typed_command_line(event.argv),
                                              event.wall));
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
