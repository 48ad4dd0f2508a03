// The button table both the window's layout and the script's "press" read.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "valdor/panel/buttons.h"

using namespace valdor;

namespace {

TEST(Buttons, CaptionsAndNumbersFindEachOther) {
    std::set<std::string> seen;
    for (const auto &button : buttonCaptions()) {
        EXPECT_TRUE(isButton(button.id)) << button.id;
        EXPECT_STREQ(buttonCaption(button.id), button.caption) << button.id;
        const std::string caption = button.caption;
        if (caption.empty()) {
            EXPECT_GE(button.id, ctl::FirstBlankButton) << "only the blank buttons lack a caption";
            continue;
        }
        EXPECT_TRUE(seen.insert(caption).second) << "\"" << caption << "\" names two buttons";
        EXPECT_EQ(buttonByCaption(caption), button.id) << caption;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(ctl::FirstBlankButton - ctl::Exit));
}

TEST(Buttons, NumbersOutsideTheButtonsHaveNoCaption) {
    for (int id : {0, ctl::MessageBox, ctl::LastBlankButton + 1, ctl::LengthL1, ctl::ShutterFront, ctl::ShutterRear}) {
        EXPECT_FALSE(isButton(id)) << id;
        EXPECT_EQ(buttonCaption(id), nullptr) << id;
    }
    EXPECT_STREQ(buttonCaption(ctl::StatusRead), "Status Read");
    EXPECT_STREQ(buttonCaption(ctl::LastBlankButton), "");
    EXPECT_EQ(buttonByCaption(""), std::nullopt);
    EXPECT_EQ(buttonByCaption("status read"), std::nullopt) << "captions match exactly";
}

}  // namespace
