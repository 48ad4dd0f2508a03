// The dissector the build writes: its tables read back from the Lua as the
// console's own, entry for entry and in the same order, with every text
// intact (Lua's string escapes undone).
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "valdor/records/decode.h"
#include "valdor/responses/error_catalogue.h"

namespace {

std::string dissector() {
    std::ifstream in(DISSECTOR_PATH);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text of a Lua string literal's body.
std::string unescape(const std::string &lua) {
    std::string out;
    for (size_t i = 0; i < lua.size(); ++i) {
        if (lua[i] == '\\' && i + 3 < lua.size() && std::isdigit(static_cast<unsigned char>(lua[i + 1]))) {
            out += static_cast<char>(std::stoi(lua.substr(i + 1, 3)));
            i += 3;
            continue;
        }
        if (lua[i] == '\\' && i + 1 < lua.size()) ++i;
        out += lua[i];
    }
    return out;
}

TEST(DissectorTables, TheErrorCatalogueIsTheConsolesInTheSameOrder) {
    const std::string lua = dissector();
    ASSERT_FALSE(lua.empty()) << "no dissector at " << DISSECTOR_PATH;
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
    static const std::regex entry(R"re(\[0x([0-9A-F]{2})\] = "((?:[^"\\]|\\.)*)",)re");
    const auto names = valdor::records::requestNames();
    size_t i = 0;
    for (auto it = std::sregex_iterator(lua.begin(), lua.end(), entry); it != std::sregex_iterator(); ++it, ++i) {
        ASSERT_LT(i, names.size()) << "more names than the decoder's";
        EXPECT_EQ(std::stoi((*it)[1], nullptr, 16), names[i].code) << i;
        EXPECT_EQ(unescape((*it)[2]), names[i].name) << i;
    }
    EXPECT_EQ(i, names.size());
    EXPECT_EQ(lua.find('@'), std::string::npos) << "a placeholder of the template was left";
}

}  // namespace
