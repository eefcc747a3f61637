#include "hostile.h"

#include <utility>

namespace sim {

namespace {

constexpr int kMinBudget = 4;
constexpr int kMaxBudget = 160;
constexpr std::size_t kOverLong = 129;

// The forms of one reply and how often each is drawn, out of kWeightTotal.
enum class Form {
    right,
    wrong_tag,
    cut_tag,
    glued,
    over_long,
    binary,
    control,
    huge_number,
};

struct FormWeight {
    Form form;
    int weight;
};

constexpr FormWeight kForms[] = {
    {Form::right, 60},    {Form::wrong_tag, 6}, {Form::cut_tag, 5}, {Form::glued, 5},
    {Form::over_long, 5}, {Form::binary, 5},    {Form::control, 5}, {Form::huge_number, 5},
};
constexpr int kWeightTotal = 96;

// Out of 100 replies, this many are left out and this many more come with one or two others.
constexpr int kLeftOut = 4;
constexpr int kWithOthers = 5;

const std::vector<std::string> kTags{
    "<VERSION>",
    "<NACK>",
    "<ACK>",
    "<UPDATING_FLASH>",
    "<ERASE_START>",
    "<ERASE_OK>",
    "<ERASE_ERROR>",
    "<NO_SYS_AREA>",
    "<NO_RESERVE>",
    "<NO_FLASH_FILE_SYSTEM>",
    "<FILE_SYSTEM_PRESENCE_ERROR>",
    "<OK_LOAD>",
    "<CHECK_OK>",
    "<CHECK_ERROR>",
    "<SIZE_ERROR><EXPANDED>",
    "<SIZE_ERROR>",
    "<UPDATE_OK>",
    "<UPDATE_ERROR>",
    "<SYSTEM_FILE_PRESENCE_ERROR>",
    "<DEST_DIFFER_QUERY>",
    "<FLASH_CONFIG_START>",
    "<FLASH_CONFIG_DATA>",
    "<FLASH_CONFIG_END>",
};

const std::vector<std::string> kHugeNumbers{
    "99999999999999999999",
    "-99999999999999999999",
    "4294967296",
    "-2147483649",
    "18446744073709551617",
    "1e999",
    "-1e999",
    "nan",
    "0x1FFFFFFFFFFFFFFFF",
    "FFFFFFFFFFFFFFFFFFFFFFFF",
    "2147483648",
    "-0",
};

const std::vector<std::string> kControls{
    "\x1b[2J\x1b[H", "\x1b]0;hostile\x07", "\x07", "\b\b\b", "\x7f", "\x1b[31m", "\x1b", "\x0c",
};

}  // namespace

HostileBoard::HostileBoard(std::uint32_t seed) : engine_(seed) {
    budget_ = kMinBudget + static_cast<int>(below(kMaxBudget - kMinBudget + 1));
}

std::size_t HostileBoard::below(std::size_t bound) {
    return static_cast<std::size_t>(engine_() % bound);
}

std::string HostileBoard::pick(const std::vector<std::string>& choices) {
    return choices[below(choices.size())];
}

std::string HostileBoard::huge_number() {
    return pick(kHugeNumbers);
}

// A tag of the catalogue with parameters of the kinds the tool reads after it.
std::string HostileBoard::any_reply() {
    std::string tag = pick(kTags);
    if (tag == "<FLASH_CONFIG_DATA>") {
        return tag + " " + huge_number() + " " + huge_number() + " " + huge_number();
    }
    if (tag == "<DEST_DIFFER_QUERY>") {
        return tag + " " + pick({"A|B", "|", "", "X", "A|B|C", "\x1b[2J|\x07"});
    }
    if (tag == "<VERSION>") {
        return tag + " Talvium " + huge_number();
    }
    if (below(2) == 0) {
        return tag + " " + huge_number();
    }
    return tag;
}

std::string HostileBoard::twist(const std::string& right) {
    int draw = static_cast<int>(below(kWeightTotal));
    Form form = Form::right;
    for (const FormWeight& entry : kForms) {
        if (draw < entry.weight) {
            form = entry.form;
            break;
        }
        draw -= entry.weight;
    }
    std::size_t tag_end = right.find('>');
    std::size_t tag_length = tag_end == std::string::npos ? right.size() : tag_end + 1;
    switch (form) {
        case Form::right:
            return right;
        case Form::wrong_tag:
            return any_reply();
        case Form::cut_tag:
            return right.substr(0, below(tag_length > 0 ? tag_length : 1));
        case Form::glued:
            return right + any_reply();
        case Form::over_long:
            return right + std::string(kOverLong + below(300), 'X');
        case Form::binary: {
            std::string bytes = below(2) == 0 ? right.substr(0, tag_length) : std::string();
            for (std::size_t i = 0, n = 1 + below(120); i < n; ++i) {
                bytes.push_back(below(4) == 0 ? '\0' : static_cast<char>(engine_() & 0xFF));
            }
            return bytes;
        }
        case Form::control:
            return right.substr(0, tag_length) + " " + pick(kControls) + right.substr(tag_length);
        case Form::huge_number:
            return right.substr(0, tag_length) + " " + huge_number();
    }
    return right;
}

std::vector<Reply> HostileBoard::answer(PeerId peer, std::vector<Reply> right) {
    if (budget_ <= 0) {
        return {};
    }
    --budget_;
    if (right.empty()) {
        right.push_back({any_reply(), 0, peer});
    }
    std::vector<Reply> replies;
    for (Reply& reply : right) {
        int draw = static_cast<int>(below(100));
        if (draw < kLeftOut) {
            continue;
        }
        if (draw < kLeftOut + kWithOthers) {
            replies.push_back(reply);
            for (std::size_t extra = 0, n = 1 + below(2); extra < n; ++extra) {
                replies.push_back(
                    {below(2) == 0 ? reply.bytes : any_reply(), reply.delay, reply.to});
            }
            continue;
        }
        reply.bytes = twist(reply.bytes);
        replies.push_back(std::move(reply));
    }
    return replies;
}

}  // namespace sim
