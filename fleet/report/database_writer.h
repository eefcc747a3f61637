// The record database as an output: each board's rows (one per try of a step, report/record_row.h)
// are kept until the board ends, then added in one transaction that is on the disk before the
// next output hears of the board's end. A database that cannot be opened or written is a problem
// of the record, reported once; the boards are flashed on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "record/record_db.h"
#include "report/record.h"
#include "report/record_row.h"
#include "run/events.h"

namespace fleet {

class DatabaseWriter : public EventSink {
  public:
    DatabaseWriter(const Plan& plan, const RunContext& context, RecordProblems& problems);

    // Opens the database at path, creating it and its folder when missing; false when it could
    // not be opened (a problem of the record, reported): the run goes on without it.
    bool open(const std::string& path);
    void on_event(const Event& event) override;

  private:
    void commit(std::vector<RecordRow>& rows);

    RowBuilder rows_;
    RecordProblems& problems_;
    std::string path_;
    std::unique_ptr<RecordDatabase> database_;
    std::vector<std::vector<RecordRow>> boards_;  // per target: the running board's rows
};

}  // namespace fleet
