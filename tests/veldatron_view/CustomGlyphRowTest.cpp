// Box drawing, block elements and powerline separators in a real row: the row builder lists them
// apart (a space holds their place in the text) and the frame paints them.

#include "ViewFixture.h"

#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

ViewLineInfo rowOf(ViewFixture& f, int row = 0) {
    Buffer& buffer = f.terminal().buffer();
    return f.view().buildAttributedString(row, buffer.lines()[row], f.terminal().cols());
}

TerminalOptions columns(int cols) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = 3;
    return options;
}

TEST(CustomGlyphRows, ShapeCellsBecomeItemsWithASpaceInTheText) {
    ViewFixture f(columns(8));
    // a, a red light horizontal, a lower half block, two powerline separators (the solid one
    // and the thin one, which stays text), b.
    f.feed("a\x1b[31m\xe2\x94\x80\x1b[m\xe2\x96\x84\xee\x82\xb0\xee\x82\xb1"
           "b");
    const ViewLineInfo info = rowOf(f);
    ASSERT_EQ(info.segments.size(), 1u);
    const ViewLineSegment& segment = info.segments[0];
    EXPECT_EQ(segment.attributedString.string(), QString::fromUtf16(u"a   \uE0B1b  "));
    EXPECT_TRUE(segment.utf16IsCellIdentity);
    // The run before, one space per shape, the run after.
    EXPECT_EQ(segment.characterCount, 5);

    const PlatformColor red = PlatformColor::make(f.terminal().ansiColors()[1]);
    const PlatformColor fg = f.view().effectiveNativeForegroundColor();
    ASSERT_EQ(info.boxDrawings.size(), 1u);
    EXPECT_EQ(info.boxDrawings[0].column, 1);
    EXPECT_EQ(info.boxDrawings[0].columnWidth, 1);
    EXPECT_EQ(info.boxDrawings[0].codePoint, 0x2500u);
    EXPECT_EQ(info.boxDrawings[0].foregroundColor, red);
    ASSERT_EQ(info.blockElements.size(), 1u);
    EXPECT_EQ(info.blockElements[0].column, 2);
    EXPECT_EQ(info.blockElements[0].codePoint, 0x2584u);
    EXPECT_EQ(info.blockElements[0].rects.size(), 1u);
    EXPECT_EQ(info.blockElements[0].foregroundColor, fg);
    ASSERT_EQ(info.powerlineGlyphs.size(), 1u);
    EXPECT_EQ(info.powerlineGlyphs[0].column, 3);
    EXPECT_EQ(info.powerlineGlyphs[0].codePoint, 0xE0B0u);
}

TEST(CustomGlyphRows, WithoutCustomGlyphsTheFontDrawsThem) {
    ViewFixture f(columns(4));
    f.view().setCustomBlockGlyphs(false);
    f.feed("\xe2\x94\x80\xe2\x96\x88\xee\x82\xb0");
    const ViewLineInfo info = rowOf(f);
    ASSERT_EQ(info.segments.size(), 1u);
    EXPECT_EQ(info.segments[0].attributedString.string(),
              QString::fromUtf16(u"\u2500\u2588\uE0B0 "));
    EXPECT_TRUE(info.boxDrawings.empty());
    EXPECT_TRUE(info.blockElements.empty());
    EXPECT_TRUE(info.powerlineGlyphs.empty());
}

TEST(CustomGlyphRows, HiddenBlinkingShapesAreNotDrawn) {
    // Text blinks only in a shown view of an active window.
    ViewFixture f(columns(4));
    f.view().resize(200, 100);
    f.view().show();
    f.view().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.view()));
    f.feed("\x1b[5m\xe2\x94\x80\x1b[m\xe2\x94\x80");
    f.clock.advance(17ms);
    f.clock.advance(700ms); // the hidden phase
    ASSERT_FALSE(f.view().textBlinkVisible());
    const ViewLineInfo info = rowOf(f);
    ASSERT_EQ(info.boxDrawings.size(), 1u);
    EXPECT_EQ(info.boxDrawings[0].column, 1);
}

// The frame painted into an image of `scale` device pixels per point.
QImage paintFrame(ViewFixture& f, double scale) {
    QImage image((QSizeF(f.view().size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    f.view().drawTerminalContents(QRectF(f.view().rect()), painter, f.terminal().buffer().yDisp());
    return image;
}

TEST(CustomGlyphRows, TheFramePaintsALineAcrossTheCellsAtEveryScale) {
    ViewFixture f(columns(6), 16);
    const QSizeF cell = f.view().cellDimension();
    f.view().resize(int(std::ceil(6 * cell.width())) + f.view().scroller()->width(),
                    int(std::round(3 * cell.height())));
    f.feed("\x1b[32m\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\x1b[m\r\n\xe2\x96\x88");
    const QRgb green = PlatformColor::make(f.terminal().ansiColors()[2]).toQColor().rgb();
    const QRgb fg = f.view().nativeForegroundColor().toQColor().rgb();
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        const QImage image = paintFrame(f, scale);
        const int width = int(std::round(4 * cell.width() * scale));
        // Some pixel row of the first cell row is green all the way across four cells and not
        // beyond.
        int lineRows = 0;
        for (int y = 0; y < int(cell.height() * scale); ++y) {
            bool across = true;
            for (int x = 0; x < width; ++x) {
                across = across && image.pixel(x, y) == green;
            }
            if (across) {
                ++lineRows;
                EXPECT_NE(image.pixel(width, y), green);
            }
        }
        EXPECT_GE(lineRows, 1);
        // The full block of the second row covers its cell.
        const int top = int(std::round(cell.height() * scale));
        EXPECT_EQ(image.pixel(0, top), fg);
        EXPECT_EQ(image.pixel(int(cell.width() * scale) - 1, 2 * top - 1), fg);
    }
}

} // namespace
