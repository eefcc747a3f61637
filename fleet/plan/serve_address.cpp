#include "plan/serve_address.h"

#include "plan/targets.h"
#include "text.h"

namespace fleet {

ParsedServeAddress parse_serve_address(std::string_view text) {
    ServeAddress serve;
    std::string_view port_text = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string_view address = text.substr(0, colon);
        if (!parse_ipv4(address)) {
            return {std::nullopt, quote(address) + " is not an IPv4 address"};
        }
        serve.address = std::string(address);
        port_text = text.substr(colon + 1);
    }
    const std::optional<std::uint32_t> port = parse_number(port_text, 0, 65535);
    if (!port) {
        return {std::nullopt, quote(port_text) + " is not a port from 0 to 65535"};
    }
    serve.port = static_cast<std::uint16_t>(*port);
    return {serve, ""};
}

std::string page_url(const ServeAddress& serve, const std::string& host) {
    const std::string name = serve.address == "0.0.0.0" ? host : serve.address;
    return "http://" + name + ":" + std::to_string(serve.port) + "/";
}

}  // namespace fleet
