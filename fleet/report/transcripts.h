// The transcripts: one file per board, open only while the board runs, holding each step's command
// line, the tool's complete output as it came, and how the step ended.
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
    const Plan& plan_;
    const RecordFolder& folder_;
    RecordProblems& problems_;
    bool numbered_;
    std::vector<std::unique_ptr<RecordFile>> files_;  // per target: the running board's
};

}  // namespace fleet
