// The progress bar: OSC 9;4 reports of each state and value as the bar shows them, its growth
// and its sliding segment on the virtual clock, and its staleness after 15 seconds.

#include "TerminalProgressBarView.h"
#include "ViewFixture.h"

#include <QPalette>

#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

class ProgressBarTest : public ::testing::Test {
protected:
    ProgressBarTest() {
        f.view().resize(400, 200);
        f.view().show(); // the bar follows the view's size from its first layout
    }

    TerminalProgressBarView& bar() { return f.view().progressBarView(); }
    void report(const std::string& payload) { f.feed("\x1b]9;4;" + payload + "\x1b\\"); }
    double width() { return bar().width(); }
    QColor accent() { return bar().palette().color(QPalette::Highlight); }

    ViewFixture f;
};

TEST_F(ProgressBarTest, ItIsAThinStripAlongTheTopEdgeHiddenUntilAReport) {
    EXPECT_TRUE(bar().isHidden());
    EXPECT_EQ(bar().geometry(), QRect(0, 0, 400, 2));
    EXPECT_TRUE(bar().testAttribute(Qt::WA_TransparentForMouseEvents));
    f.view().resize(300, 120);
    EXPECT_EQ(bar().geometry(), QRect(0, 0, 300, 2));
}

TEST_F(ProgressBarTest, EachStateShowsItsPercentageAndColour) {
    struct Case {
        const char* name;
        std::vector<std::string> reports;
        ProgressReportState state;
        std::optional<int> percent; // none: the segment slides
        std::optional<int> remembered;
        QColor colour; // invalid: the accent colour
    };
    const Case cases[] = {
        {"set", {"1;50"}, ProgressReportState::set, 50, 50, {}},
        {"set without a value shows an empty bar", {"1"}, ProgressReportState::set, 0, 0, {}},
        {"error keeps the last value",
         {"1;50", "2"},
         ProgressReportState::error,
         50,
         50,
         TerminalProgressBarView::errorColor()},
        {"error with its own value",
         {"1;50", "2;70"},
         ProgressReportState::error,
         70,
         70,
         TerminalProgressBarView::errorColor()},
        {"error with no value anywhere slides",
         {"2"},
         ProgressReportState::error,
         {},
         {},
         TerminalProgressBarView::errorColor()},
        {"error after a remove slides",
         {"1;50", "0", "2"},
         ProgressReportState::error,
         {},
         {},
         TerminalProgressBarView::errorColor()},
        {"indeterminate slides and keeps the value",
         {"1;30", "3"},
         ProgressReportState::indeterminate,
         {},
         30,
         {}},
        {"pause keeps the last value",
         {"1;40", "4"},
         ProgressReportState::pause,
         40,
         40,
         TerminalProgressBarView::pauseColor()},
        {"pause with no value is full",
         {"4"},
         ProgressReportState::pause,
         100,
         100,
         TerminalProgressBarView::pauseColor()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.view().clearProgressReport();
        for (const std::string& payload : c.reports) {
            report(payload);
        }
        f.clock.advance(1s); // any growth is over
        EXPECT_FALSE(bar().isHidden());
        EXPECT_EQ(bar().state(), c.state);
        EXPECT_EQ(f.view().lastProgressValue(),
                  c.remembered ? std::optional<uint8_t>(uint8_t(*c.remembered)) : std::nullopt);
        EXPECT_EQ(bar().barColor(), c.colour.isValid() ? c.colour : accent());
        EXPECT_EQ(bar().isSliding(), !c.percent);
        EXPECT_EQ(bar().trackVisible(), !c.percent);
        if (c.percent) {
            EXPECT_EQ(bar().barFrame(), QRectF(0, 0, width() * *c.percent / 100, 2));
        } else {
            EXPECT_DOUBLE_EQ(bar().barFrame().width(), width() / 4);
        }
    }
}

TEST_F(ProgressBarTest, TheBarGrowsToANewValueInAFifthOfASecond) {
    report("1;20");
    f.clock.advance(1s);
    report("1;60");
    EXPECT_DOUBLE_EQ(bar().barFrame().width(), width() * 0.2) << "it starts where it was";
    f.clock.advance(100ms);
    const double halfway = bar().barFrame().width();
    EXPECT_GT(halfway, width() * 0.2);
    EXPECT_LT(halfway, width() * 0.6);
    // Eased both ways, it is at the middle at half the time.
    EXPECT_NEAR(halfway, width() * 0.4, 0.5);
    f.clock.advance(100ms);
    EXPECT_DOUBLE_EQ(bar().barFrame().width(), width() * 0.6);
}

TEST_F(ProgressBarTest, TheSegmentSlidesAcrossAndBackEndlessly) {
    report("3");
    const double travel = width() - width() / 4;
    const auto left = [&] { return bar().barFrame().left(); };
    EXPECT_DOUBLE_EQ(left(), 0);
    f.clock.advance(600ms);
    EXPECT_NEAR(left(), travel / 2, 0.5) << "halfway at half a slide";
    f.clock.advance(600ms);
    EXPECT_DOUBLE_EQ(left(), travel) << "at the right edge after 1.2 s";
    f.clock.advance(300ms);
    const double back = left();
    EXPECT_LT(back, travel);
    EXPECT_GT(back, travel / 2) << "on its way back, slow at first";
    f.clock.advance(900ms);
    EXPECT_NEAR(left(), 0, 1e-6) << "back at the left edge after 2.4 s";
    f.clock.advance(1200ms * 4 + 600ms); // (within the 15 s a report lasts)
    EXPECT_NEAR(left(), travel / 2, 0.5) << "still sliding";
    EXPECT_DOUBLE_EQ(bar().barFrame().width(), width() / 4);
}

TEST_F(ProgressBarTest, AReportNotRenewedWithin15SecondsGoes) {
    report("1;50");
    f.clock.advance(10s);
    report("1;60"); // renewed
    f.clock.advance(14s);
    EXPECT_FALSE(bar().isHidden());
    f.clock.advance(1s);
    EXPECT_TRUE(bar().isHidden());
    EXPECT_EQ(bar().state(), ProgressReportState::remove);
    EXPECT_EQ(f.view().lastProgressValue(), std::nullopt);
}

TEST_F(ProgressBarTest, ARemoveReportHidesAtOnceAndStartsNoTimer) {
    report("3");
    report("0");
    EXPECT_TRUE(bar().isHidden());
    EXPECT_FALSE(bar().isSliding());
    report("1;10");
    f.clock.advance(15s);
    EXPECT_TRUE(bar().isHidden());
}

TEST_F(ProgressBarTest, AResizeLaysTheBarOutAgainWithoutAnimation) {
    report("1;50");
    f.clock.advance(1s);
    f.view().resize(200, 200);
    EXPECT_EQ(bar().geometry(), QRect(0, 0, 200, 2));
    EXPECT_DOUBLE_EQ(bar().barFrame().width(), 100);
}

} // namespace
