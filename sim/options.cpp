#include "options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace sim {

namespace {

constexpr std::size_t kMaxBoardTypeLength = 32;
constexpr int kMaxBoards = 16;
constexpr double kMaxSeconds = 3600;
constexpr Millis kMaxNetDelayMs = 10000;
// "<VERSION> " and the text must fit the tool's reply buffer.
constexpr std::size_t kMaxVersionTextLength = 117;

template <typename Number>
bool parse_whole(std::string_view text, Number& value) {
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A plain decimal number: digits with at most one point, nothing else.
bool parse_decimal(std::string_view text, double& value) {
    std::size_t digits = 0;
    std::size_t points = 0;
    for (char c : text) {
        digits += c >= '0' && c <= '9';
        points += c == '.';
    }
    if (digits == 0 || points > 1 || digits + points != text.size()) {
        return false;
    }
    value = std::strtod(std::string(text).c_str(), nullptr);
    return true;
}

bool is_printable(std::string_view text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// The readers of option values: each stores a good value and returns an empty text, or returns
// what is wrong with it.
using ValueReader = std::function<std::string(const std::string&, SimOptions&)>;

ValueReader rate(double SimOptions::*field) {
    return [field](const std::string& text, SimOptions& options) -> std::string {
        double value = 0;
        if (!parse_decimal(text, value) || value > 1) {
            return "a rate from 0 to 1";
        }
        options.*field = value;
        return "";
    };
}

ValueReader seconds(double SimOptions::*field) {
    return [field](const std::string& text, SimOptions& options) -> std::string {
        double value = 0;
        if (!parse_decimal(text, value) || value > kMaxSeconds) {
            return "a number of seconds from 0 to 3600";
        }
        options.*field = value;
        return "";
    };
}

ValueReader millis(Millis SimOptions::*field) {
    return [field](const std::string& text, SimOptions& options) -> std::string {
        Millis value = 0;
        if (!parse_whole(text, value) || value > kMaxNetDelayMs) {
            return "a number of milliseconds from 0 to 10000";
        }
        options.*field = value;
        return "";
    };
}

struct OptionRule {
    std::string_view name;
    bool takes_value;
    ValueReader read;        // for options with a value
    bool SimOptions::*flag;  // for options without one
};

const std::vector<OptionRule>& option_rules() {
    static const std::vector<OptionRule> rules{
        {"--bind", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             std::uint32_t address = 0;
             if (!parse_ipv4(text, address)) {
                 return "an IPv4 address such as 127.0.0.1";
             }
             options.bind_address = text;
             return "";
         },
         nullptr},
        {"--port", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             std::uint16_t port = 0;
             if (!parse_whole(text, port)) {
                 return "a port number from 0 to 65535";
             }
             options.port = port;
             return "";
         },
         nullptr},
        {"--board-type", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             if (text.empty() || text.size() > kMaxBoardTypeLength || !is_printable(text) ||
                 text.find_first_of(" |") != std::string::npos) {
                 return "1 to 32 printable characters without blanks or '|'";
             }
             options.board_type = text;
             return "";
         },
         nullptr},
        {"--version-text", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             if (text.empty() || text.size() > kMaxVersionTextLength || !is_printable(text)) {
                 return "1 to 117 printable characters";
             }
             options.version_text = text;
             return "";
         },
         nullptr},
        {"--flash-size", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             std::uint32_t mib = 0;
             if (!parse_whole(text, mib) || mib < kMinFlashMib || mib > kMaxFlashMib) {
                 return "a size in MiB from 16 to 4096";
             }
             options.flash_mib = mib;
             return "";
         },
         nullptr},
        {"--loss-in", true, rate(&SimOptions::loss_in), nullptr},
        {"--loss-out", true, rate(&SimOptions::loss_out), nullptr},
        {"--nack-rate", true, rate(&SimOptions::nack_rate), nullptr},
        {"--boards", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             int boards = 0;
             if (!parse_whole(text, boards) || boards < 1 || boards > kMaxBoards) {
                 return "a number of boards from 1 to 16";
             }
             options.boards = boards;
             return "";
         },
         nullptr},
        {"--slow-erase", true, seconds(&SimOptions::slow_erase_seconds), nullptr},
        {"--slow-update", true, seconds(&SimOptions::slow_update_seconds), nullptr},
        {"--seed", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             std::uint32_t seed = 0;
             if (!parse_whole(text, seed)) {
                 return "a number from 0 to 4294967295";
             }
             options.seed = seed;
             return "";
         },
         nullptr},
        {"--pcap", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             if (text.empty()) {
                 return "a file name";
             }
             options.pcap_path = text;
             return "";
         },
         nullptr},
        {"--dup-in", true, rate(&SimOptions::dup_in), nullptr},
        {"--dup-out", true, rate(&SimOptions::dup_out), nullptr},
        {"--reorder", true, rate(&SimOptions::reorder), nullptr},
        {"--delay", true, millis(&SimOptions::delay_ms), nullptr},
        {"--jitter", true, millis(&SimOptions::jitter_ms), nullptr},
        {"--write-dir", true,
         [](const std::string& text, SimOptions& options) -> std::string {
             if (text.empty()) {
                 return "a folder";
             }
             options.write_dir = text;
             return "";
         },
         nullptr},
        {"--blind", false, nullptr, &SimOptions::blind},
        {"--hostile", false, nullptr, &SimOptions::hostile},
        {"--updating-flash", false, nullptr, &SimOptions::updating_flash},
        {"--silent", false, nullptr, &SimOptions::silent},
        {"--verbose", false, nullptr, &SimOptions::verbose},
        {"--help", false, nullptr, &SimOptions::help},
        {"-h", false, nullptr, &SimOptions::help},
        {"--version", false, nullptr, &SimOptions::version},
    };
    return rules;
}

const OptionRule* find_option(std::string_view name) {
    for (const OptionRule& rule : option_rules()) {
        if (rule.name == name) {
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0 && arg != "-h") {
            parsed.error = "unexpected argument '" + arg + "'";
            return parsed;
        }
        std::size_t equals = arg.find('=');
        std::string name = arg.substr(0, equals);
        const OptionRule* rule = find_option(name);
        if (rule == nullptr) {
            parsed.error = "unknown option '" + name + "'";
            return parsed;
        }
        if (!rule->takes_value) {
            if (equals != std::string::npos) {
                parsed.error = "option '" + name + "' takes no value";
                return parsed;
            }
            parsed.options.*(rule->flag) = true;
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            parsed.error = "option '" + name + "' needs a value";
            return parsed;
        }
        std::string wanted = rule->read(value, parsed.options);
        if (!wanted.empty()) {
            parsed.error = "bad value '" + value + "' for " + name + ": expected " + wanted;
            return parsed;
        }
    }
    return parsed;
}

std::string usage_text() {
    return "Usage: tvflash-sim [options]\n"
           "A simulated Talvium board on the network: it answers tvflash's datagrams on a UDP\n"
           "port as a healthy board does, each to its sender, until SIGINT or SIGTERM\n"
           "(on Windows: Ctrl-C, Ctrl-Break or closing its console).\n"
           "\n"
           "Network:\n"
           "  --bind ADDRESS         IPv4 address to listen on (default 127.0.0.1)\n"
           "  --port PORT            UDP port; 0 picks a free one (default 4000)\n"
           "Board:\n"
           "  --board-type TEXT      board type of the hardware (default PLN7/ZE)\n"
           "  --version-text TEXT    version text of the board\n"
           "                         (default \"Talvium 5.2 on <board type> (simulated)\")\n"
           "  --flash-size MIB       flash memory size, 16 to 4096 MiB (default 16)\n"
           "Unhappy paths:\n"
           "  --loss-in RATE         drop this share of the datagrams received (0 to 1)\n"
           "  --loss-out RATE        drop this share of the datagrams sent (0 to 1)\n"
           "  --nack-rate RATE       refuse this share of data blocks and end-of-load\n"
           "                         messages with <NACK> instead of accepting them\n"
           "  --boards N             answer <VERSION> as N boards on one address (1 to 16)\n"
           "  --slow-erase SECONDS   an erase takes this long, with <ERASING> every 2 s\n"
           "  --slow-update SECONDS  writing an update takes this long, with <UPDATING>\n"
           "                         every 2 s\n"
           "  --updating-flash       answer <UPDATING_FLASH> first to every command, the\n"
           "                         answer itself 1.5 s later\n"
           "  --silent               answer nothing\n"
           "  --hostile              answer from a seeded hostile grammar (wrong, cut, glued,\n"
           "                         over-long, binary replies...), then fall silent\n"
           "  --seed N               seed of the random choices of the rates (default 1)\n"
           "Network faults (the board never learns of them):\n"
           "  --dup-in RATE          deliver this share of the datagrams received twice\n"
           "  --dup-out RATE         deliver this share of the datagrams sent twice\n"
           "  --reorder RATE         hold this share back until the next one has passed\n"
           "                         (at most 50 ms), each way\n"
           "  --delay MS             delay every datagram, each way, by MS milliseconds\n"
           "  --jitter MS            and by a further 0 to MS milliseconds, drawn each time\n"
           "  --blind                keep --loss-in and --loss-out from the board too; it\n"
           "                         then asks for a repeat after any silence in an upload\n"
           "  --write-dir DIR        write the bytes of each completed update to\n"
           "                         DIR/update-N.bin (N counts from 1)\n"
           "Other:\n"
           "  --verbose              log every datagram in and out on standard error\n"
           "  --pcap FILE            write every datagram in and out to FILE as a pcap\n"
           "                         capture (IPv4/UDP, readable by Wireshark and tshark)\n"
           "  -h, --help             show this text\n"
           "  --version              show the version\n"
           "\n"
           "Options take their value as the next argument or after '='. When it is ready,\n"
           "the simulator prints \"tvflash-sim listening on ADDRESS:PORT\" on standard output.\n";
}

BoardSettings board_settings(const SimOptions& options) {
    BoardSettings settings;
    settings.board_type = options.board_type;
    settings.version_text = options.version_text.empty()
                                ? "Talvium 5.2 on " + options.board_type + " (simulated)"
                                : options.version_text;
    settings.flash_mib = options.flash_mib;
    settings.boards = options.boards;
    settings.erase_ms = std::llround(options.slow_erase_seconds * 1000);
    settings.update_ms = std::llround(options.slow_update_seconds * 1000);
    settings.updating_flash = options.updating_flash;
    settings.silent = options.silent;
    settings.nack_rate = options.nack_rate;
    settings.lossy = options.loss_in > 0 || options.loss_out > 0;
    settings.seed = options.seed;
    settings.blind = options.blind;
    settings.keep_images = !options.write_dir.empty();
    return settings;
}

bool parse_ipv4(const std::string& text, std::uint32_t& address) {
    std::string_view rest = text;
    std::uint32_t result = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = rest.find('.');
        bool last = part == 3;
        if (last != (dot == std::string_view::npos)) {
            return false;
        }
        std::string_view number = rest.substr(0, dot);
        unsigned value = 0;
        if (number.size() > 3 || !parse_whole(number, value) || value > 255) {
            return false;
        }
        result = result << 8 | value;
        rest = last ? std::string_view() : rest.substr(dot + 1);
    }
    address = result;
    return true;
}

}  // namespace sim
