// summary.csv: one row per board and step, each board's rows added when it finishes.
#pragma once

#include "plan/plan.h"
#include "report/record.h"
#include "run/events.h"

namespace fleet {

class SummaryWriter : public EventSink {
  public:
    // synced: a station's rows are written to the disk before the next board at that target can
    // start.
    SummaryWriter(const Plan& plan, RecordProblems& problems, bool synced);

    // Opens summary.csv in the folder, adding to one that is there (its header written when it is
    // new); false with the reason.
    bool open(const RecordFolder& folder, std::string& error);
    void on_event(const Event& event) override;
    // Writes what is left and closes the file.
    void close();

  private:
    const Plan& plan_;
    RecordFile file_;
    bool synced_;
};

}  // namespace fleet
