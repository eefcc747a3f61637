#include "report/share_copier.h"

#include "os/threads.h"

namespace fleet {
namespace {

// How often the main thread looks for a failure to report.
constexpr std::chrono::seconds kReportEvery{1};

}  // namespace

ShareCopier::ShareCopier(std::string database_path, std::string url, RecordProblems& problems)
    : database_path_(std::move(database_path)),
      url_(std::move(url)),
      problems_(problems),
      // Without signals: the interrupts are the scheduler's, caught while it waits.
      thread_(threads::start_without_signals([this] { work(); })) {}

ShareCopier::~ShareCopier() {
    finish();
}

void ShareCopier::on_event(const Event& event) {
    if (event.kind == EventKind::board_finished) {
        std::lock_guard<std::mutex> lock(mutex_);
        due_ = true;
        wake_.notify_one();
    }
    report();
}

void ShareCopier::on_tick(Clock::time_point) {
    report();
}

std::optional<Clock::time_point> ShareCopier::next_tick() const {
    return finished_ ? std::nullopt : std::optional<Clock::time_point>(Clock::now() + kReportEvery);
}

void ShareCopier::finish() {
    if (finished_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    thread_.join();
    finished_ = true;
    report();
}

void ShareCopier::report() {
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure.swap(failure_);
    }
    if (!failure.empty()) {
        problems_.problem("cannot copy to the shared database " + url_without_password(url_) +
                          ": " + failure + "; the rows not copied stay marked in '" +
                          database_path_ + "' for the next run or records --push");
    }
}

void ShareCopier::work() {
    Connections connections;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return due_ || stopping_; });
        bool last = stopping_;
        due_ = false;
        lock.unlock();
        std::string error = copy(connections);
        lock.lock();
        if (!error.empty()) {
            failure_ = error;
        }
        if (last) {
            return;
        }
    }
}

// On the copier's thread. A connection that failed is dropped, and made anew at the next copy.
std::string ShareCopier::copy(Connections& connections) {
    std::string error;
    if (!connections.local) {
        connections.local =
            RecordDatabase::open(database_path_, RecordDatabase::Access::write, error);
    }
    if (connections.local && !connections.shared) {
        connections.shared = SharedDatabase::connect(url_, error);
    }
    if (connections.shared) {
        error = copy_not_shared(*connections.local, *connections.shared).error;
    }
    if (!error.empty()) {
        connections.shared.reset();
    }
    return error;
}

}  // namespace fleet
