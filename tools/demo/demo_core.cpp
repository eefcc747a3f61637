#include "demo_core.h"

#include <regex>

namespace demo {

namespace {

// The lines of text without their line ends.
std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

bool has_line(std::string_view output, std::string_view line) {
    for (std::string_view candidate : lines_of(output)) {
        if (candidate == line) {
            return true;
        }
    }
    return false;
}

bool has_line_starting(std::string_view output, std::string_view start) {
    for (std::string_view candidate : lines_of(output)) {
        if (candidate.starts_with(start)) {
            return true;
        }
    }
    return false;
}

// The size of a row "0xSTART - 0xEND | System    | SIZE (...K) bytes".
std::optional<std::uint64_t> system_row_size(std::string_view line) {
    static const std::regex row("0x[0-9A-F]+ - 0x[0-9A-F]+ \\| System +\\| *([0-9]{1,18}) .*");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_match(line.begin(), line.end(), match, row)) {
        return std::nullopt;
    }
    return std::stoull(match.str(1));
}

std::string missing(std::string_view line) {
    std::string problem = "'";
    problem += line;
    return problem + "' missing from the output";
}

std::vector<std::string> judge_output(std::size_t step, std::string_view output,
                                      std::optional<std::uint64_t>& system_before) {
    std::vector<std::string> problems;
    auto expect_line = [&](std::string_view line) {
        if (!has_line(output, line)) {
            problems.push_back(missing(line));
        }
    };
    switch (step) {
        case 0:
            if (output.find("Talvium") == std::string_view::npos) {
                problems.push_back("no version text with Talvium");
            }
            break;
        case 1:
            expect_line("                           Flash memory configuration");
            if (!has_line_starting(output, "Total size of flash memory ")) {
                problems.push_back("no total size line");
            }
            system_before = system_area_size(output);
            break;
        case 2:
            expect_line("Total of " + std::to_string(kImageSize) + " bytes uploaded.");
            expect_line("Flash memory update successful.");
            break;
        case 3: {
            std::optional<std::uint64_t> after = system_area_size(output);
            if (!after || *after < kImageSize || after == system_before) {
                auto shown = [](std::optional<std::uint64_t> size) {
                    return size ? std::to_string(*size) : std::string("none");
                };
                problems.push_back("the System area should now hold the " +
                                   std::to_string(kImageSize) + "-byte image (was " +
                                   shown(system_before) + ", is " + shown(after) + " bytes)");
            }
            break;
        }
        default:
            expect_line("Flash memory has been successfully erased.");
            break;
    }
    return problems;
}

}  // namespace

std::string demo_image(std::size_t size) {
    std::string image(size, '\0');
    std::uint64_t x = 20240601;
    for (char& byte : image) {
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF;
        byte = static_cast<char>(x >> 16 & 0xFF);
    }
    return image;
}

std::optional<std::uint16_t> listening_port(std::string_view sim_output) {
    static const std::regex line("tvflash-sim listening on 127\\.0\\.0\\.1:([0-9]{1,5})\r?\n");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_search(sim_output.begin(), sim_output.end(), match, line) ||
        std::stoul(match.str(1)) > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(match.str(1)));
}

std::optional<std::uint64_t> system_area_size(std::string_view output) {
    for (std::string_view line : lines_of(output)) {
        if (std::optional<std::uint64_t> size = system_row_size(line)) {
            return size;
        }
    }
    return std::nullopt;
}

std::string without_carriage_returns(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') {
            plain += text[i];
        }
    }
    return plain;
}

const std::vector<std::vector<std::string>>& demo_steps() {
    static const std::vector<std::vector<std::string>> steps{
        {"version"}, {"getconfig"}, {"updatesys", kImageName}, {"getconfig"}, {"erasesys"},
    };
    return steps;
}

std::vector<std::string> DemoJudge::judge(std::size_t step, int status, std::string_view output) {
    std::vector<std::string> problems = judge_output(step, output, system_before_);
    if (status != 0) {
        std::string command;
        for (const std::string& word : demo_steps().at(step)) {
            command += command.empty() ? "" : " ";
            command += word;
        }
        problems.insert(problems.begin(),
                        "'" + command + "' ended with status " + std::to_string(status));
    }
    return problems;
}

std::string verdict_line(bool every_step_passed) {
    return every_step_passed ? "demo: every step did what it should"
                             : "demo: some steps did not do what they should";
}

std::wstring quote_argument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows: then each is doubled and the quote
        // escaped.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    // Before the closing quote, every backslash is doubled.
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

}  // namespace demo
