#include "e2e/tool.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

namespace e2e {
namespace {

std::vector<std::string> tool_words() {
    return command_words("TVFLASH_TOOL", TVFLASH_BINARY);
}

// The Windows build's text and the Linux build's for the same event, where they differ by design.
const std::pair<std::string, std::string> kWindowsTexts[] = {
    // A host name reads as 255.255.255.255; connecting a datagram socket to it is refused.
    {"connect() failed: Error 10013\n", "connect() failed: Error 13\n"},
};

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
}

// The C runtime writes every "\n" of a console program as "\r\n".
void undo_text_mode(std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        plain += text[i] == '\n' && (i == 0 || text[i - 1] != '\r') ? "<LF without CR>\n"
                                                                    : std::string(1, text[i]);
    }
    text = plain;
}

void undo_differences(std::string& text) {
    undo_text_mode(text);
    for (const auto& [windows, posix] : kWindowsTexts) {
        replace_all(text, windows, posix);
    }
}

}  // namespace

std::vector<std::string> command_words(const char* variable, const std::string& fallback) {
    const char* setting = std::getenv(variable);
    if (setting == nullptr || *setting == '\0') {
        return {fallback};
    }
    std::vector<std::string> words;
    std::istringstream text(setting);
    for (std::string word; text >> word;) {
        words.push_back(word);
    }
    return words;
}

ToolCommand tool_command(const std::vector<std::string>& args) {
    std::vector<std::string> words = tool_words();
    ToolCommand command{words.front(), {words.begin() + 1, words.end()}};
    command.args.insert(command.args.end(), args.begin(), args.end());
    return command;
}

ToolCommand fleet_command(const std::vector<std::string>& args) {
    std::vector<std::string> words = tool_words();
    std::filesystem::path tool(words.back());
    words.back() =
        tool.replace_filename(tool.stem().string() + "-fleet" + tool.extension().string()).string();
    ToolCommand command{words.front(), {words.begin() + 1, words.end()}};
    command.args.insert(command.args.end(), args.begin(), args.end());
    return command;
}

bool windows_build() {
    return tool_words().back().ends_with(".exe");
}

void undo_windows_differences(RunResult& run) {
    undo_differences(run.out);
    undo_differences(run.err);
}

}  // namespace e2e
