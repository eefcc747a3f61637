#include "report/database_writer.h"

namespace fleet {

DatabaseWriter::DatabaseWriter(const Plan& plan, const RunContext& context,
                               RecordProblems& problems)
    : rows_(plan, context), problems_(problems), boards_(plan.targets.size()) {}

bool DatabaseWriter::open(const std::string& path) {
    std::string error;
    path_ = path;
    database_ = RecordDatabase::open(path, RecordDatabase::Access::write, error);
    if (!database_) {
        problems_.problem(error);
    }
    return database_ != nullptr;
}

void DatabaseWriter::on_event(const Event& event) {
    std::vector<RecordRow> rows = rows_.on_event(event);
    std::vector<RecordRow>& board = boards_[event.slot];
    board.insert(board.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    if (event.kind == EventKind::board_finished) {
        commit(board);
    }
}

void DatabaseWriter::commit(std::vector<RecordRow>& rows) {
    if (database_ && !rows.empty() &&
        !database_->add(rows, format_utc(std::chrono::system_clock::now()))) {
        problems_.failed(path_, database_->error());
    }
    rows.clear();
}

}  // namespace fleet
