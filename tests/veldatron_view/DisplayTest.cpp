#include "ViewFixture.h"

#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using namespace veldatron::testing;
using namespace std::chrono_literals;

namespace {

// Lines of output that scroll into the scrollback once the screen is full.
void feedLines(ViewFixture& f, int count) {
    for (int i = 0; i < count; ++i) {
        f.feed("x\r\n");
    }
    f.clock.advance(17ms);
}

// A shown view of exactly 80 x 25 cells plus `band` pixels below the last row.
void layOut(ViewFixture& f, int band) {
    const QSizeF cell = f.view().cellDimension();
    const int scroller = f.view().scroller()->width();
    f.view().resize(int(std::ceil(80 * cell.width())) + scroller,
                    int(std::round(25 * cell.height())) + band);
    f.view().show();
    f.clock.advance(1s);
    f.view().invalidated.clear();
    f.host.calls.clear();
}

TEST(Display, DirtyRowsBecomeOneRectangleWithTheRowsTheirInkReaches) {
    struct Case {
        const char* name;
        int first;
        int last;
        // Expected top and bottom in rows; -1 for the view's bottom edge.
        double top;
        double bottom;
    };
    // Ink may reach this many rows above and below its own row.
    const int m = TerminalView::inkOverflowRows;
    const Case cases[] = {
        {"a band of rows takes the rows around it", 3, 5, 3 - m, 6 + m},
        {"one row", 10, 10, 10 - m, 11 + m},
        {"the first row", 0, 0, 0, 1 + m},
        {"a row near the last reaches down over the band", 24 - m, 24 - m, 24 - 2 * m, -1},
        {"the last row reaches down over the band", 24, 24, 24 - m, -1},
        {"a range past the last row is the whole viewport", 0, 25, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewFixture f;
        layOut(f, 5);
        const double h = f.view().cellDimension().height();
        f.terminal().updateRange(c.first);
        f.terminal().updateRange(c.last);
        f.view().updateDisplay(true);
        ASSERT_EQ(f.view().invalidated.size(), 1u);
        const QRectF rect = f.view().invalidated.front();
        EXPECT_DOUBLE_EQ(rect.left(), 0);
        EXPECT_DOUBLE_EQ(rect.width(), f.view().width());
        EXPECT_DOUBLE_EQ(rect.top(), c.top * h);
        EXPECT_DOUBLE_EQ(rect.bottom(), c.bottom < 0 ? f.view().height() : c.bottom * h);
        EXPECT_EQ(f.terminal().refreshStart(), INT_MAX) << "the range is taken";
    }
}

TEST(Display, WhileScrolledBackAnyDirtyRowRepaintsEverything) {
    ViewFixture f;
    layOut(f, 3);
    feedLines(f, 60);
    f.view().scrollTo(0);
    EXPECT_TRUE(f.view().userScrolling());
    f.view().invalidated.clear();
    f.terminal().updateRange(4);
    f.view().updateDisplay(true);
    ASSERT_EQ(f.view().invalidated.size(), 1u);
    EXPECT_EQ(f.view().invalidated.front(), QRectF(f.view().rect()));
}

TEST(Display, NothingDirtyRepaintsNothingButStillReportsTheCursorRow) {
    ViewFixture f;
    layOut(f, 0);
    f.view().setNotifyUpdateChanges(true);
    f.feed("\r\n\r\n");
    f.clock.advance(17ms);
    f.host.calls.clear();
    f.view().invalidated.clear();
    f.view().updateDisplay(true);
    EXPECT_TRUE(f.view().invalidated.empty());
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"rangeChanged 2 2"}));
    f.terminal().updateRange(3);
    f.terminal().updateRange(5);
    f.view().updateDisplay(true);
    EXPECT_EQ(f.host.calls.back(), "rangeChanged 3 5");
}

TEST(Display, OutputIsCoalescedIntoOnePassSeventeenMillisecondsLater) {
    ViewFixture f;
    layOut(f, 0);
    for (int i = 0; i < 5; ++i) {
        f.feed("more output\r\n");
    }
    EXPECT_TRUE(f.view().pendingDisplay());
    f.clock.advance(16ms);
    EXPECT_TRUE(f.view().invalidated.empty()) << "no pass before the delay";
    f.clock.advance(1ms);
    EXPECT_EQ(f.view().invalidated.size(), 1u) << "one pass for every feed";
    EXPECT_FALSE(f.view().pendingDisplay());

    // The next feed schedules the next pass 17 ms after itself.
    f.clock.advance(5ms);
    f.feed("x");
    f.clock.advance(16ms);
    EXPECT_EQ(f.view().invalidated.size(), 1u);
    f.clock.advance(1ms);
    EXPECT_EQ(f.view().invalidated.size(), 2u);
}

TEST(Display, OutputWithin150MillisecondsOfInputIsShownAtOnce) {
    struct Case {
        const char* name;
        bool typed;
        std::chrono::nanoseconds afterInput;
        bool immediate;
    };
    const Case cases[] = {
        {"no input yet", false, 0ns, false},
        {"right after a key", true, 0ns, true},
        {"150 ms after a key", true, 150ms, true},
        {"150 ms and 1 ns after a key", true, 150ms + 1ns, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewFixture f;
        layOut(f, 0);
        if (c.typed) {
            f.view().send(QStringLiteral("l"));
            EXPECT_EQ(f.host.sent, "l");
        }
        f.clock.advance(c.afterInput);
        f.feed("l");
        EXPECT_EQ(f.view().invalidated.size(), c.immediate ? 1u : 0u);
        f.clock.advance(17ms);
        EXPECT_EQ(f.view().invalidated.size(), 1u) << "shown once either way";
    }
}

TEST(Display, SynchronizedOutputHoldsEveryPassUntilItEnds) {
    ViewFixture f;
    layOut(f, 0);
    f.view().send(QStringLiteral("k")); // even right after input
    f.feed("\x1b[?2026h");
    f.host.calls.clear();
    f.feed("frame 1\r\nframe 2");
    f.clock.advance(500ms);
    EXPECT_TRUE(f.view().invalidated.empty());
    EXPECT_FALSE(f.view().pendingDisplay()) << "nothing is scheduled while it holds";

    f.feed("\x1b[?2026l");
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"scrolled 0.000000"}));
    f.clock.advance(17ms);
    ASSERT_EQ(f.view().invalidated.size(), 1u) << "the held changes in one pass";
    const double h = f.view().cellDimension().height();
    EXPECT_EQ(f.view().invalidated.front().top(), 0 * h);
    EXPECT_EQ(f.view().invalidated.front().bottom(), f.view().height());
}

TEST(Display, SynchronizedOutputEndsAfterOneSecondWithoutTheProgram) {
    ViewFixture f;
    layOut(f, 0);
    f.feed("\x1b[?2026hstuck");
    f.clock.advance(999ms);
    EXPECT_TRUE(f.view().invalidated.empty());
    f.clock.advance(1ms + 17ms);
    EXPECT_EQ(f.view().invalidated.size(), 1u);
    EXPECT_FALSE(f.terminal().synchronizedOutputActive());
}

TEST(Display, PassesScheduledForAViewThatIsGoneDoNothing) {
    ManualExecutor clock;
    const auto uptime = [&clock] {
        return uint64_t(std::chrono::nanoseconds(clock.now() + 1s).count());
    };
    auto view = std::make_unique<RecordingView>(
        nullptr, pinnedFont(), TerminalView::defaultStartupOptions(),
        TerminalViewScheduling{&clock, uptime});
    clock.advance(1s);
    view->feed(QStringLiteral("a")); // a pass is scheduled
    view->send(QStringLiteral("k"));
    view->feed(QStringLiteral("b")); // shown at once, the scheduled pass still waiting
    view->colorsChanged();           // a second pass is scheduled
    view.reset();
    clock.advance(1s); // both come due with nothing to draw for
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST(Display, GpuDirtyRangesAreMergedUntilTaken) {
    ViewFixture f;
    layOut(f, 0);
    f.view().metalView = true;
    f.terminal().updateRange(3);
    f.view().updateDisplay(true);
    f.terminal().updateRange(10);
    f.terminal().updateRange(12);
    f.view().updateDisplay(true);
    EXPECT_TRUE(f.view().invalidated.empty()) << "the GPU path repaints no rectangle";
    EXPECT_EQ(f.view().takeMetalDirtyRange(), std::pair(3, 12)) << "merged, not overwritten";
    EXPECT_EQ(f.view().metalDirtyRange(), std::nullopt);
    // A range reaching the row count stands for the visible lines.
    f.terminal().updateRange(0);
    f.terminal().updateRange(25);
    f.view().updateDisplay(true);
    EXPECT_EQ(f.view().takeMetalDirtyRange(), std::pair(0, 24));
}

TEST(Display, TheCaretFollowsTheCursorCell) {
    ViewFixture f;
    layOut(f, 0);
    const QSizeF cell = f.view().cellDimension();
    f.feed("ab\xe4\xb8\xad\x1b[1;3H"); // the cursor on the wide character
    f.clock.advance(17ms);
    EXPECT_EQ(f.view().caretFrame(), QRectF(2 * cell.width(), 0, 2 * cell.width(), cell.height()));
    f.feed("\x1b[?25l");
    f.clock.advance(17ms);
    EXPECT_TRUE(f.view().caretFrame().isEmpty()) << "hidden";
}

TEST(Viewport, ScrollingMovesTheViewportAndTellsTheHost) {
    ViewFixture f;
    layOut(f, 0);
    feedLines(f, 124); // 100 lines of scrollback above 25 rows
    Buffer& buffer = f.terminal().buffer();
    ASSERT_EQ(buffer.lines().count(), 125);
    EXPECT_EQ(buffer.yDisp(), 100);
    EXPECT_DOUBLE_EQ(f.view().scrollPosition(), 1);
    EXPECT_DOUBLE_EQ(f.view().scrollThumbsize(), 0.2);
    EXPECT_EQ(f.view().scroller()->maximum(), 100);
    EXPECT_EQ(f.view().scroller()->pageStep(), 25);

    f.host.calls.clear();
    f.view().pageUp();
    EXPECT_EQ(buffer.yDisp(), 75);
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"scrolled 0.750000"}));
    EXPECT_TRUE(f.view().userScrolling());
    EXPECT_EQ(f.view().scroller()->value(), 75);

    f.view().scrollToPosition(0.5);
    EXPECT_EQ(buffer.yDisp(), 50);
    f.view().scrollToPosition(std::nan(""));
    EXPECT_EQ(buffer.yDisp(), 0);

    // Typing scrolls back to the live screen.
    f.view().send(QStringLiteral("q"));
    EXPECT_EQ(buffer.yDisp(), 100);
    EXPECT_FALSE(f.view().userScrolling());
    EXPECT_FALSE(f.terminal().userScrolling());
}

TEST(Viewport, OnTheAlternateScreenPageKeysGoToTheProgram) {
    ViewFixture f;
    layOut(f, 0);
    feedLines(f, 40);
    // What the alternate-screen modes do: switch, then tell the host.
    f.terminal().activateAltBuffer(std::nullopt);
    f.view().bufferActivated(f.terminal());
    EXPECT_FALSE(f.view().canScroll());
    EXPECT_EQ(f.view().scrollPosition(), 0);
    EXPECT_FALSE(f.view().scroller()->isEnabled());
    f.view().pageUp();
    f.view().pageDown();
    EXPECT_EQ(f.host.sent, "\x1b[5~\x1b[6~");
}

TEST(Viewport, ScrollbackChangesAndClearing) {
    ViewFixture f;
    layOut(f, 0);
    feedLines(f, 60);
    f.view().changeScrollback(10);
    EXPECT_EQ(f.terminal().buffer().lines().count(), 35);
    EXPECT_EQ(f.terminal().options().scrollback, 10);
    f.host.calls.clear();
    f.view().clearScrollback();
    EXPECT_EQ(f.terminal().buffer().lines().count(), 25);
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"scrolled 0.000000"}));
    f.view().changeScrollback(std::nullopt);
    EXPECT_EQ(f.terminal().options().scrollback, 0);
    EXPECT_FALSE(f.view().canScroll());
}

} // namespace
