// The live view: on a terminal, one line per board and a totals line, redrawn in place; anywhere
// else (pipes, CI logs), one plain line per event. The formats are pure functions; LivePrinter
// writes them.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

// Which boards a short screen shows first.
enum class Rank { running, failed, waiting, done };

// One board's line in the view.
struct BoardLine {
    std::string target;   // "127.0.0.2:4000"
    std::string step;     // "step 2/3 updatesys", or empty
    std::string status;   // "uploading  45%", "done", "FAILED (...)", "queued", ...
    double elapsed = -1;  // seconds, none when negative
    Rank rank = Rank::waiting;
};

// The line of a board: target, step, status and elapsed time in columns.
std::string format_board_line(const BoardLine& board);

// The view's lines for a screen of width columns and height rows: one per board (those of
// highest rank first when they do not all fit, and a line counting the rest), then totals; every
// line cut to the width.
std::vector<std::string> format_view(const std::vector<BoardLine>& boards,
                                     const std::string& totals, int width, int height);

// One event as a plain line: "127.0.0.2:4000 step 1/2 erasesys: started".
std::string format_event(std::string_view target, std::string_view step, std::string_view what);

// True when lines drawn earlier still each take one row of a terminal width columns wide. A
// terminal made narrower than a line wraps it, or cuts it, or moves it into its scrollback, each
// terminal its own way, so that the rows of the view on the screen can no longer be counted.
// Columns are counted as characters of UTF-8.
bool still_fit(const std::vector<std::string>& lines, int width);

// Writes the view to standard output.
class LivePrinter {
  public:
    // smart: redraw in place (a terminal); otherwise only plain lines are written.
    explicit LivePrinter(bool smart) : smart_(smart) {}
    bool smart() const { return smart_; }

    // Draws lines in place of the view drawn before (smart only).
    void redraw(const std::vector<std::string>& lines);
    // Writes a line: on a terminal above the view, which the next redraw puts back.
    void print_line(const std::string& line);
    // Writes a line on standard error: on a terminal above the view, which the next redraw puts
    // back.
    void print_error(const std::string& line);
    // Leaves the view drawn last on the screen; what is printed next goes below it.
    void finish();

  private:
    void clear_view();

    // The cursor movement to the first line of the view on the screen. A view that no longer fits
    // the terminal is left as it is, and the next one drawn below it.
    std::string back_to_view_start();

    bool smart_;
    std::vector<std::string> drawn_;  // the lines of the view on the screen
};

}  // namespace fleet
