// The Windows command line: a child gets one string and its C runtime splits it into arguments
// again, so each argument is quoted in the way that splitting undoes.
#include <string>
#include <vector>

#include "process/subprocess.h"

namespace subprocess {
namespace {

bool needs_quotes(const std::string& argument) {
    return argument.empty() || argument.find_first_of(" \t\n\v\"") != std::string::npos;
}

// Backslashes are literal unless a quote follows them: then each counts twice, and one more
// escapes the quote itself.
std::string quoted(const std::string& argument) {
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            text.append(backslashes * 2 + 1, '\\');
        } else {
            text.append(backslashes, '\\');
        }
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

}  // namespace

std::string windows_command_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& argument : argv) {
        if (!line.empty()) {
            line += ' ';
        }
        line += needs_quotes(argument) ? quoted(argument) : argument;
    }
    return line;
}

}  // namespace subprocess
