// SHA-256 of bytes, as lower-case hex: the record names each image and recipe by it.
#pragma once

#include <string>
#include <string_view>

namespace fleet {

// The SHA-256 digest of bytes, 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

}  // namespace fleet
