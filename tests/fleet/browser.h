// A real browser for the station page's tests: Debian's chromium, headless, in a new empty
// profile, driven over its DevTools protocol through a pair of pipes (--remote-debugging-pipe),
// so that it opens no port of its own. It reaches only the loopback page it is given; whoever
// makes one ends it (its whole process group) when it goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

namespace pagetest {

class Browser {
  public:
    // Starts chromium with a window of width by height; started() tells whether it did.
    explicit Browser(int width = 1280, int height = 800);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    bool started() const { return session_.size() > 0; }
    // What went wrong, for a test's message.
    const std::string& error() const { return error_; }

    // Loads url in the tab.
    void open(const std::string& url);
    // The value of a JavaScript expression in the page (null when it failed).
    nlohmann::json evaluate(const std::string& expression);
    // Evaluates expression until it is true or timeout passes; whether it became true.
    bool wait_for(const std::string& expression, std::chrono::milliseconds timeout);
    // The page as a PNG image.
    std::string screenshot();

  private:
    nlohmann::json call(const std::string& method, const nlohmann::json& params,
                        bool in_page = true);
    bool start_process(int width, int height);

    pid_t pid_ = -1;
    int to_browser_ = -1;
    int from_browser_ = -1;
    int next_id_ = 1;
    std::string received_;
    std::string session_;
    std::string profile_;
    std::string error_;
};

// Bytes from base64 (as the DevTools protocol gives images).
std::string from_base64(const std::string& text);

}  // namespace pagetest
