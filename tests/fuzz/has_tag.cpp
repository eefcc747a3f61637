// has_tag on what a datagram leaves in the 128-byte reply buffer, with buffer_text and text_from
// that every reader goes through: nothing is read past the buffer, a tag matches exactly when the
// text begins with it.
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "sessions/framing.h"

namespace {

constexpr std::string_view kTags[] = {
    "<VERSION>",
    "<ERASE_START>",
    "<ERASE_OK>",
    "<ERASE_ERROR>",
    "<OK_LOAD>",
    "<ACK>",
    "<NACK>",
    "<CHECK_",
    "<UPDATE_OK>",
    "<UPDATING_FLASH>",
    "<FLASH_CONFIG_DATA>",
    "<SIZE_ERROR>",
    "",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the buffer's bytes on the heap, so that a read past them is caught.
    auto buffer = std::make_unique<char[]>(kMessageBufferSize);
    std::size_t copied = size < kMessageBufferSize ? size : kMessageBufferSize;
    if (copied > 0) {
        std::memcpy(buffer.get(), data, copied);
    }
    std::string_view reply = buffer_text(buffer.get());
    std::size_t length = 0;
    while (length < kMessageBufferSize - 1 && buffer[length] != '\0') {
        ++length;
    }
    FUZZ_CHECK(reply.data() == buffer.get() && reply.size() == length);
    for (std::string_view tag : kTags) {
        bool expected = reply.size() >= tag.size() && reply.compare(0, tag.size(), tag) == 0;
        FUZZ_CHECK(has_tag(reply, tag) == expected);
    }
    for (std::size_t offset = 0; offset <= kMessageBufferSize + 1; ++offset) {
        std::string_view rest = text_from(reply, offset);
        FUZZ_CHECK(rest.size() == (offset < reply.size() ? reply.size() - offset : 0));
        FUZZ_CHECK(rest.empty() || rest.data() == reply.data() + offset);
    }
    return 0;
}
