// read_int_at: the first byte chooses the offset, the rest is the reply text. It reads exactly
// what atoi reads there (compared with strtol on the same text), saturated to the int32 range.
#include <string>

#include "fuzz_check.h"
#include "sessions/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::size_t offset = data[0] % 160;
    std::string_view reply = fuzz::as_text(data + 1, size - 1);
    reply = reply.substr(0, reply.find('\0'));
    std::int32_t value = read_int_at(reply, offset);

    std::string rest(offset < reply.size() ? reply.substr(offset) : std::string_view{});
    FUZZ_CHECK(value == fuzz::saturated_int32(rest));
    return 0;
}
