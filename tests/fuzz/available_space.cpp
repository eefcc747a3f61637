// available_space of "<SIZE_ERROR><EXPANDED>": white space, then a signed decimal, read as atoi
// reads it (compared with strtoll), saturated to the int32 range; 0 without a number.
#include <string>

#include "fuzz_check.h"
#include "sessions/framing.h"
#include "sessions/upload_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string reply = "<SIZE_ERROR><EXPANDED>";
    reply.append(fuzz::as_text(data, size));
    reply.resize(std::min(reply.find('\0'), kMessageBufferSize - 1));
    std::int32_t space = available_space(reply);
    std::string number = reply.size() > 22 ? reply.substr(22) : std::string();
    FUZZ_CHECK(space == fuzz::saturated_int32(number));
    FUZZ_CHECK(classify_completion_reply(reply) == CompletionReply::space_error);
    return 0;
}
