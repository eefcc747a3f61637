#include "front/rom_image.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string header_of(std::string text) {
    text.resize(kRomHeaderSize, 'x');
    return text;
}

}  // namespace

TEST(RomSignature, EveryKnownSignatureAtTheStartIsAccepted) {
    for (std::string_view signature : rom_signature_table) {
        EXPECT_TRUE(has_rom_signature(header_of(std::string(signature) + " 1.02"))) << signature;
    }
}

TEST(RomSignature, HeaderSamples) {
    const std::string pln = "PLN7/ZE, Rel. C, ROM-Version:";
    struct Sample {
        std::string header;
        bool accepted;
    };
    const Sample samples[] = {
        {header_of("BOOT"), true},
        {header_of(std::string("BOOT\0\0\0\0", 8)), true},
        {header_of("xBOOT"), false},
        {header_of("boot"), false},
        {header_of("Bootloader " + pln), true},
        {header_of("pln7/ze, Rel. C, ROM-Version:"), false},
        {header_of("PLN7/ZE, Rel. C, ROM-Version"), false},
        {header_of("PLN7/ZE, Rel. D, ROM-Version:"), false},
        {header_of(std::string("abc\0", 4) + pln), false},
        {header_of(std::string(kRomHeaderSize - pln.size(), 'y') + pln), true},
        {header_of(std::string(kRomHeaderSize - pln.size() + 1, 'y') + pln), false},
        {std::string(kRomHeaderSize, '\0'), false},
        {header_of(""), false},
    };
    for (const Sample& s : samples) {
        EXPECT_EQ(has_rom_signature(s.header), s.accepted) << s.header;
    }
}
