// The copy to the line's shared database, as an output: after each board ends (its rows already in
// the station's own database), a thread of its own copies the rows not yet shared, so that a slow
// or unreachable shared database never holds up the boards. A failure is a problem of the record,
// reported once, and the rows not copied stay marked for the next copy, the next run or
// `records --push`.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "record/record_db.h"
#include "record/share.h"
#include "report/record.h"
#include "run/events.h"

namespace fleet {

class ShareCopier : public EventSink {
  public:
    // Copies from the record database at database_path to the shared database at url.
    ShareCopier(std::string database_path, std::string url, RecordProblems& problems);
    ~ShareCopier() override;
    ShareCopier(const ShareCopier&) = delete;
    ShareCopier& operator=(const ShareCopier&) = delete;

    void on_event(const Event& event) override;
    void on_tick(Clock::time_point now) override;
    std::optional<Clock::time_point> next_tick() const override;

    // Copies what is left, waits for the copy, and reports its failure if it is the first.
    void finish();

  private:
    struct Connections {
        std::unique_ptr<RecordDatabase> local;
        std::unique_ptr<SharedDatabase> shared;
    };

    void work();
    std::string copy(Connections& connections);
    void report();

    std::string database_path_;
    std::string url_;
    RecordProblems& problems_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool due_ = false;       // a board ended: there are rows to copy
    bool stopping_ = false;  // copy once more, then end
    std::string failure_;    // the last copy's failure, for the report; guarded by mutex_
    std::thread thread_;
    bool finished_ = false;  // the thread was joined (the main thread's own)
};

}  // namespace fleet
