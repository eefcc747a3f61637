#include "front/command_table.h"

#include <gtest/gtest.h>

#include "front/usage.h"

TEST(CommandTable, WordsGiveTheirCodesAndTexts) {
    struct Sample {
        const char* word;
        CommandCode code;
        const char* wire_text;
    };
    const Sample samples[] = {
        {"version", CommandCode::version, ""},
        {"erase", CommandCode::erase, "<ERASE>"},
        {"eraseregistry", CommandCode::erase_registry, "<ERASEREGISTRY>"},
        {"updaterom", CommandCode::update_rom, "<UPDATEROM>"},
        {"formatdisk", CommandCode::format_disk, "<FORMATDISK>"},
        {"getconfig", CommandCode::get_config, "<GETCONFIG>"},
        {"cyclic_version", CommandCode::cyclic_version, ""},
    };
    for (const Sample& s : samples) {
        auto entry = find_command(s.word);
        ASSERT_TRUE(entry) << s.word;
        EXPECT_EQ(entry->code, s.code) << s.word;
        EXPECT_EQ(entry->wire_text, s.wire_text) << s.word;
        EXPECT_EQ(command_entry(s.code).word, s.word);
    }
    for (const char* word : {"", "VERSION", "versio", "version ", "update", "cyclic-version"}) {
        EXPECT_FALSE(find_command(word)) << word;
    }
}

TEST(CommandTable, FamiliesAndFileRule) {
    EXPECT_TRUE(is_erase_command(CommandCode::erase));
    EXPECT_TRUE(is_erase_command(CommandCode::erase_disk));
    EXPECT_FALSE(is_erase_command(CommandCode::update_sys));
    EXPECT_TRUE(is_upload_command(CommandCode::update_sys));
    EXPECT_TRUE(is_upload_command(CommandCode::format_disk));
    EXPECT_FALSE(is_upload_command(CommandCode::get_config));
    for (const char* word : {"updatesys", "updatereserve", "updaterom", "formatdisk", "xupdatex"}) {
        EXPECT_TRUE(command_needs_file(word)) << word;
    }
    for (const char* word : {"version", "erase", "getconfig", "formatdisks", "cyclic_version"}) {
        EXPECT_FALSE(command_needs_file(word)) << word;
    }
}

TEST(CommandLine, ProgramNameFromPath) {
    const std::pair<const char*, const char*> samples[] = {
        {"tvflash", "tvflash"},
        {"./tvflash", "tvflash"},
        {"/usr/local/bin/TvFlash", "tvflash"},
        {"C:\\tools\\TvFlash.EXE", "tvflash"},
        {"C:\\tools/mixed\\Flash.Tool.exe", "flash.tool"},
        {"build/.hidden", ".hidden"},
        {"dir.d/tool", "tool"},
        {"", ""},
    };
    for (auto [path, name] : samples) {
        EXPECT_EQ(program_name_from_path(path), name) << path;
    }
}

TEST(CommandLine, PortIsReadLikeAtoiAndWrappedTo16Bits) {
    const std::pair<const char*, int> samples[] = {
        {"4000", 4000},
        {"  4000", 4000},
        {"+4000", 4000},
        {"4000abc", 4000},
        {"65535", 65535},
        {"65536", 0},
        {"69536", 4000},
        {"abc", 0},
        {"", 0},
        {"-1", 65535},
        {"- 1", 0},
        {"0x10", 0},
        {"\t\n12", 12},
        {"2147483647", 65535},
        {"99999999999999999999", 65535},
        {"-99999999999999999999", 0},
    };
    for (auto [text, port] : samples) {
        EXPECT_EQ(parse_port(text), port) << text;
    }
}

TEST(CommandLine, CaseConversionTouchesAsciiLettersOnly) {
    EXPECT_EQ(to_lower_ascii("VeRsIoN"), "version");
    EXPECT_EQ(to_upper_ascii("dir/image-1.tvm"), "DIR/IMAGE-1.TVM");
    EXPECT_EQ(to_upper_ascii("\xC3\xA9t\xC3\xA9"), "\xC3\xA9T\xC3\xA9");
}

TEST(CommandLine, UsageTextNamesTheProgramInEveryExample) {
    std::string text = usage_text("flashy");
    EXPECT_EQ(text.rfind("Usage: flashy <hostname> <port> <command> [<filename>]\n", 0), 0u);
    EXPECT_NE(text.find("Examples: flashy 10.10.10.10 4000 version\n"), std::string::npos);
    EXPECT_NE(text.find("\n          flashy 10.10.10.10 4000 formatdisk filesys.bin\n"),
              std::string::npos);
    int lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    EXPECT_EQ(lines, 19);
}
