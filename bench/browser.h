// A real browser for the station page's tests and figures: Debian's chromium, headless, in a new
// empty profile, driven over its DevTools protocol through a pair of pipes
// (--remote-debugging-pipe), so that it opens no port of its own. It reaches only the loopback
// pages it is given; whoever makes one ends it (its whole process group) when it goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pagetest {

class Browser {
  public:
    // Starts chromium with a window of width by height; started() tells whether it did.
    explicit Browser(int width = 1280, int height = 800);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    bool started() const { return !tabs_.empty(); }
    // What went wrong, for a test's message.
    const std::string& error() const { return error_; }

    // Opens another tab (the first is open from the start); its number, or -1 when it failed.
    int new_tab();
    int tabs() const { return static_cast<int>(tabs_.size()); }

    // Loads url in a tab.
    void open(const std::string& url, int tab = 0);
    // The value of a JavaScript expression in a tab's page (null when it failed).
    nlohmann::json evaluate(const std::string& expression, int tab = 0);
    // Evaluates expression until it is true or timeout passes; whether it became true.
    bool wait_for(const std::string& expression, std::chrono::milliseconds timeout);
    // The first tab's page as a PNG image.
    std::string screenshot();

  private:
    // A DevTools command to the browser (no tab) or to a tab; its result, null when it failed.
    nlohmann::json call(const std::string& method, const nlohmann::json& params, int tab = -1);
    bool start_process(int width, int height);

    int width_;
    int height_;
    pid_t pid_ = -1;
    int to_browser_ = -1;
    int from_browser_ = -1;
    int next_id_ = 1;
    std::string received_;
    std::vector<std::string> tabs_;  // each tab's DevTools session
    std::string profile_;
    std::string error_;
};

// Bytes from base64 (as the DevTools protocol gives images).
std::string from_base64(const std::string& text);

}  // namespace pagetest
