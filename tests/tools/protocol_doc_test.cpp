// docs/protocol.md against the code: its worked checksums and end-of-load datagrams are what the
// tool sends and the simulated board reads, and its tag catalogue is the dissector's. And the
// bootloader signatures of tvflash(1) are the tool's.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "front/rom_image.h"
#include "sessions/upload_format.h"
#include "wire.h"

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(std::string(TVFLASH_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The cells, without backquotes, of the table rows after the line "<!-- checked by
// tests/tools/protocol_doc_test.cpp: name -->" up to the next heading or marker; heading and rule
// rows left out.
std::vector<std::vector<std::string>> marked_rows(const std::string& name) {
    std::istringstream doc(read_text("docs/protocol.md"));
    std::vector<std::vector<std::string>> rows;
    bool inside = false;
    int row_in_table = 0;
    for (std::string line; std::getline(doc, line);) {
        if (inside && (line.starts_with("#") || line.starts_with("<!--"))) {
            break;
        }
        inside =
            inside || line == "<!-- checked by tests/tools/protocol_doc_test.cpp: " + name + " -->";
        row_in_table = inside && line.starts_with("|") ? row_in_table + 1 : 0;
        if (row_in_table > 2) {
            std::istringstream row(line.substr(1));
            rows.emplace_back();
            for (std::string cell; std::getline(row, cell, '|');) {
                rows.back().push_back(std::regex_replace(cell, std::regex("^ +| +$|`"), ""));
            }
        }
    }
    return rows;
}

}  // namespace

TEST(ProtocolDocument, WorkedChecksumsAndEndOfLoadDatagrams) {
    const auto rows = marked_rows("checksum");
    ASSERT_GE(rows.size(), 6u);
    for (const auto& cells : rows) {
        ASSERT_EQ(cells.size(), 5u) << cells.front();
        std::string image;
        std::istringstream hex(cells[0] == "(none)" ? "" : cells[0]);
        for (std::string byte; hex >> byte;) {
            image += static_cast<char>(std::stoi(byte, nullptr, 16));
        }
        const auto sum = static_cast<std::uint32_t>(std::stoul(cells[1], nullptr, 16));
        EXPECT_EQ(
            image_checksum(reinterpret_cast<const unsigned char*>(image.data()), image.size(), 0),
            sum)
            << cells[0];
        EXPECT_EQ(sim::add_to_checksum(0, 0, image), sum) << cells[0];
        EXPECT_EQ(cells[2], std::to_string(static_cast<std::int32_t>(sum)));
        const std::string datagram =
            std::regex_replace(cells[3], std::regex("\\\\0"), std::string(1, '\0'));
        EXPECT_EQ(format_end_load(sum), datagram) << cells[3];
        EXPECT_EQ(std::to_string(datagram.size()), cells[4]) << cells[3];
        EXPECT_EQ(sim::parse_end_load(datagram), sum) << cells[3];
    }
}

TEST(ProtocolDocument, TagCatalogueIsTheDissectors) {
    const std::string lua = read_text("tools/wireshark/tvflash.lua");
    for (const auto& [list, table] : {std::pair{"COMMANDS", "commands"}, {"REPLIES", "replies"}}) {
        std::smatch block;
        ASSERT_TRUE(std::regex_search(lua, block, std::regex(std::string(list) + " = \\{([^}]*)")));
        const std::string body = block[1];
        std::set<std::string> dissector;
        const std::regex quoted("\"(<[^\"]*)\"");
        for (std::sregex_iterator it(body.begin(), body.end(), quoted), end; it != end; ++it) {
            dissector.insert((*it)[1]);
        }
        std::set<std::string> document;
        for (const auto& cells : marked_rows(table)) {
            if (cells.front().starts_with("<")) {
                document.insert(cells.front());
            }
        }
        EXPECT_EQ(document, dissector) << list;
    }
}

// The manual page lists each signature on a line of its own, as ".B "signature"".
TEST(ManualPage, ListsTheBootloaderSignaturesTheToolAccepts) {
    std::set<std::string> listed;
    std::istringstream page(read_text("docs/tvflash.1"));
    for (std::string line; std::getline(page, line);) {
        if (line.find(", ROM-Version:\"") != std::string::npos) {
            listed.insert(std::regex_replace(line, std::regex("^\\.B \"|\"$"), ""));
        }
    }
    EXPECT_EQ(listed,
              std::set<std::string>(rom_signature_table.begin(), rom_signature_table.end()));
}
