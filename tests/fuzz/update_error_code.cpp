// update_error_code of "<UPDATE_ERROR>": the number after the tag and one separator character,
// read as atoi reads it (compared with strtoll), saturated to the int32 range.
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
    FUZZ_CHECK(code == fuzz::saturated_int32(number));
    FUZZ_CHECK(classify_completion_reply(reply) == CompletionReply::update_error);
    return 0;
}
