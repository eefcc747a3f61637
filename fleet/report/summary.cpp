#include "report/summary.h"

#include <filesystem>
#include <system_error>

namespace fleet {

SummaryWriter::SummaryWriter(const Plan& plan, RecordProblems& problems, bool synced)
    : plan_(plan), file_(problems), synced_(synced) {}

bool SummaryWriter::open(const RecordFolder& folder, std::string& error) {
    std::string path = folder.path_of("summary.csv");
    std::error_code failure;
    bool is_new =
        !std::filesystem::exists(path, failure) || std::filesystem::file_size(path, failure) == 0;
    std::string reason;
    if (!file_.open(path, true, &reason)) {
        error = "cannot write '" + path + "': " + reason;
        return false;
    }
    if (is_new) {
        file_.write(csv_row(kSummaryColumns));
        file_.flush();
    }
    return true;
}

void SummaryWriter::on_event(const Event& event) {
    if (event.kind != EventKind::board_finished) {
        return;
    }
    for (const std::vector<std::string>& row :
         summary_rows(plan_.targets[event.slot], plan_.steps, event.results)) {
        file_.write(csv_row(row));
    }
    if (synced_) {
        file_.sync();
    } else {
        file_.flush();
    }
}

void SummaryWriter::close() {
    file_.close();
}

}  // namespace fleet
