#include "record/share.h"

namespace fleet {
namespace {

// Rows a transaction of the shared database takes: a few boards' worth, so a long backlog goes
// over in steps that each stay done.
constexpr std::size_t kBatchRows = 200;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at the start of text, or 0 when there is none.
std::size_t utf8_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    unsigned char first = byte(0);
    if (first >= 0x01 && first < 0x80) {
        return 1;
    }
    if (first >= 0xC2 && first <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (first >= 0xE0 && first <= 0xEF) {
        // No overlong forms (E0 80..9F) and no UTF-16 surrogates (ED A0..BF).
        bool second_ok = continuation(1) && !(first == 0xE0 && byte(1) < 0xA0) &&
                         !(first == 0xED && byte(1) >= 0xA0);
        return second_ok && continuation(2) ? 3 : 0;
    }
    if (first >= 0xF0 && first <= 0xF4) {
        // No overlong forms (F0 80..8F) and nothing past U+10FFFF (F4 90..).
        bool second_ok = continuation(1) && !(first == 0xF0 && byte(1) < 0x90) &&
                         !(first == 0xF4 && byte(1) >= 0x90);
        return second_ok && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

std::string url_without_password(std::string_view url) {
    std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return std::string(url);
    }
    // The credentials end at the authority's last "@", so that a password with an "@" in it
    // (which should have been written %40) is hidden whole.
    std::size_t authority = scheme + 3;
    std::size_t end = url.find_first_of("/?", authority);
    std::string_view credentials = url.substr(0, end);
    std::size_t at = credentials.rfind('@');
    if (at == std::string_view::npos || at < authority) {
        return std::string(url);
    }
    std::size_t colon = url.find(':', authority);
    if (colon == std::string_view::npos || colon > at) {
        return std::string(url);
    }
    return std::string(url.substr(0, colon + 1)) + "***" + std::string(url.substr(at));
}

std::string postgres_text(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    while (!text.empty()) {
        std::size_t length = utf8_length(text);
        if (length == 0) {
            valid += kReplacement;
            length = 1;
        } else {
            valid += text.substr(0, length);
        }
        text.remove_prefix(length);
    }
    return valid;
}

CopyResult copy_not_shared(RecordDatabase& local, SharedDatabase& shared) {
    CopyResult result;
    while (true) {
        std::optional<std::vector<StoredRow>> rows = local.not_shared(kBatchRows);
        if (!rows) {
            result.error = "cannot read the rows to copy: " + local.error();
            return result;
        }
        if (rows->empty()) {
            return result;
        }
        std::optional<std::size_t> added = shared.add(*rows, result.error);
        if (!added) {
            return result;
        }
        // Should this fail, the rows go again next time, and the shared table keeps one of each.
        if (!local.mark_shared(rows->back().id)) {
            result.error = "cannot mark the rows copied: " + local.error();
            return result;
        }
        result.added += *added;
        result.there_already += rows->size() - *added;
    }
}

}  // namespace fleet
