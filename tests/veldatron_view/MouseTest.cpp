// Hit testing, mouse reports to the program and the scroll wheel.

#include "PointerEvents.h"
#include "SelectionService.h"
#include "ViewFixture.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <functional>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr auto shift = Qt::ShiftModifier;
constexpr auto ctrl = Qt::ControlModifier;
constexpr auto alt = Qt::AltModifier;

std::string lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    return text;
}

TEST(MouseHit, PointsBecomeBufferCellsClampedIntoTheScreen) {
    ViewFixture f;
    f.feed(lines(40)); // 41 lines: the screen shows 16 to 40
    f.view().scrollTo(10);
    const QSizeF size = f.view().cellDimension();
    const double w = size.width();
    const double h = size.height();
    struct Case {
        const char* name;
        QPointF point;
        Position grid;
    };
    const Case cases[] = {
        {"a cell in view, offset by the scrollback shown above", {3.5 * w, 1.5 * h}, {3, 11}},
        {"the left edge of a cell belongs to it", {4 * w, 2 * h}, {4, 12}},
        {"right of the last column: the last column", {500 * w, 0}, {79, 10}},
        {"left of the view: column 0", {-3 * w, 0}, {0, 10}},
        {"above the view: rows above the viewport", {0, -3.5 * h}, {0, 7}},
        {"far above: the first line", {0, -100 * h}, {0, 0}},
        {"far below: the last line", {0, 500 * h}, {0, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(f.view().calculateMouseHit(c.point).grid, c.grid);
    }

    // Pixels from the top left, clamped into the view (pixel reports).
    EXPECT_EQ(f.view().calculateMouseHit({3.7 * w, 1.5 * h}).pixels,
              (Position{int64_t(3.7 * w), int64_t(1.5 * h)}));
    EXPECT_EQ(f.view().calculateMouseHit({-5, 1e6}).pixels,
              (Position{0, int64_t(f.view().height())}));
}

TEST(MouseHit, ARightToLeftRowMapsTheDrawnColumnToItsCell) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = 10;
    ViewFixture f(options);
    // Explicit mode, right to left: "ab" is drawn at the right edge, reversed.
    f.feed("\x1b[8l\x1b[2 kab");
    EXPECT_EQ(f.view().calculateMouseHit(cell(f.view(), 9, 0)).grid, (Position{0, 0}));
    EXPECT_EQ(f.view().calculateMouseHit(cell(f.view(), 8, 0)).grid, (Position{1, 0}));
}

// One gesture, in view coordinates of cells.
using Gesture = std::function<void(TerminalView&)>;

TEST(MouseReports, EachModeEncodingAndButtonSendsItsBytes) {
    QApplication::setWheelScrollLines(3);
    const auto clickAt = [](Qt::MouseButton button, Qt::KeyboardModifiers modifiers = {}) {
        return [=](TerminalView& v) { click(v, cell(v, 3, 2), button, modifiers); };
    };
    const Gesture dragAcross = [](TerminalView& v) {
        press(v, cell(v, 3, 2));
        drag(v, cell(v, 5, 2));
        release(v, cell(v, 5, 2));
    };
    struct Case {
        const char* name;
        std::string setup;
        Gesture gesture;
        std::string sent;
    };
    const Case cases[] = {
        {"normal tracking, SGR: press and release; the drag between is not reported",
         "\x1b[?1000h\x1b[?1006h", dragAcross, "\x1b[<0;4;3M\x1b[<0;6;3m"},
        {"X10 mode: the press only, without modifier bits", "\x1b[?9h",
         clickAt(Qt::LeftButton, ctrl | alt), "\x1b[M $#"},
        {"the middle button, default encoding", "\x1b[?1000h", clickAt(Qt::MiddleButton),
         "\x1b[M!$#\x1b[M#$#"},
        {"the right button, SGR", "\x1b[?1000h\x1b[?1006h", clickAt(Qt::RightButton),
         "\x1b[<2;4;3M\x1b[<0;4;3m"},
        {"button-event tracking: a drag is the press code plus 32", "\x1b[?1002h\x1b[?1006h",
         dragAcross, "\x1b[<0;4;3M\x1b[<32;6;3M\x1b[<0;6;3m"},
        {"any-event tracking: motion without a button is 35", "\x1b[?1003h\x1b[?1006h",
         [](TerminalView& v) { move(v, cell(v, 4, 2)); }, "\x1b[<35;5;3M"},
        {"Shift 4 (captured), Alt 8, Ctrl 16", "\x1b[?1000h\x1b[?1006h\x1b[>1s",
         clickAt(Qt::LeftButton, shift | alt | ctrl), "\x1b[<28;4;3M\x1b[<28;4;3m"},
        {"Shift not captured: the click is the user's", "\x1b[?1000h\x1b[?1006h",
         clickAt(Qt::LeftButton, shift), ""},
        {"urxvt encoding", "\x1b[?1000h\x1b[?1015h", clickAt(Qt::LeftButton),
         "\x1b[32;4;3M\x1b[35;4;3M"},
        {"UTF-8 encoding", "\x1b[?1000h\x1b[?1005h", clickAt(Qt::LeftButton), "\x1b[M $#\x1b[M#$#"},
        {"the wheel reports one button 64 or 65 per line", "\x1b[?1000h\x1b[?1006h",
         [](TerminalView& v) {
             wheel(v, cell(v, 3, 2), 40);
             wheel(v, cell(v, 3, 2), -80);
         },
         "\x1b[<64;4;3M\x1b[<65;4;3M\x1b[<65;4;3M"},
        {"the wheel with Ctrl", "\x1b[?1000h\x1b[?1006h",
         [](TerminalView& v) { wheel(v, cell(v, 3, 2), 40, 0, ctrl); }, "\x1b[<80;4;3M"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewFixture f;
        f.feed(c.setup);
        f.host.clearSent();
        c.gesture(f.view());
        EXPECT_EQ(f.host.sent, c.sent);
        EXPECT_FALSE(f.view().selection().active()) << "a reported gesture selects nothing";
    }
}

TEST(MouseReports, PixelReportsAndRowsOfTheViewport) {
    ViewFixture f;
    f.feed("\x1b[?1000h\x1b[?1016h");
    f.host.clearSent();
    const QSizeF size = f.view().cellDimension();
    const QPointF point(3.6 * size.width(), 2.3 * size.height());
    press(f.view(), point);
    EXPECT_EQ(f.host.sent, "\x1b[<0;" + std::to_string(int(point.x())) + ";" +
                               std::to_string(int(point.y())) + "M");

    // Scrolled back, the report still names the row of the screen.
    ViewFixture g;
    g.feed(lines(40));
    g.view().scrollTo(3);
    g.feed("\x1b[?1000h\x1b[?1006h");
    g.view().scrollTo(3);
    g.host.clearSent();
    press(g.view(), cell(g.view(), 0, 2));
    EXPECT_EQ(g.host.sent, "\x1b[<0;1;3M");
}

TEST(MouseReports, TheHostCanKeepTheMouseToItself) {
    ViewFixture f;
    f.feed("hello\x1b[?1003h\x1b[?1006h");
    f.view().setAllowMouseReporting(false);
    f.host.clearSent();
    move(f.view(), cell(f.view(), 1, 0));
    click(f.view(), cell(f.view(), 1, 0));
    wheel(f.view(), cell(f.view(), 1, 0), 120);
    EXPECT_EQ(f.host.sent, "") << "motion too";
    // The double click is the view's own.
    press(f.view(), cell(f.view(), 1, 0));
    EXPECT_EQ(f.view().getSelection(), QStringLiteral("hello"));
}

TEST(MouseReports, PointerMotionIsTrackedWhileTheProgramWantsEveryMotion) {
    ViewFixture f;
    EXPECT_FALSE(f.view().hasMouseTracking());
    f.feed("\x1b[?1003h");
    EXPECT_TRUE(f.view().hasMouseTracking());
    f.feed("\x1b[?1003l");
    EXPECT_FALSE(f.view().hasMouseTracking());
    f.view().setLinkHighlightMode(TerminalView::LinkHighlightMode::hover);
    EXPECT_TRUE(f.view().hasMouseTracking()) << "links are underlined under the pointer";
}

TEST(Wheel, ScrollsTheScrollbackByLines) {
    QApplication::setWheelScrollLines(3);
    ViewFixture f;
    f.feed(lines(60)); // yDisp 36
    const Buffer& buffer = f.terminal().buffer();
    const QPointF at = cell(f.view(), 0, 0);
    wheel(f.view(), at, 120);
    EXPECT_EQ(buffer.yDisp(), 33) << "one notch, three lines";
    wheel(f.view(), at, 12);
    EXPECT_EQ(buffer.yDisp(), 32) << "a small step still moves one line";
    wheel(f.view(), at, -40);
    EXPECT_EQ(buffer.yDisp(), 33);

    // A touchpad's pixels add up to whole lines; the rest is kept.
    const double h = f.view().cellDimension().height();
    const int events = int(std::ceil(h / 5));
    for (int i = 1; i < events; ++i) {
        wheel(f.view(), at, 0, 5);
    }
    EXPECT_EQ(buffer.yDisp(), 33);
    wheel(f.view(), at, 0, 5);
    EXPECT_EQ(buffer.yDisp(), 32);
    EXPECT_DOUBLE_EQ(f.view().scrollAccumulator(), events * 5 - h);

    f.view().setScrollSensitivity(2);
    wheel(f.view(), at, 40);
    EXPECT_EQ(buffer.yDisp(), 30);
}

TEST(Wheel, OnTheAlternateScreenItSendsCursorKeys) {
    QApplication::setWheelScrollLines(3);
    ViewFixture f;
    f.feed("\x1b[?1049h");
    const QPointF at = cell(f.view(), 0, 0);
    f.host.clearSent();
    wheel(f.view(), at, 120);
    EXPECT_EQ(f.host.sent, "\x1b[A\x1b[A\x1b[A");
    f.feed("\x1b[?1h");
    f.host.clearSent();
    wheel(f.view(), at, -40);
    EXPECT_EQ(f.host.sent, "\x1bOB") << "application cursor keys";

    // Without alternate scroll nothing is sent, and touchpad remainders are dropped.
    wheel(f.view(), at, 0, 3);
    EXPECT_NE(f.view().scrollAccumulator(), 0);
    f.feed("\x1b[?1007l");
    f.host.clearSent();
    wheel(f.view(), at, 120);
    EXPECT_EQ(f.host.sent, "");
    EXPECT_EQ(f.view().scrollAccumulator(), 0);
}

} // namespace
