// update_error_code of "<UPDATE_ERROR>": the number after the tag and one separator character,
// read as atoi reads it (compared with strtoll), saturated to the int32 range.
#include <climits>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "sessions/framing.h"
#include "sessions/upload_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string reply = "<UPDATE_ERROR>";
    reply.append(fuzz::as_text(data, size));
    reply.resize(std::min(reply.find('\0'), kMessageBufferSize - 1));
    std::int32_t code = update_error_code(reply);
    std::string number = reply.size() > 15 ? reply.substr(15) : std::string();
    long long expected = std::strtoll(number.c_str(), nullptr, 10);
    expected = expected > INT_MAX ? INT_MAX : expected < INT_MIN ? INT_MIN : expected;
    FUZZ_CHECK(code == expected);
    FUZZ_CHECK(classify_completion_reply(reply) == CompletionReply::update_error);
    return 0;
}
