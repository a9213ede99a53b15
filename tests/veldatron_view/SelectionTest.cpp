// Selection gestures, their auto-scroll, prompt clicks, the clipboard and what ends a
// selection.

#include "PointerEvents.h"
#include "SelectionService.h"
#include "ViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr auto shift = Qt::ShiftModifier;

std::string lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    return text;
}

// Presses `count` times in quick succession at a cell (the clock does not move between them).
void clicks(TerminalView& view, const QPointF& point, int count,
            Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    for (int i = 0; i < count; ++i) {
        click(view, point, Qt::LeftButton, modifiers);
    }
}

class SelectionGestures : public ::testing::Test {
protected:
    SelectionGestures() { f.feed("hello world (a b) end\r\nsecond line"); }
    TerminalView& view() { return f.view(); }
    ViewFixture f;
};

TEST_F(SelectionGestures, DoubleAndTripleClicksSelectAWordAnExpressionAndARow) {
    clicks(view(), cell(view(), 7, 0), 2);
    EXPECT_EQ(view().getSelection(), QStringLiteral("world"));
    f.clock.advance(1s);
    clicks(view(), cell(view(), 12, 0), 2);
    EXPECT_EQ(view().getSelection(), QStringLiteral("(a b)")) << "from the bracket under it";
    f.clock.advance(1s);
    clicks(view(), cell(view(), 3, 1), 3);
    EXPECT_EQ(view().getSelection(), QStringLiteral("second line"));

    // Presses too far apart in time are separate clicks: a click ends the selection.
    f.clock.advance(1s);
    click(view(), cell(view(), 3, 1));
    f.clock.advance(1s);
    click(view(), cell(view(), 3, 1));
    EXPECT_FALSE(view().selectionActive());
}

TEST_F(SelectionGestures, ShiftClickExtendsOnlyAnActiveSelection) {
    click(view(), cell(view(), 8, 0), Qt::LeftButton, shift);
    EXPECT_FALSE(view().selectionActive()) << "nothing to extend";

    clicks(view(), cell(view(), 1, 0), 2);
    f.clock.advance(1s);
    click(view(), cell(view(), 8, 0), Qt::LeftButton, shift);
    EXPECT_EQ(view().getSelection(), QStringLiteral("hello world")) << "by words";
    f.clock.advance(1s);
    click(view(), cell(view(), 8, 0));
    EXPECT_FALSE(view().selectionActive());
}

TEST_F(SelectionGestures, ADragSelectsFromThePressToThePointer) {
    press(view(), cell(view(), 0, 0));
    // The first motion event arrives cells away from the press: the selection still starts at
    // the press.
    drag(view(), cell(view(), 5, 0));
    release(view(), cell(view(), 5, 0));
    EXPECT_EQ(view().getSelection(), QStringLiteral("hello"));

    f.clock.advance(1s);
    press(view(), cell(view(), 6, 0));
    drag(view(), cell(view(), 7, 0));
    drag(view(), cell(view(), 6, 1));
    release(view(), cell(view(), 6, 1));
    EXPECT_EQ(view().getSelection(), QStringLiteral("world (a b) end\nsecond"));
    EXPECT_EQ(view().autoScrollDelta(), 0);
}

TEST(SelectionAutoScroll, DraggingBeyondTheTopScrollsFasterTheFurtherOut) {
    ViewFixture f;
    f.feed(lines(100));
    f.view().scrollTo(50);
    const Buffer& buffer = f.terminal().buffer();
    const double h = f.view().cellDimension().height();
    press(f.view(), cell(f.view(), 2, 5));
    drag(f.view(), QPointF(10, h * 0.5));
    EXPECT_EQ(f.view().autoScrollDelta(), -1) << "on the top row";
    f.clock.advance(50ms);
    EXPECT_EQ(buffer.yDisp(), 49);
    f.clock.advance(50ms);
    EXPECT_EQ(buffer.yDisp(), 48);
    EXPECT_EQ(f.view().selection().end().row, 48) << "the selection follows the scroll";

    drag(f.view(), QPointF(10, -h * 6.5));
    EXPECT_EQ(f.view().autoScrollDelta(), -10);
    f.clock.advance(50ms);
    EXPECT_EQ(buffer.yDisp(), 38);
    drag(f.view(), QPointF(10, -h * 12));
    EXPECT_EQ(f.view().autoScrollDelta(), -25) << "the screen's rows, at least 20";
    f.clock.advance(50ms);
    EXPECT_EQ(buffer.yDisp(), 13);

    release(f.view(), QPointF(10, -h * 12));
    f.clock.advance(200ms);
    EXPECT_EQ(buffer.yDisp(), 13) << "the release stops it";
    EXPECT_TRUE(f.view().selectionActive());
}

TEST(SelectionAutoScroll, BelowTheNewestLinesNothingScrolls) {
    ViewFixture f;
    f.feed(lines(100));
    const int bottom = f.terminal().buffer().yDisp();
    const double h = f.view().cellDimension().height();
    press(f.view(), cell(f.view(), 2, 5));
    drag(f.view(), QPointF(10, h * 40));
    EXPECT_EQ(f.view().autoScrollDelta(), 0);
    f.clock.advance(200ms);
    EXPECT_EQ(f.terminal().buffer().yDisp(), bottom);

    // Scrolled back, below the view scrolls down.
    f.view().scrollTo(10);
    drag(f.view(), QPointF(10, h * 27.5));
    EXPECT_EQ(f.view().autoScrollDelta(), 3);
    f.clock.advance(50ms);
    EXPECT_EQ(f.terminal().buffer().yDisp(), 13);
    release(f.view(), QPointF(10, h * 27.5));
}

TEST(PromptClick, ASingleClickMovesTheShellsCursorOnceNoDoubleClickCame) {
    const std::string prompt = "\x1b]133;A;cl=line\x07$ \x1b]133;B\x07";
    ViewFixture f;
    f.terminal().setSemanticPromptClickBehavior(SemanticPromptClickBehavior::enabled);
    f.feed(prompt + "echo hello\x1b[6G");
    f.host.clearSent();
    click(f.view(), cell(f.view(), 9, 0));
    EXPECT_EQ(f.host.sent, "") << "waits for a second click";
    f.clock.advance(f.view().semanticClickCoalescingDelay());
    EXPECT_EQ(f.host.sent, "\x1b[C\x1b[C\x1b[C\x1b[C");

    f.clock.advance(1s);
    f.host.clearSent();
    clicks(f.view(), cell(f.view(), 3, 0), 2);
    f.clock.advance(1s);
    EXPECT_EQ(f.host.sent, "") << "a double click selects";
    EXPECT_EQ(f.view().getSelection(), QStringLiteral("echo"));

    f.view().selectNone();
    press(f.view(), cell(f.view(), 3, 0));
    drag(f.view(), cell(f.view(), 7, 0));
    release(f.view(), cell(f.view(), 7, 0));
    f.clock.advance(1s);
    EXPECT_EQ(f.host.sent, "") << "nor does a drag";
}

TEST(Clipboard, CopyPutsTheSelectedTextOnTheClipboard) {
    ViewFixture f;
    f.feed("alpha beta");
    clicks(f.view(), cell(f.view(), 7, 0), 2);
    f.view().findChild<QAction*>(QStringLiteral("copyAction"))->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("beta"));

    // Without an active selection, the last selection's text.
    f.view().selectNone();
    QApplication::clipboard()->clear();
    f.view().copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("beta"));

    f.view().findChild<QAction*>(QStringLiteral("selectAllAction"))->trigger();
    EXPECT_EQ(f.view().getSelection()->left(10), QStringLiteral("alpha beta"));
}

TEST(Clipboard, PasteSendsTheClipboardFilteredForBracketedPaste) {
    ViewFixture f;
    QApplication::clipboard()->setText(QStringLiteral("ls\x1b[201~\r"));
    f.host.clearSent();
    f.view().paste();
    EXPECT_EQ(f.host.sent, "ls\x1b[201~\r") << "as is when the program did not ask";
    f.feed("\x1b[?2004h");
    f.host.clearSent();
    f.view().paste();
    EXPECT_EQ(f.host.sent, "\x1b[200~ls\r\x1b[201~");
    QApplication::clipboard()->clear();
    f.host.clearSent();
    f.view().paste();
    EXPECT_EQ(f.host.sent, "\x1b[200~\x1b[201~");
}

TEST(SelectionEnds, ByAKeyOutputALineFeedAndAResize) {
    ViewFixture f;
    f.feed("some text");
    const auto select = [&] {
        f.view().selectAll();
        ASSERT_TRUE(f.view().selectionActive());
    };
    select();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(&f.view(), &key);
    EXPECT_FALSE(f.view().selectionActive()) << "a key";
    select();
    f.feed("x");
    EXPECT_FALSE(f.view().selectionActive()) << "output";

    // While the host keeps the mouse, the selection outlives output.
    f.view().setAllowMouseReporting(false);
    select();
    f.feed("y\r\n");
    EXPECT_TRUE(f.view().selectionActive());
    f.view().setAllowMouseReporting(true);
    f.view().processSizeChange(QSizeF(300, 200));
    EXPECT_FALSE(f.view().selectionActive()) << "a new size";
}

TEST(SelectionDrawing, SelectedColumnsOfEachRow) {
    ViewFixture f;
    f.feed("abc\r\ndef\r\nghi\r\njkl");
    struct Case {
        const char* name;
        Position start;
        Position end;
        int row;
        std::optional<ColumnRange> columns;
    };
    const Case cases[] = {
        {"forwards on one row", {5, 0}, {2, 0}, 0, ColumnRange{2, 5}},
        {"backwards on one row", {2, 0}, {5, 0}, 0, ColumnRange{2, 5}},
        {"up to the last column includes it", {2, 0}, {79, 0}, 0, ColumnRange{2, 80}},
        {"the first row of three", {3, 1}, {4, 3}, 1, ColumnRange{3, 80}},
        {"a row between", {3, 1}, {4, 3}, 2, ColumnRange{0, 80}},
        {"the last row", {3, 1}, {4, 3}, 3, ColumnRange{0, 4}},
        {"made upwards", {4, 3}, {3, 1}, 1, ColumnRange{3, 80}},
        {"a row outside", {3, 1}, {4, 3}, 0, std::nullopt},
        {"empty", {3, 1}, {3, 1}, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.view().selection().setSelection(c.start, c.end);
        EXPECT_EQ(f.view().selectedColumnsRange(c.row, 80), c.columns);
    }

    // Selected cells are drawn in the selection's colours, in runs of their own.
    f.view().selection().setSelection({1, 0}, {2, 0});
    const ViewLineInfo info =
        f.view().buildAttributedString(0, f.terminal().buffer().lines()[0], 80);
    ASSERT_FALSE(info.segments.empty());
    const auto& runs = info.segments[0].attributedString.runs();
    ASSERT_GE(runs.size(), 3u);
    EXPECT_FALSE(runs[0].attributes->selectionBackground);
    EXPECT_EQ(runs[1].attributes->selectionBackground, f.view().selectedTextBackgroundColor());
    EXPECT_EQ(runs[1].attributes->foreground, f.view().selectedTextForegroundColor());
    EXPECT_FALSE(runs[2].attributes->selectionBackground);
}

TEST(SelectionDrawing, InputMethodsSeeTheSelectionAsTheSelectedRange) {
    ViewFixture f;
    f.feed("a\r\nb");
    f.view().selection().setSelection({2, 1}, {5, 0});
    EXPECT_EQ(f.view().selectedRange(), (TextRange{5, 77}));
    f.view().selectNone();
    EXPECT_EQ(f.view().selectedRange(), (TextRange{80 + 1, 0})) << "the caret again";
}

TEST(SelectionDrawing, WithAGpuRendererOnlyTheVisibleRowsAreRebuilt) {
    ViewFixture f;
    f.feed(lines(40));
    f.view().metalView = true;
    f.view().scrollTo(5);
    (void)f.view().takeMetalDirtyRange();
    f.view().selection().setSelection({0, 10}, {3, 10});
    EXPECT_EQ(f.view().metalDirtyRange(), (std::pair(5, 29)));
}

} // namespace
