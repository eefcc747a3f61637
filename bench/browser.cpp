#include "browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

namespace pagetest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kAnswerWithin = 30s;

// A pipe whose ends are above the descriptors chromium is handed (3 and 4), close-on-exec.
bool high_pipe(int ends[2]) {
    int low[2];
    if (pipe(low) != 0) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        ends[i] = fcntl(low[i], F_DUPFD_CLOEXEC, 10);
        close(low[i]);
    }
    return ends[0] >= 0 && ends[1] >= 0;
}

}  // namespace

Browser::Browser(int width, int height) : width_(width), height_(height) {
    char folder[] = "/tmp/tvflash_chromium_XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        error_ = "mkdtemp failed";
        return;
    }
    profile_ = folder;
    // A browser that dies makes a write to its pipe fail rather than end the test.
    signal(SIGPIPE, SIG_IGN);
    if (!start_process(width, height)) {
        return;
    }
    if (new_tab() < 0) {
        error_ = "chromium opened no tab";
    }
}

int Browser::new_tab() {
    nlohmann::json target = call("Target.createTarget", {{"url", "about:blank"}});
    nlohmann::json attached =
        target.is_object()
            ? call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}})
            : nullptr;
    if (!attached.is_object() || !attached.contains("sessionId")) {
        return -1;
    }
    tabs_.push_back(attached["sessionId"]);
    const int tab = static_cast<int>(tabs_.size()) - 1;
    call("Page.enable", nlohmann::json::object(), tab);
    call("Runtime.enable", nlohmann::json::object(), tab);
    // The page's own area is the whole window, as on a screen in full-screen mode.
    call("Emulation.setDeviceMetricsOverride",
         {{"width", width_}, {"height", height_}, {"deviceScaleFactor", 1}, {"mobile", false}},
         tab);
    return tab;
}

bool Browser::start_process(int width, int height) {
    int commands[2];
    int answers[2];
    if (!high_pipe(commands) || !high_pipe(answers)) {
        error_ = "pipe failed";
        return false;
    }
    const std::string log = profile_ + "/chromium.log";
    const std::vector<std::string> args = {
        "chromium",
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--hide-scrollbars",
        "--user-data-dir=" + profile_,
        "--window-size=" + std::to_string(width) + "," + std::to_string(height),
        "--remote-debugging-pipe",
        "about:blank"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 4);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own, so that its renderers and helpers end with it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int failed = posix_spawnp(&pid_, "chromium", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(commands[0]);
    close(answers[1]);
    to_browser_ = commands[1];
    from_browser_ = answers[0];
    if (failed != 0) {
        pid_ = -1;
        error_ = "cannot start chromium (make test and make faults install it)";
        return false;
    }
    return true;
}

Browser::~Browser() {
    if (pid_ > 0) {
        if (!tabs_.empty()) {
            call("Browser.close", nlohmann::json::object());
        }
        int status = 0;
        bool ended = false;
        const auto deadline = Clock::now() + 5s;
        while (!(ended = waitpid(pid_, &status, WNOHANG) == pid_) && Clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        // Its helpers, and the browser itself when it did not close.
        kill(-pid_, SIGKILL);
        if (!ended) {
            waitpid(pid_, &status, 0);
        }
    }
    for (int fd : {to_browser_, from_browser_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
}

nlohmann::json Browser::call(const std::string& method, const nlohmann::json& params, int tab) {
    const int id = next_id_++;
    nlohmann::json message = {{"id", id}, {"method", method}, {"params", params}};
    if (tab >= 0) {
        message["sessionId"] = tabs_.at(static_cast<std::size_t>(tab));
    }
    std::string text = message.dump();
    text.push_back('\0');
    if (write(to_browser_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return nullptr;
    }
    // Answers come in order with events between them, each ended by a zero byte.
    const auto deadline = Clock::now() + kAnswerWithin;
    for (;;) {
        for (std::size_t end; (end = received_.find('\0')) != std::string::npos;) {
            nlohmann::json answer = nlohmann::json::parse(received_.substr(0, end), nullptr, false);
            received_.erase(0, end + 1);
            if (answer.is_object() && answer.value("id", 0) == id) {
                return answer.contains("result") ? answer["result"] : nlohmann::json(nullptr);
            }
        }
        pollfd ready{from_browser_, POLLIN, 0};
        if (Clock::now() > deadline || poll(&ready, 1, 100) < 0) {
            return nullptr;
        }
        char buffer[65536];
        ssize_t got = ready.revents != 0 ? read(from_browser_, buffer, sizeof buffer) : 0;
        if (ready.revents != 0 && got <= 0) {
            return nullptr;
        }
        received_.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
}

void Browser::open(const std::string& url, int tab) {
    call("Page.navigate", {{"url", url}}, tab);
}

nlohmann::json Browser::evaluate(const std::string& expression, int tab) {
    nlohmann::json result =
        call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, tab);
    if (!result.is_object() || result.contains("exceptionDetails")) {
        return nullptr;
    }
    return result["result"].value("value", nlohmann::json(nullptr));
}

bool Browser::wait_for(const std::string& expression, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (evaluate(expression) == true) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

std::string Browser::screenshot() {
    nlohmann::json shot = call("Page.captureScreenshot", {{"format", "png"}}, 0);
    return shot.is_object() ? from_base64(shot.value("data", "")) : "";
}

std::string from_base64(const std::string& text) {
    static const std::string letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned int bits = 0;
    int count = 0;
    for (char c : text) {
        const std::size_t value = letters.find(c);
        if (value == std::string::npos) {
            continue;  // padding
        }
        bits = (bits << 6) | static_cast<unsigned int>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    return bytes;
}

}  // namespace pagetest
