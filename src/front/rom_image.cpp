#include "front/rom_image.h"

bool has_rom_signature(std::string_view header) {
    header = header.substr(0, kRomHeaderSize);
    std::string_view text = header.substr(0, header.find('\0'));
    for (std::string_view signature : rom_signature_table) {
        if (text.find(signature) != std::string_view::npos) {
            return true;
        }
    }
    return header.starts_with("BOOT");
}
