#include "report/live_view.h"

#include <algorithm>

#include "os/terminal.h"
#include "text.h"

namespace fleet {
namespace {

constexpr std::size_t kTargetColumn = 22;  // "255.255.255.255:65535" and a blank
constexpr std::size_t kStepColumn = 26;    // "step 10/12 updatereserve" and blanks
constexpr std::size_t kElapsedColumn = 8;

// The view leaves the terminal's last row free for the cursor.
constexpr int kRowsKept = 2;

// Cursor up n lines, to the line's start; clear to the end of the line; to the end of the screen.
std::string cursor_up(int lines) {
    return "\x1b[" + std::to_string(lines) + "A\r";
}
constexpr const char* kClearLine = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";

void write_out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

std::string format_board_line(const BoardLine& board) {
    std::string elapsed = board.elapsed < 0 ? "" : format_elapsed(board.elapsed);
    return pad(board.target, kTargetColumn) + pad(board.step, kStepColumn) +
           pad(elapsed, kElapsedColumn) + board.status;
}

std::vector<std::string> format_view(const std::vector<BoardLine>& boards,
                                     const std::string& totals, int width, int height) {
    std::size_t room = static_cast<std::size_t>(std::max(height - kRowsKept, 2) - 1);
    std::vector<const BoardLine*> shown;
    for (const BoardLine& board : boards) {
        shown.push_back(&board);
    }
    std::size_t hidden = 0;
    if (shown.size() > room) {
        std::stable_sort(shown.begin(), shown.end(),
                         [](const BoardLine* a, const BoardLine* b) { return a->rank < b->rank; });
        hidden = shown.size() - (room - 1);
        shown.resize(room - 1);
    }
    const std::size_t columns = static_cast<std::size_t>(std::max(width - 1, 10));
    std::vector<std::string> lines;
    for (const BoardLine* board : shown) {
        lines.push_back(fit(format_board_line(*board), columns));
    }
    if (hidden > 0) {
        lines.push_back(fit("... and " + std::to_string(hidden) + " more boards", columns));
    }
    lines.push_back(fit(totals, columns));
    return lines;
}

std::string format_event(std::string_view target, std::string_view step, std::string_view what) {
    std::string line(target);
    if (!step.empty()) {
        line.append(" ").append(step);
    }
    return line.append(": ").append(what);
}

bool still_fit(const std::vector<std::string>& lines, int width) {
    for (const std::string& line : lines) {
        // UTF-8 continuation bytes take no column of their own.
        auto characters = std::count_if(line.begin(), line.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        });
        if (characters >= width) {
            return false;
        }
    }
    return true;
}

std::string LivePrinter::back_to_view_start() {
    if (drawn_.empty() || !still_fit(drawn_, terminal::output_size().columns)) {
        drawn_.clear();
        return "";
    }
    return cursor_up(static_cast<int>(drawn_.size()));
}

void LivePrinter::clear_view() {
    if (!drawn_.empty()) {
        write_out(back_to_view_start() + kClearBelow);
        drawn_.clear();
    }
}

void LivePrinter::redraw(const std::vector<std::string>& lines) {
    if (!smart_) {
        return;
    }
    std::string text = back_to_view_start();
    for (const std::string& line : lines) {
        text += line + kClearLine + "\n";
    }
    text += kClearBelow;
    write_out(text);
    std::fflush(stdout);
    drawn_ = lines;
}

void LivePrinter::print_line(const std::string& line) {
    clear_view();
    write_out(line + "\n");
    std::fflush(stdout);
}

void LivePrinter::print_error(const std::string& line) {
    clear_view();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void LivePrinter::finish() {
    drawn_.clear();
    std::fflush(stdout);
}

}  // namespace fleet
