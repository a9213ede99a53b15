// Known screens painted into an image with the pinned font, read back at a few probe pixels.
// Glyph shapes depend on the font rasteriser, so no test compares whole rows of text: only
// backgrounds, decoration positions and where ink lands.

#include "ViewFixture.h"

#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

class PixelTest : public ::testing::Test {
protected:
    PixelTest() {
        TerminalOptions options = TerminalView::defaultStartupOptions();
        options.cols = 10;
        options.rows = 3;
        m_fixture = std::make_unique<ViewFixture>(options, 16);
        const QSizeF cell = view().cellDimension();
        view().resize(int(std::ceil(10 * cell.width())) + view().scroller()->width(),
                      int(std::round(3 * cell.height())));
    }

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
        QImage image(view().size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::magenta); // never a colour of the screen: shows what was not painted
        QPainter painter(&image);
        view().drawTerminalContents(QRectF(view().rect()), painter,
                                    m_fixture->terminal().buffer().yDisp());
        return image;
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
