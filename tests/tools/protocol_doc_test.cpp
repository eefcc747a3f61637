// docs/protocol.md against the code: its worked checksums and end-of-load datagrams are what the
// tool sends and the simulated board reads, and its tag catalogue is the dissector's.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "sessions/upload_format.h"
#include "wire.h"

namespace {

const std::string kSource = TVFLASH_SOURCE_DIR;

std::string read_text(const std::string& path) {
    std::ifstream in(kSource + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The cells of the table rows that follow the marker line "<!-- checked by ...: name -->",
// without the heading and rule rows; tables end at the next heading.
std::vector<std::vector<std::string>> marked_rows(const std::string& name) {
    std::istringstream doc(read_text("docs/protocol.md"));
    std::vector<std::vector<std::string>> rows;
    bool inside = false;
    int row_in_table = 0;
    for (std::string line; std::getline(doc, line);) {
        if (line == "<!-- checked by tests/tools/protocol_doc_test.cpp: " + name + " -->") {
            inside = true;
        } else if (inside && (line.starts_with("#") || line.starts_with("<!--"))) {
            break;
        } else if (inside && line.starts_with("|")) {
            std::vector<std::string> cells;
            std::istringstream row(line.substr(1));
            for (std::string cell; std::getline(row, cell, '|');) {
                cells.push_back(std::regex_replace(cell, std::regex("^ +| +$|`"), ""));
            }
            if (++row_in_table > 2) {
                rows.push_back(cells);
            }
        } else {
            row_in_table = 0;
        }
    }
    return rows;
}

std::string unescape_zero(std::string text) {
    return std::regex_replace(text, std::regex("\\\\0"), std::string(1, '\0'));
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
        const auto checksum = static_cast<std::uint32_t>(std::stoul(cells[1], nullptr, 16));
        const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
        EXPECT_EQ(image_checksum(bytes, image.size(), 0), checksum) << cells[0];
        EXPECT_EQ(sim::add_to_checksum(0, 0, image), checksum) << cells[0];
        EXPECT_EQ(cells[2], std::to_string(static_cast<std::int32_t>(checksum)));
        const std::string datagram = unescape_zero(cells[3]);
        EXPECT_EQ(format_end_load(checksum), datagram) << cells[3];
        EXPECT_EQ(std::to_string(datagram.size()), cells[4]) << cells[3];
        EXPECT_EQ(sim::parse_end_load(datagram), checksum) << cells[3];
    }
}

TEST(ProtocolDocument, TagCatalogueIsTheDissectors) {
    const std::string lua = read_text("tools/wireshark/tvflash.lua");
    for (const char* list : {"COMMANDS", "REPLIES"}) {
        std::smatch block;
        ASSERT_TRUE(std::regex_search(
            lua, block, std::regex(std::string("local ") + list + " = \\{([^}]*)\\}")));
        std::set<std::string> dissector;
        const std::string body = block[1];
        const std::regex quoted("\"(<[^\"]*)\"");
        for (std::sregex_iterator it(body.begin(), body.end(), quoted), end; it != end; ++it) {
            dissector.insert((*it)[1]);
        }
        std::set<std::string> document;
        for (const auto& cells :
             marked_rows(list == std::string("COMMANDS") ? "commands" : "replies")) {
            if (cells.front().starts_with("<")) {
                document.insert(cells.front());
            }
        }
        EXPECT_EQ(document, dissector) << list;
    }
}
