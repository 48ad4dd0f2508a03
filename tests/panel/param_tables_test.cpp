#include "valdor/panel/param_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"

namespace valdor {
namespace {

using Texts = std::vector<std::string>;

Texts textsOf(int combo) {
    Texts texts;
    for (const ParamItem &item : tableFor(combo)->items) texts.emplace_back(item.text);
    return texts;
}

Texts head(int combo, size_t n) {
    Texts texts = textsOf(combo);
    texts.resize(n);
    return texts;
}

uint8_t selectAndRead(int combo, int position) {
    MemoryPanel panel;
    panel.setSelection(combo, position);
    return comboValue(panel, combo);
}

TEST(ParamTables, EveryComboBoxHasATableOfTheRightSize) {
    const struct { int first, last; size_t count; } expected[] = {
        {1100, 1100, 80}, {1101, 1101, 107}, {1102, 1106, 80}, {1107, 1107, 107}, {1108, 1111, 80},
        {1112, 1112, 12}, {1113, 1113, 22},  {1114, 1117, 12}, {1118, 1129, 21},  {1130, 1135, 16},
        {1136, 1136, 4},  {1137, 1137, 8},   {1138, 1138, 5},  {1139, 1139, 9},   {1140, 1140, 4},
        {1141, 1141, 10}, {1142, 1142, 3},   {1143, 1143, 6},
    };
    for (const auto &e : expected)
        for (int combo = e.first; combo <= e.last; ++combo) {
            ASSERT_NE(tableFor(combo), nullptr) << combo;
            EXPECT_EQ(tableFor(combo)->items.size(), e.count) << combo;
        }
    const std::span<const int> combos = allCombos();
    EXPECT_EQ(combos.size(), 44u);
    EXPECT_TRUE(std::is_sorted(combos.begin(), combos.end()));
    EXPECT_EQ(std::adjacent_find(combos.begin(), combos.end()), combos.end());
    for (int notCombo : {1099, 1144, 1236, 1240, 0}) EXPECT_EQ(tableFor(notCombo), nullptr);
}

TEST(ParamTables, LengthAndThicknessListsOfCassetteTwoAreWider) {
    EXPECT_EQ(head(1100, 3), (Texts{" No", "diag", "110"}));
    EXPECT_EQ(head(1101, 3), (Texts{" No", "diag", " 76"}));
    EXPECT_EQ(textsOf(1101)[2 + 24], "100");
    EXPECT_EQ(textsOf(1100).back(), "187");
    EXPECT_EQ(textsOf(1106)[2], "187");
    EXPECT_EQ(textsOf(1107)[2], "180");
    EXPECT_EQ(textsOf(1107).back(), " 76");
    EXPECT_EQ(textsOf(1112).back(), "0.20");
    EXPECT_EQ(textsOf(1113).back(), "0.30");
    for (int column : {ctl::LengthL1, ctl::LengthH1, ctl::Thickness1}) {
        for (int c = 3; c <= 6; ++c) EXPECT_EQ(tableFor(column + c - 1), tableFor(column));
        EXPECT_NE(tableFor(column + 1), tableFor(column));
    }
    // Each length item after " No" and "diag" is its value right-aligned in
    // three places, running by one; each thickness is hundredths.
    for (int combo : {1100, 1106, 1101, 1107}) {
        const auto items = tableFor(combo)->items;
        EXPECT_EQ(items[0].value, 0);
        EXPECT_EQ(items[1].value, 255);
        for (size_t i = 2; i < items.size(); ++i) {
            char text[8];
            std::snprintf(text, sizeof text, "%3d", items[i].value);
            EXPECT_STREQ(items[i].text, text);
            if (i > 2) {
                EXPECT_EQ(std::abs(items[i].value - items[i - 1].value), 1) << combo;
            }
        }
    }
    for (int combo : {1112, 1113})
        for (size_t i = 0; i < tableFor(combo)->items.size(); ++i) {
            char text[8];
            std::snprintf(text, sizeof text, "0.%02zu", 9 + i);
            EXPECT_STREQ(tableFor(combo)->items[i].text, text);
            EXPECT_EQ(tableFor(combo)->items[i].value, 9 + i);
        }
}

TEST(ParamTables, NamedListsHaveTheirExactTextsAndValues) {
    EXPECT_EQ(textsOf(1118), (Texts{" 0", " 1", " 2", " 3", " 4", " 5", " 6", " 7", " 8", " 9", "10",
                                    "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"}));
    EXPECT_EQ(textsOf(1135), head(1118, 16));
    EXPECT_EQ(textsOf(1143), (Texts{"Standard", "+5mm    ", "+10mm   ", "+15mm   ", "+20mm   ", "Test    "}));
    EXPECT_EQ(textsOf(1136), (Texts{"read only", "clear error counter", "clear pick counter", "clear all"}));
    EXPECT_EQ(textsOf(1142), (Texts{"read ", "write", "factory"}));
    EXPECT_EQ(textsOf(1140), (Texts{"00", "01", "10", "11"}));
    EXPECT_EQ(textsOf(1141), (Texts{"diag all", "diag 1cst", "diag 2cst", "diag 3cst", "diag 4cst", "diag 5cst",
                                    "diag 6cst", "read", "reset", "denomi"}));
    EXPECT_EQ(textsOf(1138), (Texts{"  0", "  1", "  2", "  3", "Clr"}));
    EXPECT_EQ(textsOf(1139), (Texts{"  0", "  1", "  2", "  3", "  4", "  5", "  6", "  7", "Clr"}));
    EXPECT_EQ(textsOf(1137).front(), "COM1");

    const struct { int combo, position; uint8_t value; } values[] = {
        {1103, 1, 255}, {1107, 0, 0},   {1112, 0, 9},    {1120, 20, 20}, {1133, 15, 15}, {1143, 2, 32},
        {1143, 5, 112}, {1136, 3, 3},   {1142, 2, 128},  {1140, 1, 64},  {1140, 3, 192}, {1141, 0, 0},
        {1141, 6, 6},   {1141, 7, 16},  {1141, 8, 17},   {1141, 9, 32},  {1137, 7, 8},   {1138, 4, 255},
        {1139, 7, 7},   {1139, 8, 255},
    };
    for (const auto &v : values) EXPECT_EQ(selectAndRead(v.combo, v.position), v.value) << v.combo << "@" << v.position;
}

// A panel that reports a position the window could never hold.
class RawSelectionPanel : public MemoryPanel {
public:
    std::optional<int> raw;
    std::optional<int> selection(int) const override { return raw; }
};

TEST(ParamTables, WithoutAValidSelectionTheNoneValueApplies) {
    MemoryPanel empty;
    for (int combo : allCombos()) {
        const uint8_t expected = combo == ctl::DiagnosisMode ? 16 : 0;  // thickness too: 0, not "0.09"
        EXPECT_EQ(comboValue(empty, combo), expected) << combo;
    }
    RawSelectionPanel panel;
    for (int position : {-1, 10, 1000}) {
        panel.raw = position;
        EXPECT_EQ(comboValue(panel, ctl::DiagnosisMode), 16) << position;
    }
    panel.raw = 9;
    EXPECT_EQ(comboValue(panel, ctl::DiagnosisMode), 32);
    panel.raw = 80;
    EXPECT_EQ(comboValue(panel, ctl::LengthL1), 0);
    EXPECT_EQ(comboValue(panel, ctl::Enhanced), 0);  // not a combo box
}

}  // namespace
}  // namespace valdor
