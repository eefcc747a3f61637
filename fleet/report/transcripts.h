// The transcripts: one file per board, open only while the board runs, holding each step's command
// line, the tool's complete output as it came, and how the step ended. A station's transcripts
// also tell the silence before the board was found, and the one after which it left.
#pragma once

#include <memory>
#include <vector>

#include "plan/plan.h"
#include "report/record.h"
#include "run/events.h"

namespace fleet {

class TranscriptWriter : public EventSink {
  public:
    // numbered: a station's transcripts carry the board's number at its target. synced: each is
    // written to the disk before the board counts as done.
    TranscriptWriter(const Plan& plan, const RecordFolder& folder, RecordProblems& problems,
                     bool numbered);
    void on_event(const Event& event) override;

  private:
    void begin(const Event& event);
    void append_departure(const Event& event);

    const Plan& plan_;
    const RecordFolder& folder_;
    RecordProblems& problems_;
    bool numbered_;
    std::vector<std::unique_ptr<RecordFile>> files_;  // per target: the running board's
    std::vector<std::string> last_paths_;             // per target: the last board's transcript
    std::vector<double> silences_;  // per target: the silence before the board found last
};

}  // namespace fleet
