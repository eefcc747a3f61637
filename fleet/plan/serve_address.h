// Where the station page is served: [ADDRESS:]PORT, the address 127.0.0.1 unless one is named, so
// that the page reaches the network only when the operator asks for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fleet {

inline constexpr const char* kDefaultServeAddress = "127.0.0.1";

struct ServeAddress {
    std::string address = kDefaultServeAddress;  // dotted IPv4; 0.0.0.0 for every address
    std::uint16_t port = 0;                      // 0: a free port the system picks
};

// PORT or ADDRESS:PORT (PORT from 0 to 65535); nothing, with the reason, when text is neither.
struct ParsedServeAddress {
    std::optional<ServeAddress> serve;
    std::string error;
};
ParsedServeAddress parse_serve_address(std::string_view text);

// The page's address for a browser: "http://127.0.0.1:8080/". A page served on every address
// (0.0.0.0) is named by host, the machine's name.
std::string page_url(const ServeAddress& serve, const std::string& host);

}  // namespace fleet
