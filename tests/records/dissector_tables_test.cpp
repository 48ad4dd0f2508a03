// The Wireshark dissector carries its own copies of the error catalogue and
// the request names (Lua cannot use the console's); they must not drift.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "valdor/records/decode.h"
#include "valdor/responses/error_catalogue.h"

namespace {

std::string dissector() {
    std::ifstream in(std::filesystem::path(SOURCE_DIR) / "tools" / "wireshark" / "rslink.lua");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string unescape(const std::string &lua) {
    std::string out;
    for (size_t i = 0; i < lua.size(); ++i) {
        if (lua[i] == '\\' && i + 1 < lua.size()) ++i;
        out += lua[i];
    }
    return out;
}

TEST(DissectorTables, TheErrorCatalogueIsTheConsolesInTheSameOrder) {
    const std::string lua = dissector();
    static const std::regex entry(R"re(\{(\d), 0x([0-9A-F]{4}), "((?:[^"\\]|\\.)*)"\},)re");
    const auto catalogue = valdor::errorCatalogue();
    size_t i = 0;
    for (auto it = std::sregex_iterator(lua.begin(), lua.end(), entry); it != std::sregex_iterator(); ++it, ++i) {
        ASSERT_LT(i, catalogue.size()) << "more entries than the console's";
        const auto &m = *it;
        EXPECT_EQ(std::stoi(m[1]), catalogue[i].kind) << i;
        EXPECT_EQ(std::stoi(m[2], nullptr, 16), catalogue[i].code) << i;
        EXPECT_EQ(unescape(m[3]), catalogue[i].text) << i;
    }
    EXPECT_EQ(i, catalogue.size());
}

TEST(DissectorTables, RequestNamesAreTheDecodersOwn) {
    const std::string lua = dissector();
    static const std::regex entry(R"re(\[0x([0-9A-F]{2})\] = "([^"]*)",)re");
    size_t found = 0;
    for (auto it = std::sregex_iterator(lua.begin(), lua.end(), entry); it != std::sregex_iterator(); ++it) {
        const uint8_t code = static_cast<uint8_t>(std::stoi((*it)[1], nullptr, 16));
        const uint8_t text[] = {0x60, code, 0x00, 0x1C};
        EXPECT_EQ(valdor::records::requestName(text), (*it)[2].str()) << std::hex << int(code);
        ++found;
    }
    EXPECT_EQ(found, 17u);
}

}  // namespace
