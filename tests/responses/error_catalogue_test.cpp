#include "valdor/responses/error_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace valdor {
namespace {

constexpr const char *kUnknown = "See Q9R ERROR CODE LIST";

TEST(ErrorCatalogue, HoldsTheMessagesThenTheEndEntry) {
    const auto table = errorCatalogue();
    ASSERT_EQ(table.size(), 289u);
    EXPECT_EQ(table.back().kind, 0);
    EXPECT_EQ(table.back().code, 0xFFFF);
    EXPECT_STREQ(table.back().text, kUnknown);

    size_t longest = 0;
    for (size_t i = 0; i + 1 < table.size(); ++i) {
        const ERR_MSG_ENTRY &entry = table[i];
        ASSERT_TRUE(entry.kind == 1 || entry.kind == 2) << i;
        ASSERT_NE(std::memchr(entry.text, '\0', sizeof entry.text), nullptr) << i;
        EXPECT_GT(std::strlen(entry.text), 0u) << i;
        if (entry.kind == 1) {
            EXPECT_EQ(entry.code & 0xFF, 0) << i;
        }
        longest = std::max(longest, std::strlen(entry.text));
    }
    EXPECT_EQ(longest, 141u);  // the 0x88 text below
}

TEST(ErrorCatalogue, EveryEntryAnswersItsOwnCode) {
    const auto table = errorCatalogue();
    for (size_t i = 0; i + 1 < table.size(); ++i) {
        const uint8_t mainCode = static_cast<uint8_t>(table[i].code >> 8);
        EXPECT_EQ(lookupErrorMessage(mainCode, static_cast<uint8_t>(table[i].code)), table[i].text) << i;
        if (table[i].kind == 1 && mainCode != 0xE5) {
            for (int sub : {0x01, 0x37, 0xFF}) EXPECT_EQ(lookupErrorMessage(mainCode, sub), table[i].text) << i;
        }
    }
}

// Codes looked up, and texts copied to the letter.
TEST(ErrorCatalogue, LookupExamples) {
    const struct {
        uint8_t mainCode, subCode;
        const char *text;
    } cases[] = {
        {0x00, 0x00, "Normal end"},
        {0x04, 0x37, "Internal error 3"},
        {0xE5, 0x01, "Count sequence specification error"},  // before the E5 entry for any sub-code
        {0xE5, 0x02, "Specification error of total number of notes"},
        {0xE5, 0x00, "Specification error of total number of notes"},
        {0x12, 0x07, kUnknown},
        {0xFF, 0xFF, kUnknown},
        {0x00, 0x01, kUnknown},
        {0x52, 0x9A, "No medium in the pool section"},
        {0x88, 0x00,
         "Count inconsistency(Number of requested notes = number of notes identified as normal = number of "
         "notes that passed through BPS does not hold)"},
        {0x7C, 0x80,
         "EJSF was turned on during transfer motor rotation before the mechanical reset operation and feed "
         "operation of the bill count command"},
        {0x12, 0x05, "1st cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
        {0x3C, 0x00, "(7th Cassette pick error)"},
        {0x70, 0x0A, "(Medium remaining at REJS)"},
        {0xC3, 0x02, "Download header error (E-Code is not '1' or 'H')"},
        {0xE1, 0x00,
         "An attempt was mode to execute a count system request for device's initialization, although no bill "
         "information was registered"},
        {0xB0, 0x11, "Reject box (option) is no set"},
        {0xF8, 0xAF, "Sensor-on check error of BCS"},
        {0xFC, 0x00, "<Q9RS>Illegal operation due to non-notification of data"},
        {0xFD, 0x00, "<Q9RS>Power off during count"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(lookupErrorMessage(c.mainCode, c.subCode), std::string(c.text))
            << std::hex << int(c.mainCode) << " " << int(c.subCode);
}

}  // namespace
}  // namespace valdor
