// The rules for input while a conversion holds the window.

#include "ui/core/input_hold.h"

#include <gtest/gtest.h>

namespace velmora::ui {
namespace {

TEST(InputHold, HeldFromTheFirstInputDisabledToTheFirstEnabled) {
    using Step = InputHoldState::Step;
    InputHoldState hold;
    EXPECT_FALSE(hold.Drops(HeldEvent::Input));
    EXPECT_EQ(hold.InputEnabled(false), Step::Start);
    EXPECT_EQ(hold.InputEnabled(false), Step::None);
    EXPECT_TRUE(hold.Drops(HeldEvent::Input));
    EXPECT_FALSE(hold.Drops(HeldEvent::Other));
    EXPECT_EQ(hold.InputEnabled(true), Step::End);
    // What is still queued when the hold ends is dropped too.
    EXPECT_TRUE(hold.Drops(HeldEvent::Input));
    EXPECT_EQ(hold.InputEnabled(true), Step::None);
    hold.Released();
    EXPECT_FALSE(hold.Held());
    EXPECT_FALSE(hold.Drops(HeldEvent::Input));
    EXPECT_EQ(hold.InputEnabled(true), Step::None);
    EXPECT_FALSE(hold.TakeCloseRequest());
}

TEST(InputHold, CloseAskedMeanwhileIsCarriedOutAtTheEnd) {
    InputHoldState hold;
    EXPECT_TRUE(hold.RequestClose()); // not held: closes at once
    EXPECT_FALSE(hold.TakeCloseRequest());
    hold.InputEnabled(false);
    EXPECT_FALSE(hold.RequestClose());
    EXPECT_TRUE(hold.Drops(HeldEvent::Close));
    EXPECT_FALSE(hold.TakeCloseRequest()); // not before the conversion ends
    hold.InputEnabled(true);
    hold.Released();
    EXPECT_TRUE(hold.TakeCloseRequest());
    EXPECT_FALSE(hold.TakeCloseRequest());
}

} // namespace
} // namespace velmora::ui
