#include "platform/console_answer.h"

#include <cctype>

namespace {

constexpr std::size_t kMaxAnswerLength = 256;

std::string_view trim_blanks(std::string_view text) {
    auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equals_ignoring_case(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

ConsoleAnswer classify_console_answer(std::string_view line) {
    std::string_view answer = trim_blanks(line);
    if (answer.empty() || equals_ignoring_case(answer, "y") ||
        equals_ignoring_case(answer, "yes")) {
        return ConsoleAnswer::yes;
    }
    if (equals_ignoring_case(answer, "n") || equals_ignoring_case(answer, "no")) {
        return ConsoleAnswer::no;
    }
    return ConsoleAnswer::unclear;
}

bool read_console_line(std::FILE* stream, std::string& line) {
    line.clear();
    for (;;) {
        int c = std::fgetc(stream);
        if (c == EOF) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        if (line.size() < kMaxAnswerLength) {
            line.push_back(static_cast<char>(c));
        }
    }
}
