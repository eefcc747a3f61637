// tvflash_page_shot URL FILE [WIDTH HEIGHT]: opens a tvflash-fleet page in headless chromium,
// waits until its tiles (or its records) are drawn and a second more, and writes what the window
// shows to FILE as a PNG. scripts/page_screenshot.sh takes the screenshots of docs/images with it.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "browser.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: tvflash_page_shot URL FILE [WIDTH HEIGHT]\n");
        return 2;
    }
    const int width = argc == 5 ? std::atoi(argv[3]) : 1920;
    const int height = argc == 5 ? std::atoi(argv[4]) : 1080;
    pagetest::Browser browser(width, height);
    if (!browser.started()) {
        std::fprintf(stderr, "tvflash_page_shot: %s\n", browser.error().c_str());
        return 1;
    }
    browser.open(argv[1]);
    if (!browser.wait_for("document.querySelectorAll('[data-target], #rows tr').length > 0",
                          std::chrono::seconds(30))) {
        std::fprintf(stderr, "tvflash_page_shot: the page drew nothing\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string png = browser.screenshot();
    std::ofstream(argv[2], std::ios::binary) << png;
    return png.empty() ? 1 : 0;
}
