// Known screens painted into an image with the pinned font, read back at a few probe pixels.
// Glyph shapes depend on the font rasteriser, so no test compares rows of text with fixed
// pictures: only backgrounds, decoration positions, where ink lands, and two paintings of this
// machine's (a repaint against a full paint, a broken screen against the clean one it shows).

#include "CellShaper.h"
#include "ViewFixture.h"

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// A view of exactly `cols` x `rows` cells of the pinned font at 16 pixels.
std::unique_ptr<ViewFixture> laidOutView(int cols, int rows) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = rows;
    auto fixture = std::make_unique<ViewFixture>(options, 16);
    RecordingView& view = fixture->view();
    const QSizeF cell = view.cellDimension();
    view.resize(int(std::ceil(cols * cell.width())) + view.scroller()->width(),
                int(std::round(rows * cell.height())));
    return fixture;
}

// The whole view painted afresh.
QImage paintAll(ViewFixture& f) {
    QImage image(f.view().size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::magenta); // never a colour of the screen: shows what was not painted
    QPainter painter(&image);
    f.view().drawTerminalContents(QRectF(f.view().rect()), painter, f.terminal().buffer().yDisp());
    return image;
}

// Where two images first differ, for a failure message.
std::string firstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return "sizes differ";
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return "first difference at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
        }
    }
    return "none";
}

// Pixels of a clearly saturated colour: what a text colour on the default colours never gives.
int colouredPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int high = std::max({c.red(), c.green(), c.blue()});
            const int low = std::min({c.red(), c.green(), c.blue()});
            count += high - low > 80;
        }
    }
    return count;
}

class PixelTest : public ::testing::Test {
protected:
    PixelTest() : m_fixture(laidOutView(10, 3)) {}

    RecordingView& view() { return m_fixture->view(); }
    double w() { return view().cellDimension().width(); }
    double h() { return view().cellDimension().height(); }
    // The baseline's y in a row, from the row's top.
    double baseline() {
        // The frame puts it ceil(descent + leading) above the row's bottom.
        const QFontMetricsF metrics(view().fontSet().normal);
        return h() - std::ceil(metrics.descent() + metrics.leading());
    }

    QImage render(std::string_view bytes) {
        m_fixture->feed(bytes);
        return paintAll(*m_fixture);
    }

    // Whether any pixel of the columns [first, last] differs from the default background.
    bool inkInColumns(const QImage& image, int first, int last) {
        const QRgb background = view().nativeBackgroundColor().toQColor().rgb();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = int(std::ceil(first * w())); x < int((last + 1) * w()); ++x) {
                if (image.pixel(x, y) != background) {
                    return true;
                }
            }
        }
        return false;
    }

    QColor palette(int index) {
        return PlatformColor::make(m_fixture->terminal().ansiColors()[size_t(index)]).toQColor();
    }

    // The rows of cell (col, row)'s pixel column at x offset `dx` painted in `color`.
    std::vector<int> rowsIn(const QImage& image, double x, int row, QColor color) {
        std::vector<int> rows;
        for (int y = int(row * h()); y < int((row + 1) * h()); ++y) {
            if (image.pixelColor(int(x), y).rgb() == color.rgb()) {
                rows.push_back(y - int(row * h()));
            }
        }
        return rows;
    }

    std::unique_ptr<ViewFixture> m_fixture;
};

TEST_F(PixelTest, BackgroundsFillTheirCellsAndDefaultsShowTheViewColour) {
    const QImage image = render("\x1b[41m \x1b[m \x1b[48;2;0;128;255m  ");
    const QColor defaultBackground = view().nativeBackgroundColor().toQColor();
    EXPECT_EQ(image.pixelColor(int(w() / 2), int(h() / 2)).rgb(), palette(1).rgb()) << "red cell";
    EXPECT_EQ(image.pixelColor(int(w() * 1.5), int(h() / 2)).rgb(), defaultBackground.rgb());
    // A true-colour run of two cells, edge to edge.
    EXPECT_EQ(image.pixelColor(int(std::ceil(w() * 2)), 0).rgb(), QColor(0, 128, 255).rgb());
    EXPECT_EQ(image.pixelColor(int(w() * 4) - 1, int(h()) - 1).rgb(), QColor(0, 128, 255).rgb());
    EXPECT_EQ(image.pixelColor(int(w() * 4) + 1, 0).rgb(), defaultBackground.rgb());
    // Everything was painted, the rows below the text included.
    EXPECT_EQ(image.pixelColor(int(w() * 5), int(h() * 2.5)).rgb(), defaultBackground.rgb());
}

TEST_F(PixelTest, TextIsDrawnInItsColourInsideItsCell) {
    const QImage image = render("\x1b[32mH");
    int inked = 0;
    for (int y = 0; y < int(h()); ++y) {
        for (int x = 0; x < int(2 * w()); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.rgb() == palette(2).rgb()) {
                ++inked;
                EXPECT_LT(x, w()) << "the glyph stays in its cell";
                EXPECT_LE(y, baseline()) << "H has no descender";
            }
        }
    }
    EXPECT_GT(inked, 10) << "the stems of the H are solid text colour";
}

TEST_F(PixelTest, UnderlinesLieBelowTheBaselineAndStrikeThroughAbove) {
    const QImage image = render("\x1b[4;38;2;255;0;0m  \x1b[m\x1b[9;38;2;0;0;255m  ");
    const std::vector<int> underline = rowsIn(image, w() * 0.5, 0, QColor(255, 0, 0));
    ASSERT_FALSE(underline.empty());
    for (int y : underline) {
        EXPECT_GT(y, baseline() - 1) << "under the baseline";
        EXPECT_LT(y, h());
    }
    // Both cells are underlined from edge to edge.
    EXPECT_FALSE(rowsIn(image, w() * 1.9, 0, QColor(255, 0, 0)).empty());

    const std::vector<int> strike = rowsIn(image, w() * 2.5, 0, QColor(0, 0, 255));
    ASSERT_FALSE(strike.empty());
    for (int y : strike) {
        EXPECT_LT(y, baseline()) << "above the baseline";
        EXPECT_GT(y, 0);
    }
}

TEST_F(PixelTest, ADoubleUnderlineIsTwoSeparateLines) {
    const QImage image = render("\x1b[4:2;38;2;255;0;0m ");
    const std::vector<int> rows = rowsIn(image, w() * 0.5, 0, QColor(255, 0, 0));
    ASSERT_GE(rows.size(), 2u);
    EXPECT_GT(rows.back() - rows.front(), int(rows.size()) - 1) << "a gap between the lines";
}

TEST_F(PixelTest, AWideCharacterSpansTwoCells) {
    // Full-width Latin A: two columns; drawn by whichever installed font has it.
    const QImage image = render("\x1b[42m\xef\xbc\xa1\x1b[mx");
    EXPECT_EQ(image.pixelColor(int(w() * 0.5), 1).rgb(), palette(2).rgb());
    EXPECT_EQ(image.pixelColor(int(w() * 1.5), 1).rgb(), palette(2).rgb());
    EXPECT_NE(image.pixelColor(int(w() * 2.5), 1).rgb(), palette(2).rgb());

    // Where there is ink, it is centred in the two-cell slot.
    const QColor background = palette(2);
    int left = INT_MAX;
    int right = -1;
    for (int y = 0; y < int(h()); ++y) {
        for (int x = 0; x < int(2 * w()); ++x) {
            if (image.pixelColor(x, y).rgb() != background.rgb()) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    if (right >= 0) {
        EXPECT_NEAR((left + right) / 2.0, w(), w() / 2);
    }
}

TEST_F(PixelTest, BrokenHalvesOfWideCharactersDrawWhatTheCellsHold) {
    // "ab日本語" fills columns 0-7; each edit leaves a wide character with one half gone. The
    // screen must look like a clean line of what is left: the lone half blank, the rest as it
    // stands.
    struct Case {
        const char* name;
        const char* bytes;
        const char* clean;
    };
    const Case cases[] = {
        {"a right half left alone by a narrow character is blank", "ab\u65e5\u672c\u8a9e\x1b[2Dx",
         "ab\u65e5\u672cx"},
        {"a deletion in a right half leaves the left half blank and shows what moved in",
         "ab\u65e5\u672c\u8a9e\x1b[5D\x1b[P", "ab \u672c\u8a9e"},
        {"a narrow character written into a right half shows, its left half is blank",
         "ab\u65e5\u672c\u8a9e\x1b[3Dy", "ab\u65e5 y\u8a9e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto broken = laidOutView(10, 3);
        broken->feed(c.bytes);
        const auto clean = laidOutView(10, 3);
        clean->feed(c.clean);
        const QImage image = paintAll(*broken);
        EXPECT_TRUE(image == paintAll(*clean)) << firstDifference(image, paintAll(*clean));
    }
}

TEST_F(PixelTest, StackedMarksStayOverTheirBase) {
    // "A" with four acute accents and "o" with a circumflex and an acute: the font attaches
    // only the first mark of each; the others must not spill into the next cell.
    const QImage image = render("\x1b[3;2HA\u0301\u0301\u0301\u0301\x1b[3;5Ho\u0302\u0301");
    EXPECT_TRUE(inkInColumns(image, 1, 1));
    EXPECT_FALSE(inkInColumns(image, 2, 3)) << "nothing right of the A";
    EXPECT_TRUE(inkInColumns(image, 4, 4));
    EXPECT_FALSE(inkInColumns(image, 5, 9)) << "nothing right of the o";

    // The marks go up, one above the other: over the A they reach into the row above, where
    // a single accent stays below the row's top.
    const auto inkAbove = [&](const QImage& picture, int column, int rowTop) {
        const QRgb background = view().nativeBackgroundColor().toQColor().rgb();
        for (int y = 0; y < rowTop; ++y) {
            for (int x = int(std::ceil(column * w())); x < int((column + 1) * w()); ++x) {
                if (picture.pixel(x, y) != background) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(inkAbove(image, 1, int(2 * h())));
    const auto single = laidOutView(10, 3);
    single->feed("\x1b[3;2HA\u0301");
    EXPECT_FALSE(inkAbove(paintAll(*single), 1, int(2 * h())));
}

TEST_F(PixelTest, EmojiPresentationIsDrawnInColour) {
    if (CellShaper::emojiFamily().isEmpty()) {
        GTEST_SKIP() << "no colour emoji font installed";
    }
    struct Case {
        const char* name;
        const char* bytes;
        bool coloured;
    };
    const Case cases[] = {
        {"an emoji of its own", "\U0001F600", true},
        // The cell font has a plain outline of this one.
        {"an emoji of one UTF-16 unit", "\u26A1", true},
        {"emoji style asked for with U+FE0F", "\u2764\uFE0F", true},
        {"a character drawn in text style by default", "\u2764", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto f = laidOutView(10, 3);
        f->feed(c.bytes);
        const QImage image = paintAll(*f);
        const int pixels =
            colouredPixels(image, QRect(0, 0, int(2 * w()), int(view().cellDimension().height())));
        if (c.coloured) {
            EXPECT_GT(pixels, 20);
        } else {
            EXPECT_EQ(pixels, 0);
        }
    }
}

TEST(Repaint, WhatARepaintLeavesEqualsAFullPaint) {
    // Ink reaching out of its row: accents stacked above an "A" (over a row up), dots below a
    // "g" (into the row below), capitals with two accents and an integral piece that reach
    // above the cell.
    const std::string acutes = "A\u0301\u0301\u0301\u0301\u0301\u0301";
    const std::string screen = "\x1b[Htop line\r\n"
                               "\u1EA8bc \u2321 x\r\n" +
                               acutes + "x\u1EAA " + acutes +
                               "\r\n"
                               "g\u0323\u0323 q\u0323 text\r\n" +
                               acutes +
                               " A\u0301\u0301\r\n"
                               "middle\r\n"
                               "\x1b[44mg\u0323\u0323 \u2321\x1b[m\r\n" +
                               acutes + "\r\nbottom";
    struct Case {
        const char* name;
        const char* bytes;
    };
    const Case cases[] = {
        {"erasing the line under stacked accents", "\x1b[3;1H\x1b[2K"},
        {"erasing the line that accents from below reach into", "\x1b[2;1H\x1b[2K"},
        {"erasing the line between descending dots and rising accents", "\x1b[4;1H\x1b[2K"},
        {"erasing part of a line", "\x1b[3;3H\x1b[K"},
        {"erasing the display below", "\x1b[5;1H\x1b[J"},
        {"erasing the display above", "\x1b[4;1H\x1b[1J"},
        {"inserting lines", "\x1b[4;1H\x1b[2L"},
        {"deleting lines", "\x1b[2;1H\x1b[M"},
        {"scrolling up", "\x1b[S"},
        {"scrolling down", "\x1b[2T"},
        {"a line feed on the last row", "\x1b[9;1H\n"},
        {"scrolling a region", "\x1b[3;6r\x1b[6;1H\n\x1b[r"},
        {"overwriting the base of stacked accents", "\x1b[8;1HZ"},
        {"writing under rising accents", "\x1b[2;2HOOO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto f = laidOutView(12, 9);
        f->feed(screen);
        f->clock.advance(17ms);
        QImage shown = paintAll(*f);
        f->view().invalidated.clear();

        f->feed(c.bytes);
        f->clock.advance(17ms);
        ASSERT_FALSE(f->view().invalidated.empty());
        // What a paint event does with the rectangles the display pass invalidated.
        QRegion region;
        for (const QRectF& rect : f->view().invalidated) {
            region += rect.toAlignedRect();
        }
        {
            QPainter painter(&shown);
            painter.setClipRegion(region);
            f->view().drawTerminalContents(QRectF(region.boundingRect()), painter,
                                           f->terminal().buffer().yDisp());
        }
        const QImage full = paintAll(*f);
        EXPECT_TRUE(shown == full) << firstDifference(shown, full);
    }
}

TEST_F(PixelTest, TheBandBelowTheLastRowTakesTheDefaultBackground) {
    view().resize(view().width(), view().height() + 5);
    const QImage image = render("\x1b[41m\x1b[3;1HX");
    EXPECT_EQ(image.pixelColor(2, view().height() - 2).rgb(),
              view().nativeBackgroundColor().toQColor().rgb());
}

} // namespace

namespace {

TEST(GlyphSlotFit, WideGlyphsAreCentredAndShrunkOnlyWhenTheyDoNotFit) {
    ViewFixture f;
    const QSizeF cell = f.view().cellDimension();
    const QRawFont normal = f.view().fontSet().rawFont(FontStyle::normal);
    quint32 glyph = 0;
    int count = 1;
    const QChar w(u'W');
    ASSERT_TRUE(normal.glyphIndexesForChars(&w, 1, &glyph, &count));

    EXPECT_EQ(f.view().glyphSlotFit(normal, glyph, 1), TerminalView::GlyphSlotFit{})
        << "one column: never moved or scaled";
    const double advance = normal.advancesForGlyphIndexes(QList<quint32>{glyph}).first().x();
    const TerminalView::GlyphSlotFit fits = f.view().glyphSlotFit(normal, glyph, 2);
    EXPECT_EQ(fits.scale, 1);
    EXPECT_DOUBLE_EQ(fits.dx, (2 * cell.width() - advance) / 2) << "centred";
    EXPECT_EQ(fits.dy, 0);

    // The same glyph from a font three times the size is taller than the cell.
    QRawFont large = normal;
    large.setPixelSize(normal.pixelSize() * 3);
    const TerminalView::GlyphSlotFit shrunk = f.view().glyphSlotFit(large, glyph, 2);
    const QRectF box = large.boundingRect(glyph);
    EXPECT_DOUBLE_EQ(shrunk.scale,
                     std::min(cell.height() / box.height(), 2 * cell.width() / box.width()));
    EXPECT_GE(shrunk.scale, 0.1);
    const double largeAdvance = large.advancesForGlyphIndexes(QList<quint32>{glyph}).first().x();
    EXPECT_DOUBLE_EQ(shrunk.dx, (2 * cell.width() - shrunk.scale * largeAdvance) / 2);
}

} // namespace
