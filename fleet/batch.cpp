// run: every board of the list through the recipe, at most -j at once; the first interrupt ends
// the tools that run.
#include <cstdio>

#include "runs.h"
#include "session.h"
#include "text.h"

namespace fleet {
namespace {

struct Counts {
    std::size_t running = 0;
    std::size_t queued = 0;
    std::size_t passed = 0;
    std::size_t failed = 0;
};

Counts count_boards(const std::vector<std::unique_ptr<BoardRun>>& boards) {
    Counts counts;
    for (const std::unique_ptr<BoardRun>& board : boards) {
        if (!board->started()) {
            ++counts.queued;
        } else if (!board->finished()) {
            ++counts.running;
        } else {
            ++(board->passed() ? counts.passed : counts.failed);
        }
    }
    return counts;
}

std::string count_of_boards(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " board" : " boards");
}

std::string totals_line(const std::vector<std::unique_ptr<BoardRun>>& boards,
                        Clock::time_point start) {
    Counts counts = count_boards(boards);
    return count_of_boards(boards.size()) + ": " + std::to_string(counts.running) + " running, " +
           std::to_string(counts.queued) + " queued, " + std::to_string(counts.passed) +
           " passed, " + std::to_string(counts.failed) + " failed    " +
           format_elapsed(std::chrono::duration<double>(Clock::now() - start).count());
}

std::vector<BoardLine> board_lines(const std::vector<std::unique_ptr<BoardRun>>& boards) {
    std::vector<BoardLine> lines;
    const Clock::time_point now = Clock::now();
    for (const std::unique_ptr<BoardRun>& board : boards) {
        lines.push_back(board->view_line(now));
    }
    return lines;
}

// Adds the rows of each board that has finished since the last call.
void record_finished(const std::vector<std::unique_ptr<BoardRun>>& boards,
                     std::vector<bool>& recorded, Record& record) {
    for (std::size_t i = 0; i < boards.size(); ++i) {
        if (boards[i]->finished() && !recorded[i]) {
            record.add_rows(boards[i]->summary_rows());
            recorded[i] = true;
        }
    }
}

void print_summary(const std::vector<std::unique_ptr<BoardRun>>& boards, const Record& record) {
    std::vector<std::vector<std::string>> rows{
        {"target", "step", "command", "status", "seconds", "verdict"}};
    for (const std::unique_ptr<BoardRun>& board : boards) {
        for (const std::vector<std::string>& row : board->summary_rows()) {
            std::string command = row[3].empty() ? row[2] : row[2] + " " + row[3];
            rows.push_back({row[0], row[1], command, row[4], row[7], row[5]});
        }
    }
    std::printf("\n");
    for (const std::string& line : format_table(rows)) {
        std::printf("%s\n", line.c_str());
    }
    Counts counts = count_boards(boards);
    std::printf("\n%s: %zu passed, %zu failed.\nRecord: %s\n",
                count_of_boards(boards.size()).c_str(), counts.passed, counts.failed,
                record.dir().c_str());
}

}  // namespace

int run_batch(const Options& options, const Plan& plan, Record& record) {
    Session session(options, plan, record);
    std::vector<std::unique_ptr<BoardRun>> boards;
    for (const Target& target : plan.targets) {
        std::string path = record.new_transcript_path(transcript_name(target.text(), 0));
        boards.push_back(std::make_unique<BoardRun>(target, plan.steps, path));
    }
    std::vector<bool> recorded(boards.size(), false);
    const Clock::time_point start = Clock::now();
    std::size_t next = 0;
    bool stopping = false;
    for (;;) {
        while (!stopping && next < boards.size() &&
               running_boards(boards).size() < static_cast<std::size_t>(session.jobs())) {
            boards[next++]->start(session.set(), session.settings(), session.events());
        }
        record_finished(boards, recorded, record);
        session.show([&] { return board_lines(boards); }, totals_line(boards, start));
        std::vector<BoardRun*> running = running_boards(boards);
        if (running.empty() && (stopping || next == boards.size())) {
            break;
        }
        session.wait(std::nullopt, running);
        if (session.take_interrupts() > 0) {
            if (!stopping) {
                session.printer().print_line("Interrupted: ending the tools that run.");
            }
            stopping = true;
            session.end_children(running_boards(boards));
        }
    }
    for (; next < boards.size(); ++next) {
        boards[next]->skip_all(session.events(), "not started: interrupted");
    }
    record_finished(boards, recorded, record);
    session.show([&] { return board_lines(boards); }, totals_line(boards, start), true);
    session.printer().finish();
    print_summary(boards, record);
    return count_boards(boards).passed == boards.size() ? 0 : 1;
}

}  // namespace fleet
