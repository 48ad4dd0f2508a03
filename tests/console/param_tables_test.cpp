#include "valdor/console/param_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "valdor/console/controls.h"
#include "valdor/console/memory_panel.h"

namespace valdor {
namespace {

std::vector<std::string> textsOf(int combo) {
    std::vector<std::string> texts;
    for (const ParamItem &item : tableFor(combo)->items) texts.emplace_back(item.text);
    return texts;
}

uint8_t valueOfText(int combo, const std::string &text) {
    for (const ParamItem &item : tableFor(combo)->items)
        if (item.text == text) return item.value;
    ADD_FAILURE() << "no item \"" << text << "\" in combo " << combo;
    return 0;
}

uint8_t selectAndRead(int combo, int position) {
    MemoryPanel panel;
    panel.setSelection(combo, position);
    return comboValue(panel, combo);
}

TEST(ParamTables, EveryComboBoxHasATableOfTheRightSize) {
    struct Expected {
        int first, last;
        size_t count;
    };
    const Expected expected[] = {
        {1100, 1100, 80}, {1101, 1101, 107}, {1102, 1105, 80}, {1106, 1106, 80}, {1107, 1107, 107},
        {1108, 1111, 80}, {1112, 1112, 12},  {1113, 1113, 22}, {1114, 1117, 12}, {1118, 1129, 21},
        {1130, 1135, 16}, {1136, 1136, 4},   {1137, 1137, 8},  {1138, 1138, 5},  {1139, 1139, 9},
        {1140, 1140, 4},  {1141, 1141, 10},  {1142, 1142, 3},  {1143, 1143, 6},
    };
    for (const Expected &e : expected)
        for (int combo = e.first; combo <= e.last; ++combo) {
            ASSERT_NE(tableFor(combo), nullptr) << combo;
            EXPECT_EQ(tableFor(combo)->items.size(), e.count) << combo;
        }

    const std::span<const int> combos = allCombos();
    EXPECT_EQ(combos.size(), 44u);
    EXPECT_TRUE(std::is_sorted(combos.begin(), combos.end()));
    EXPECT_EQ(std::adjacent_find(combos.begin(), combos.end()), combos.end());
    for (int combo : combos) EXPECT_NE(tableFor(combo), nullptr) << combo;
    for (int notCombo : {1099, 1144, 1150, 1236, 1240, 0, -1}) EXPECT_EQ(tableFor(notCombo), nullptr);
}

TEST(ParamTables, CassettesOneAndThreeToSixShareTablesAndCassetteTwoIsWider) {
    for (int column : {ctl::LengthL1, ctl::LengthH1, ctl::Thickness1}) {
        for (int c = 3; c <= 6; ++c) EXPECT_EQ(tableFor(column + c - 1), tableFor(column));
        EXPECT_NE(tableFor(column + 1), tableFor(column));
    }
    for (const ParamItem &item : tableFor(ctl::LengthL1)->items) EXPECT_LE(std::string(item.text).size(), 31u);
}

TEST(ParamTables, LengthListsStartWithNoAndDiagThenRunByOne) {
    const auto low1 = textsOf(ctl::LengthL1);
    EXPECT_EQ(std::vector<std::string>(low1.begin(), low1.begin() + 4),
              (std::vector<std::string>{" No", "diag", "110", "111"}));
    EXPECT_EQ(low1.back(), "187");
    const auto high1 = textsOf(ctl::LengthH1);
    EXPECT_EQ(high1[2], "187");
    EXPECT_EQ(high1.back(), "110");

    const auto low2 = textsOf(ctl::LengthL1 + 1);
    EXPECT_EQ(std::vector<std::string>(low2.begin(), low2.begin() + 3),
              (std::vector<std::string>{" No", "diag", " 76"}));
    EXPECT_EQ(low2[2 + 23], " 99");
    EXPECT_EQ(low2[2 + 24], "100");
    EXPECT_EQ(low2.back(), "180");
    const auto high2 = textsOf(ctl::LengthH1 + 1);
    EXPECT_EQ(high2[2], "180");
    EXPECT_EQ(high2.back(), " 76");

    // Each run item's text is its value, right-aligned in three places.
    for (int combo : {ctl::LengthL1, ctl::LengthH1, ctl::LengthL1 + 1, ctl::LengthH1 + 1}) {
        const auto items = tableFor(combo)->items;
        EXPECT_EQ(items[0].value, 0);
        EXPECT_EQ(items[1].value, 255);
        const int step = items[3].value > items[2].value ? 1 : -1;
        for (size_t i = 2; i < items.size(); ++i) {
            char expected[8];
            std::snprintf(expected, sizeof expected, "%3d", items[i].value);
            EXPECT_STREQ(items[i].text, expected);
            if (i > 2) {
                EXPECT_EQ(items[i].value, items[i - 1].value + step);
            }
        }
    }
    EXPECT_EQ(valueOfText(1103, "diag"), 255);
    EXPECT_EQ(valueOfText(1107, " No"), 0);
}

TEST(ParamTables, ThicknessTextsAreHundredthsOfAMillimetre) {
    for (int combo : {ctl::Thickness1, ctl::Thickness1 + 1}) {
        const auto items = tableFor(combo)->items;
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].value, 9 + i);
            char expected[8];
            std::snprintf(expected, sizeof expected, "0.%02zu", 9 + i);
            EXPECT_STREQ(items[i].text, expected);
        }
    }
    EXPECT_STREQ(tableFor(ctl::Thickness1)->items.back().text, "0.20");
    EXPECT_STREQ(tableFor(ctl::Thickness1 + 1)->items.back().text, "0.30");
    EXPECT_EQ(selectAndRead(ctl::Thickness1, 0), 9);
    MemoryPanel empty;
    EXPECT_EQ(comboValue(empty, ctl::Thickness1 + 4), 0);  // no item carries 0
}

TEST(ParamTables, CountAndRetryTextsCarryOneLeadingBlankBelowTen) {
    const auto counts = textsOf(ctl::BillsCount1);
    EXPECT_EQ(counts.front(), " 0");
    EXPECT_EQ(counts[9], " 9");
    EXPECT_EQ(counts[10], "10");
    EXPECT_EQ(counts.back(), "20");
    EXPECT_EQ(textsOf(ctl::RejectCount1 + 5), counts);
    const auto retries = textsOf(ctl::PickRetry1 + 2);
    EXPECT_EQ(retries.front(), " 0");
    EXPECT_EQ(retries.back(), "15");
    for (int combo : {ctl::BillsCount1, ctl::PickRetry1})
        for (size_t i = 0; i < tableFor(combo)->items.size(); ++i) EXPECT_EQ(tableFor(combo)->items[i].value, i);
}

TEST(ParamTables, NamedListsHaveTheirExactTextsAndValues) {
    EXPECT_EQ(textsOf(ctl::DischargeAmount),
              (std::vector<std::string>{"Standard", "+5mm    ", "+10mm   ", "+15mm   ", "+20mm   ", "Test    "}));
    EXPECT_EQ(valueOfText(ctl::DischargeAmount, "Test    "), 112);
    EXPECT_EQ(valueOfText(ctl::DischargeAmount, "+10mm   "), 32);
    EXPECT_EQ(textsOf(ctl::LogMode),
              (std::vector<std::string>{"read only", "clear error counter", "clear pick counter", "clear all"}));
    EXPECT_EQ(valueOfText(ctl::LogMode, "clear all"), 3);
    EXPECT_EQ(textsOf(ctl::DeviceInfoMode), (std::vector<std::string>{"read ", "write", "factory"}));
    EXPECT_EQ(valueOfText(ctl::DeviceInfoMode, "factory"), 128);
    EXPECT_EQ(textsOf(ctl::SpecialSpec), (std::vector<std::string>{"00", "01", "10", "11"}));
    EXPECT_EQ(valueOfText(ctl::SpecialSpec, "01"), 0x40);
    EXPECT_EQ(valueOfText(ctl::SpecialSpec, "11"), 0xC0);
    EXPECT_EQ(textsOf(ctl::DiagnosisMode),
              (std::vector<std::string>{"diag all", "diag 1cst", "diag 2cst", "diag 3cst", "diag 4cst", "diag 5cst",
                                        "diag 6cst", "read", "reset", "denomi"}));
    EXPECT_EQ(valueOfText(ctl::DiagnosisMode, "diag 6cst"), 6);
    EXPECT_EQ(valueOfText(ctl::DiagnosisMode, "reset"), 17);
    EXPECT_EQ(valueOfText(ctl::DiagnosisMode, "denomi"), 32);
    EXPECT_EQ(valueOfText(ctl::ComPort, "COM8"), 8);
    EXPECT_EQ(textsOf(ctl::ComPort).front(), "COM1");
    EXPECT_EQ(textsOf(ctl::OplogP1), (std::vector<std::string>{"  0", "  1", "  2", "  3", "Clr"}));
    EXPECT_EQ(textsOf(ctl::OplogP2),
              (std::vector<std::string>{"  0", "  1", "  2", "  3", "  4", "  5", "  6", "  7", "Clr"}));
    EXPECT_EQ(selectAndRead(ctl::OplogP1, 4), 255);
    EXPECT_EQ(selectAndRead(ctl::OplogP2, 8), 255);
    EXPECT_EQ(selectAndRead(ctl::OplogP2, 7), 7);
}

// A panel that reports a position the window could never hold.
class RawSelectionPanel : public MemoryPanel {
public:
    std::optional<int> raw;
    std::optional<int> selection(int) const override { return raw; }
};

TEST(ParamTables, ComboValueFallsBackToTheNoneValueWithoutAValidSelection) {
    MemoryPanel empty;
    for (int combo : allCombos()) {
        const uint8_t expected = combo == ctl::DiagnosisMode ? 16 : 0;
        EXPECT_EQ(comboValue(empty, combo), expected) << combo;
        EXPECT_EQ(tableFor(combo)->noneValue, expected) << combo;
    }
    EXPECT_EQ(selectAndRead(ctl::DiagnosisMode, 0), 0);  // "diag all"

    RawSelectionPanel panel;
    for (int position : {-1, 10, 1000}) {
        panel.raw = position;
        EXPECT_EQ(comboValue(panel, ctl::DiagnosisMode), 16) << position;
    }
    panel.raw = 9;
    EXPECT_EQ(comboValue(panel, ctl::DiagnosisMode), 32);
    panel.raw = 80;
    EXPECT_EQ(comboValue(panel, ctl::LengthL1), 0);
    panel.raw = 79;
    EXPECT_EQ(comboValue(panel, ctl::LengthL1), 187);
    EXPECT_EQ(comboValue(panel, 1240), 0);  // not a combo box
}

}  // namespace
}  // namespace valdor
