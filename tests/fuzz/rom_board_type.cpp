// sim::rom_board_type, the board's reading of a bootloader's header: the word right before the
// first ", Rel." of the header text, taken from the first 128 bytes up to the first zero only.
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view image = fuzz::as_text(data, size);
    std::string type = sim::rom_board_type(image);
    std::string_view head = image.substr(0, 128);
    head = head.substr(0, head.find('\0'));
    std::size_t mark = head.find(", Rel.");
    if (mark == std::string_view::npos) {
        FUZZ_CHECK(type.empty());
    } else {
        FUZZ_CHECK(head.substr(0, mark).ends_with(type));
        FUZZ_CHECK(type.find_first_of(" \t\r\n") == std::string::npos);
        std::size_t begin = mark - type.size();
        FUZZ_CHECK(begin == 0 ||
                   std::string_view(" \t\r\n").find(head[begin - 1]) != std::string_view::npos);
    }
    // The 128-byte window alone, in a buffer of exactly its size, gives the same.
    std::string_view window = image.substr(0, 128);
    auto copy = std::make_unique<char[]>(window.size());
    std::copy(window.begin(), window.end(), copy.get());
    FUZZ_CHECK(sim::rom_board_type(std::string_view(copy.get(), window.size())) == type);
    return 0;
}
