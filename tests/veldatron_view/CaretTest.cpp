// The caret (its shapes, colours, blinking and focus) and blinking text.

#include "CaretView.h"
#include "ViewFixture.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// The caret drawn alone, on transparent pixels one cell in size.
QImage drawCaret(TerminalView& view, bool hasFocus) {
    const QSizeF cell = view.cellDimension();
    QImage image(cell.toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view.caretView().drawCursor(painter, QRectF(QPointF(0, 0), cell), hasFocus);
    return image;
}

bool inked(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y)) > 0;
}

// Pixels of the image in exactly this colour.
int countColour(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixel(x, y) == colour;
        }
    }
    return count;
}

// A view shown as the active window: the conditions under which anything blinks.
struct ShownFixture : ViewFixture {
    ShownFixture() {
        view().resize(600, 400);
        view().show();
        view().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&view()));
        view().setTerminalHasFocus(true);
        clock.advance(17ms);
        view().invalidated.clear();
    }
};

TEST(Caret, EachCursorStyleHasItsShapeAndBlinksOnlyWhenAsked) {
    ShownFixture f;
    f.feed(" ");
    f.feed("\x1b[1;1H");
    f.clock.advance(17ms);
    struct Case {
        const char* sequence;
        CursorStyle style;
        bool blinks;
        // Where the shape lies: every pixel of the whole cell, the bottom two rows, the left
        // two columns.
        enum { block, underline, bar } shape;
    };
    const Case cases[] = {
        {"\x1b[1 q", CursorStyle::blinkBlock, true, Case::block},
        {"\x1b[2 q", CursorStyle::steadyBlock, false, Case::block},
        {"\x1b[3 q", CursorStyle::blinkUnderline, true, Case::underline},
        {"\x1b[4 q", CursorStyle::steadyUnderline, false, Case::underline},
        {"\x1b[5 q", CursorStyle::blinkBar, true, Case::bar},
        {"\x1b[6 q", CursorStyle::steadyBar, false, Case::bar},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence + 1);
        f.feed(c.sequence);
        CaretView& caret = f.view().caretView();
        EXPECT_EQ(caret.style(), c.style);
        EXPECT_EQ(caret.isBlinking(), c.blinks);
        EXPECT_EQ(caret.frame().size(), f.view().cellDimension())
            << "one cell until the next display pass";

        const QImage image = drawCaret(f.view(), true);
        const int w = image.width();
        const int h = image.height();
        EXPECT_EQ(inked(image, w / 2, h / 2), c.shape == Case::block);
        EXPECT_EQ(inked(image, w / 2, h - 1), c.shape != Case::bar);
        EXPECT_EQ(inked(image, 0, h / 2), c.shape != Case::underline);
        EXPECT_FALSE(inked(image, w - 1, 0) && c.shape != Case::block);
        if (c.shape == Case::underline) {
            EXPECT_FALSE(inked(image, w / 2, h - 3)) << "two pixels high";
        }
        if (c.shape == Case::bar) {
            EXPECT_FALSE(inked(image, 2, h / 2)) << "two pixels wide";
        }

        // Unfocused: an outline of every style, and no blinking.
        f.view().setTerminalHasFocus(false);
        EXPECT_FALSE(caret.isBlinking());
        EXPECT_EQ(caret.opacity(), 1);
        const QImage outline = drawCaret(f.view(), false);
        EXPECT_TRUE(inked(outline, 0, h / 2));
        EXPECT_TRUE(inked(outline, w - 1, h / 2));
        EXPECT_TRUE(inked(outline, w / 2, 0));
        EXPECT_TRUE(inked(outline, w / 2, h - 1));
        EXPECT_FALSE(inked(outline, w / 2, h / 2)) << "hollow";
        f.view().setTerminalHasFocus(true);
        EXPECT_EQ(caret.isBlinking(), c.blinks) << "blinking again with the focus";
    }
}

TEST(Caret, ACaretThatDoesNotTrackTheFocusKeepsBlinking) {
    ShownFixture f;
    f.feed("\x1b[1 q");
    f.view().setCaretViewTracksFocus(false);
    f.view().setTerminalHasFocus(false);
    EXPECT_TRUE(f.view().caretView().isBlinking());
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

TEST(Caret, BlinkingRepaintsTheCaretAloneNeverTheRowsBeneath) {
    ShownFixture f;
    f.feed("text under and around the caret\x1b[1;6H");
    f.clock.advance(17ms);
    CaretView& caret = f.view().caretView();
    ASSERT_EQ(caret.style(), CursorStyle::blinkBlock) << "the default caret";
    ASSERT_TRUE(caret.isBlinking());
    QCoreApplication::processEvents();

    PaintCounter viewPaints(f.view());
    PaintCounter caretPaints(caret);
    std::set<double> opacities;
    // Three blink periods, looked at sixty times a second.
    for (int frame = 0; frame < 3 * 1400 / 16; ++frame) {
        f.clock.advance(16ms);
        QCoreApplication::processEvents();
        opacities.insert(caret.opacity());
    }
    EXPECT_GT(opacities.size(), 20u) << "the caret fades";
    EXPECT_GT(caretPaints.count, 20) << "and is repainted as it does";
    EXPECT_EQ(viewPaints.count, 0) << "the terminal's rows are not";
}

TEST(Caret, TheRowsBeneathTheCaretReachTheScreenAsTheyChange) {
    ShownFixture f;
    f.view().forwardToQt = true;
    // A bar leaves most of its cell to what lies beneath.
    f.feed("\x1b[6 q\x1b[41mA\x1b[m\x1b[1;1H");
    f.clock.advance(17ms);
    const auto onScreen = [&] {
        QCoreApplication::processEvents();
        return QGuiApplication::primaryScreen()->grabWindow(f.view().winId()).toImage();
    };
    const auto freshlyPainted = [&] {
        QImage image(f.view().size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        f.view().drawTerminalContents(QRectF(f.view().rect()), painter, 0);
        return image;
    };
    const QRect beside = f.view().caretView().geometry().adjusted(3, 0, 0, 0);
    QImage screen = onScreen();
    ASSERT_FALSE(screen.isNull());
    EXPECT_TRUE(screen.copy(beside) ==
                freshlyPainted().copy(beside).convertToFormat(screen.format()))
        << "the red A beneath the bar";

    // The cell changes, the cursor stays where it was.
    f.feed("\x1b[42mB\x1b[m\x1b[1;1H");
    f.clock.advance(17ms);
    screen = onScreen();
    EXPECT_TRUE(screen.copy(beside) ==
                freshlyPainted().copy(beside).convertToFormat(screen.format()))
        << "the green B beneath the bar";
}

TEST(Caret, TheBlinkFadesOutWithEaseInAndBackIn) {
    EXPECT_DOUBLE_EQ(CaretView::blinkOpacity(0), 1);
    EXPECT_NEAR(CaretView::blinkOpacity(0.7), 0, 1e-9);
    EXPECT_NEAR(CaretView::blinkOpacity(1.4), 1, 1e-9);
    // Ease-in: slow at first, so half-way through the fade the caret is still mostly there.
    EXPECT_GT(CaretView::blinkOpacity(0.35), 0.6);
    EXPECT_LT(CaretView::blinkOpacity(0.35), 0.75);
    EXPECT_NEAR(CaretView::blinkOpacity(0.35), CaretView::blinkOpacity(1.05), 1e-4)
        << "the way back mirrors the way out";
    EXPECT_NEAR(CaretView::blinkOpacity(2.1), CaretView::blinkOpacity(0.7), 1e-4);
}

TEST(Caret, ABlockShowsTheCharacterInTheBackgroundColourAndFollowsReverseVideo) {
    ViewFixture f;
    f.feed("A\x1b[1;1H");
    f.clock.advance(17ms);
    const QRgb fg = f.view().nativeForegroundColor().toQColor().rgba();
    const QRgb bg = f.view().nativeBackgroundColor().toQColor().rgba();
    ASSERT_EQ(f.view().caretView().text(), QStringLiteral("A"));

    QImage image = drawCaret(f.view(), true);
    EXPECT_GT(countColour(image, fg), 0) << "the block";
    EXPECT_GT(countColour(image, bg), 0) << "the A";

    f.feed("\x1b[?5h");
    f.clock.advance(17ms);
    EXPECT_EQ(f.view().effectiveCaretColor(), f.view().nativeBackgroundColor());
    image = drawCaret(f.view(), true);
    EXPECT_EQ(image.pixel(0, 0), bg) << "the block takes the other colour";
    EXPECT_GT(countColour(image, fg), 0);

    // Under a blank the block is all there is.
    f.feed("\x1b[?5l\x1b[2;1H");
    f.clock.advance(17ms);
    image = drawCaret(f.view(), true);
    EXPECT_EQ(countColour(image, fg), image.width() * image.height());

    // A program's cursor colour is kept by the terminal only; the host's colour is drawn, also
    // under reverse video.
    f.feed("\x1b]12;#ff0000\x07");
    EXPECT_EQ(drawCaret(f.view(), true).pixel(0, 0), fg);
    f.view().setCaretColor(PlatformColor(0, 0, 1));
    f.feed("\x1b[?5h");
    EXPECT_EQ(drawCaret(f.view(), true).pixel(0, 0), qRgb(0, 0, 255));
    // Back to the defaults, which follow reverse video again.
    f.view().setCursorColor(f.terminal(), std::nullopt, std::nullopt);
    EXPECT_EQ(drawCaret(f.view(), true).pixel(0, 0), bg);
}

TEST(Caret, AWideCharacterMakesTheCaretTwoCellsWide) {
    ViewFixture f;
    f.feed("\xe4\xb8\xad\x1b[1;1H"); // a CJK ideograph
    f.clock.advance(17ms);
    EXPECT_EQ(f.view().caretView().glyphColumnWidth(), 2);
    EXPECT_DOUBLE_EQ(f.view().caretView().frame().width(), 2 * f.view().cellDimension().width());

    // One whose right half was overwritten is a blank cell, as the row shows it.
    f.feed("\x1b[2;1H\u65e5\u672c\x1b[1Dy\x1b[2;3H");
    f.clock.advance(17ms);
    EXPECT_EQ(f.view().caretView().glyphColumnWidth(), 1);
    EXPECT_EQ(f.view().caretView().text(), QStringLiteral(" "));
}

TEST(Caret, HiddenWithTheCursor) {
    ShownFixture f;
    f.feed("\x1b[?25l");
    f.clock.advance(17ms);
    EXPECT_FALSE(f.view().caretView().isVisible());
    f.feed("\x1b[?25h");
    f.clock.advance(17ms);
    EXPECT_TRUE(f.view().caretView().isVisible());
}

TEST(TextBlink, BlinkingTextFlipsEverySevenTenthsOfASecondRedrawingOnlyItsRows) {
    ShownFixture f;
    f.feed("steady\r\n\x1b[5mblink\x1b[m\r\nsteady\x1b[2;1H");
    f.clock.advance(17ms);
    ASSERT_EQ(f.view().visibleBlinkRows(), std::vector<int>{1});
    EXPECT_TRUE(f.view().textBlinkRunning());
    EXPECT_TRUE(f.view().textBlinkVisible());
    EXPECT_EQ(f.view().caretView().text(), QStringLiteral("b"));

    f.view().invalidated.clear();
    f.clock.advance(700ms);
    EXPECT_FALSE(f.view().textBlinkVisible());
    f.clock.advance(17ms);
    // Only the blinking row (and the rows its ink may reach into) is redrawn.
    ASSERT_EQ(f.view().invalidated.size(), 1u);
    const double h = f.view().cellDimension().height();
    const int m = TerminalView::inkOverflowRows;
    EXPECT_DOUBLE_EQ(f.view().invalidated[0].top(), std::max(0, 1 - m) * h);
    EXPECT_DOUBLE_EQ(f.view().invalidated[0].bottom(), (2 + m) * h);
    EXPECT_EQ(f.view().caretView().text(), QStringLiteral(" ")) << "a blinking cell, hidden";

    f.clock.advance(700ms);
    EXPECT_TRUE(f.view().textBlinkVisible());

    // Less motion: steady, and text caught hidden comes back.
    f.clock.advance(700ms);
    ASSERT_FALSE(f.view().textBlinkVisible());
    f.view().setReduceMotion(true);
    EXPECT_FALSE(f.view().textBlinkRunning());
    EXPECT_TRUE(f.view().textBlinkVisible());
    f.clock.advance(2s);
    EXPECT_TRUE(f.view().textBlinkVisible());
    f.view().setReduceMotion(false);
    EXPECT_TRUE(f.view().textBlinkRunning());

    // The blinking line overwritten: the timer stops at the next display pass.
    f.feed("\x1b[2;1H\x1b[2K");
    f.clock.advance(17ms);
    EXPECT_FALSE(f.view().textBlinkRunning());
}

TEST(TextBlink, BlinkingNeedsAShownViewAndAnActiveApplication) {
    ViewFixture f; // never shown
    f.feed("\x1b[5mblink");
    f.clock.advance(17ms);
    EXPECT_FALSE(f.view().visibleBlinkRows().empty());
    EXPECT_FALSE(f.view().textBlinkRunning());
    f.clock.advance(2s);
    EXPECT_TRUE(f.view().textBlinkVisible());

    // Scrolled out of view, it stops.
    ShownFixture g;
    g.feed("\x1b[5mblink\x1b[m");
    g.clock.advance(17ms);
    ASSERT_TRUE(g.view().textBlinkRunning());
    for (int i = 0; i < 40; ++i) {
        g.feed("\r\n");
    }
    g.clock.advance(17ms);
    EXPECT_TRUE(g.view().visibleBlinkRows().empty());
    EXPECT_FALSE(g.view().textBlinkRunning());
}

} // namespace
