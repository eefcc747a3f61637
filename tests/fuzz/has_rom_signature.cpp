// has_rom_signature: true exactly when the header's text (its first 128 bytes up to the first
// zero) holds a signature of the table, or the header begins with "BOOT"; nothing past 128
// bytes is looked at.
#include <memory>
#include <string>

#include "front/rom_image.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view image = fuzz::as_text(data, size);
    bool signed_image = has_rom_signature(image);

    std::string_view header = image.substr(0, kRomHeaderSize);
    std::string_view text = header.substr(0, header.find('\0'));
    bool expected = header.starts_with("BOOT");
    for (std::string_view signature : rom_signature_table) {
        expected = expected || text.find(signature) != std::string_view::npos;
    }
    FUZZ_CHECK(signed_image == expected);

    // The window alone, in a buffer of exactly its size, decides the same.
    auto window = std::make_unique<char[]>(header.size());
    std::copy(header.begin(), header.end(), window.get());
    FUZZ_CHECK(has_rom_signature(std::string_view(window.get(), header.size())) == signed_image);
    return 0;
}
