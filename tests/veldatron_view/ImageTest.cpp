// Inline images in the view: pictures sent as sixel and kitty graphics are cut into row slices
// and drawn where the protocol puts them (probed pixel by pixel, at scale 1 and 2), cropped and
// offset, under or over the text by z-index, moving with their rows; kitty placeholder cells
// draw their slices of a stored image.

#include "KittyPlaceholder.h"
#include "RowImage.h"
#include "TextDecoding.h"
#include "ViewFixture.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
const QColor blue(0, 0, 255);
const QColor white(255, 255, 255);

// A picture of four flat quadrants: red and green above, blue and white below.
RgbaImage quadrants(int width, int height) {
    RgbaImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QColor& c =
                y < height / 2 ? (x < width / 2 ? red : green) : (x < width / 2 ? blue : white);
            image.bytes.insert(image.bytes.end(),
                               {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), 255});
        }
    }
    return image;
}

std::string base64(std::span<const uint8_t> bytes) {
    return TextDecoding::base64Encode(bytes);
}

// An APC G command.
std::string kitty(const std::string& control, const std::string& payload = {}) {
    return "\x1b_G" + control + (payload.empty() ? "" : ";" + payload) + "\x1b\\";
}

// A kitty transmission of a bitmap, shown at the cursor at once.
std::string kittyShow(const RgbaImage& image, const std::string& more = {}) {
    return kitty("a=T,f=32,q=2,s=" + std::to_string(image.width) +
                     ",v=" + std::to_string(image.height) + more,
                 base64(image.bytes));
}

// A sixel picture of an opaque bitmap whose height is a multiple of 6, with one colour register
// per distinct colour (0 or 100 per cent channels only, which decode exactly).
std::string sixel(const RgbaImage& image) {
    std::vector<QColor> colours;
    const auto pixel = [&](int x, int y) {
        const uint8_t* p = &image.bytes[size_t((y * image.width + x) * 4)];
        return QColor(p[0], p[1], p[2]);
    };
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (std::find(colours.begin(), colours.end(), pixel(x, y)) == colours.end()) {
                colours.push_back(pixel(x, y));
            }
        }
    }
    std::string out =
        "\x1bPq\"1;1;" + std::to_string(image.width) + ";" + std::to_string(image.height);
    for (size_t i = 0; i < colours.size(); ++i) {
        out += "#" + std::to_string(i) + ";2;" + std::to_string(colours[i].red() * 100 / 255) +
               ";" + std::to_string(colours[i].green() * 100 / 255) + ";" +
               std::to_string(colours[i].blue() * 100 / 255);
    }
    for (int band = 0; band < image.height; band += 6) {
        for (size_t i = 0; i < colours.size(); ++i) {
            out += "#" + std::to_string(i);
            for (int x = 0; x < image.width; ++x) {
                int bits = 0;
                for (int k = 0; k < 6 && band + k < image.height; ++k) {
                    bits |= pixel(x, band + k) == colours[i] ? 1 << k : 0;
                }
                out += char(63 + bits);
            }
            out += "$";
        }
        out += "-";
    }
    return out + "\x1b\\";
}

// A view of exactly `cols` x `rows` cells of the pinned font at 16 pixels, taken to be in a
// window of `scale` device pixels per point.
std::unique_ptr<ViewFixture> laidOutView(int cols, int rows, double scale = 1) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = rows;
    auto fixture = std::make_unique<ViewFixture>(options, 16);
    RecordingView& view = fixture->view();
    view.windowScale = scale;
    const QSizeF cell = view.cellDimension();
    view.resize(int(std::ceil(cols * cell.width())) + view.scroller()->width(),
                int(std::round(rows * cell.height())));
    return fixture;
}

class ImageFixture {
public:
    explicit ImageFixture(double scale = 1, int cols = 12, int rows = 6)
        : scale(scale), m_fixture(laidOutView(cols, rows, scale)) {}

    RecordingView& view() { return m_fixture->view(); }
    Terminal& terminal() { return m_fixture->terminal(); }
    void feed(std::string_view bytes) { m_fixture->feed(bytes); }
    double w() { return view().cellDimension().width(); }
    double h() { return view().cellDimension().height(); }

    // The view painted afresh at the fixture's scale.
    QImage paint() {
        QImage image(view().size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        view().drawTerminalContents(QRectF(view().rect()), painter, terminal().buffer().yDisp());
        return image;
    }
    // The colour at a point given in points.
    QColor at(const QImage& image, double x, double y) {
        return image.pixelColor(int(x * scale), int(y * scale));
    }
    // The colour at (dx, dy) points into cell (col, row).
    QColor inCell(const QImage& image, int col, int row, double dx, double dy) {
        return at(image, col * w() + dx, row * h() + dy);
    }
    QColor background() { return view().nativeBackgroundColor().toQColor(); }
    // A picture `cols` cells wide in the fixture's device pixels and a little under two cells
    // high, its height a multiple of 12 (each half whole sixel bands of 6 pixels).
    RgbaImage picture(int cols) {
        const int width = int(std::lround(cols * w() * scale));
        const int height = int(std::floor(2 * h() * scale / 12)) * 12;
        return quadrants(width, height);
    }

    const double scale;

private:
    std::unique_ptr<ViewFixture> m_fixture;
};

// ---- Where pictures land ---------------------------------------------------------------------

struct PictureCase {
    const char* name;
    bool kitty;
    double scale;
};

class PictureAtCells : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PictureAtCells, ShowsItsQuadrantsInTheCellsItCovers) {
    ImageFixture f(GetParam().scale);
    f.feed("\x1b[2;3H"); // row 1, column 2
    const RgbaImage picture = f.picture(4);
    f.feed(GetParam().kitty ? kittyShow(picture) : sixel(picture));
    const QImage image = f.paint();
    const double half = picture.height / f.scale / 2; // the quadrants' border, in points
    const double mid = f.h() / 2;
    ASSERT_LT(half, f.h()) << "the picture's lower half starts in its first row";
    // Its first row: red and green; the second: blue and white (the lower half begins inside
    // the first row, so the second row is all of it).
    EXPECT_EQ(f.inCell(image, 2, 1, 2, 2), red);
    EXPECT_EQ(f.inCell(image, 3, 1, f.w() - 2, 2), red);
    EXPECT_EQ(f.inCell(image, 4, 1, 2, 2), green);
    EXPECT_EQ(f.inCell(image, 5, 1, f.w() - 2, 2), green);
    EXPECT_EQ(f.inCell(image, 2, 2, 2, mid), blue);
    EXPECT_EQ(f.inCell(image, 5, 2, f.w() - 2, mid), white);
    EXPECT_EQ(f.at(image, 2 * f.w() + 2, f.h() + half + 1), blue);
    // Nothing around it.
    EXPECT_EQ(f.inCell(image, 1, 1, f.w() - 1, mid), f.background());
    EXPECT_EQ(f.inCell(image, 6, 1, 1, mid), f.background());
    EXPECT_EQ(f.inCell(image, 3, 0, mid, f.h() - 1), f.background());
    EXPECT_EQ(f.at(image, 3 * f.w(), f.h() + picture.height / f.scale + 1), f.background());

    // A slice per row, cut at the device pixels of the window.
    for (int row : {1, 2}) {
        const auto& images = f.terminal().buffer().lines()[row].images();
        ASSERT_TRUE(images && images->size() == 1) << "row " << row;
        const auto* slice = dynamic_cast<const RowImage*>(images->front().get());
        ASSERT_NE(slice, nullptr);
        EXPECT_EQ(slice->col(), 2);
        EXPECT_EQ(slice->pixelWidth(), int(4 * f.w()));
        EXPECT_EQ(slice->image().devicePixelRatio(), f.scale);
        EXPECT_EQ(slice->kittyIsKitty, GetParam().kitty);
    }
    // The cursor: below the picture in its first column (sixel), or after it (kitty).
    EXPECT_EQ(f.terminal().buffer().y(), 3);
    EXPECT_EQ(f.terminal().buffer().x(), GetParam().kitty ? 6 : 2);
}

INSTANTIATE_TEST_SUITE_P(Images, PictureAtCells,
                         ::testing::Values(PictureCase{"SixelAtScale1", false, 1},
                                           PictureCase{"SixelAtScale2", false, 2},
                                           PictureCase{"KittyAtScale1", true, 1},
                                           PictureCase{"KittyAtScale2", true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Images, KittyCropAndPixelOffsetsMoveWhatIsShown) {
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        ImageFixture f(scale);
        const RgbaImage picture = f.picture(4);
        // The right half (green over white), moved 4 points right and 3 down.
        f.feed(kittyShow(picture, ",x=" + std::to_string(picture.width / 2) +
                                      ",w=" + std::to_string(picture.width / 2) +
                                      ",X=" + std::to_string(int(4 * scale)) +
                                      ",Y=" + std::to_string(int(3 * scale))));
        const QImage image = f.paint();
        EXPECT_EQ(f.at(image, 2, 5), f.background()) << "left of the offset";
        EXPECT_EQ(f.at(image, 6, 1), f.background()) << "above the offset";
        EXPECT_EQ(f.at(image, 6, 5), green) << "the crop starts with the right half";
        EXPECT_EQ(f.at(image, 2 * f.w() + 3, 5), green) << "two cells of it, moved right";
        EXPECT_EQ(f.at(image, 2 * f.w() + 5, 5), f.background());
        EXPECT_EQ(f.at(image, 6, f.h() + f.h() / 2), white);
    }
}

TEST(Images, ZIndexPutsKittyPicturesUnderOrOverTheText) {
    // A full block in yellow on a cell of blue background, and a picture over both.
    struct Case {
        const char* z;
        QColor expected;
    };
    const QColor yellow(255, 255, 0);
    for (const Case& c : {Case{"-1", yellow}, Case{"0", red}, Case{"5", red}}) {
        SCOPED_TRACE(c.z);
        ImageFixture f;
        f.feed("\x1b[44m\x1b[38;2;255;255;0m\xe2\x96\x88 \x1b[m\x1b[H");
        f.feed(kittyShow(quadrants(int(4 * f.w()), 12), std::string(",z=") + c.z));
        const QImage image = f.paint();
        EXPECT_EQ(f.inCell(image, 0, 0, f.w() / 2, 2), c.expected) << "over the block";
        // A picture under the text still covers the cell backgrounds.
        EXPECT_EQ(f.inCell(image, 1, 0, f.w() / 2, 2), red) << "over the background";
        EXPECT_EQ(f.inCell(image, 1, 0, f.w() / 2, f.h() - 2),
                  PlatformColor::make(f.terminal().ansiColors()[4]).toQColor())
            << "the background below the picture";
    }
}

TEST(Images, EqualZIndexesStackByImageId) {
    ImageFixture f;
    const RgbaImage a = quadrants(int(2 * f.w()), 12);
    RgbaImage b = a;
    for (size_t i = 0; i < b.bytes.size(); i += 4) {
        b.bytes[i] = 0, b.bytes[i + 1] = 0, b.bytes[i + 2] = 0;
    }
    // The black picture has the lower id but is placed last: the higher id is drawn on top.
    f.feed(kittyShow(a, ",i=9,z=2,C=1"));
    f.feed(kittyShow(b, ",i=3,z=2,C=1"));
    const QImage image = f.paint();
    EXPECT_EQ(f.inCell(image, 0, 0, 2, 2), red);
}

TEST(Images, PicturesMoveWithTheirRows) {
    ImageFixture f;
    f.feed("\x1b[3;1H");
    f.feed(sixel(f.picture(2)));
    // Two lines scroll in at the bottom: the picture's rows 2 and 3 become 0 and 1.
    f.feed("\x1b[6;1H\n\n");
    QImage image = f.paint();
    EXPECT_EQ(f.inCell(image, 0, 0, 2, 2), red);
    EXPECT_EQ(f.inCell(image, 0, 2, 2, 2), f.background());
    // Scrolled back, it is where its rows are.
    f.view().scrollUp(2);
    image = f.paint();
    EXPECT_EQ(f.inCell(image, 0, 2, 2, 2), red);
    EXPECT_EQ(f.inCell(image, 0, 0, 2, 2), f.background());
}

TEST(Images, TranslucentPixelsBlendAsStraightAlpha) {
    ImageFixture f;
    f.feed("\x1b]11;rgb:00/00/00\x1b\\");
    RgbaImage picture{int(f.w()), int(f.h()), {}};
    for (int i = 0; i < picture.width * picture.height; ++i) {
        picture.bytes.insert(picture.bytes.end(), {255, 0, 0, 128});
    }
    f.feed(kittyShow(picture));
    const QColor c = f.inCell(f.paint(), 0, 0, f.w() / 2, f.h() / 2);
    EXPECT_NEAR(c.red(), 128, 2);
    EXPECT_EQ(c.green(), 0);
    EXPECT_EQ(c.blue(), 0);
}

// ---- Encoded pictures -------------------------------------------------------------------------

std::string pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string inlineFile(const std::string& data, const std::string& arguments) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return "\x1b]1337;File=inline=1" + arguments + ":" + base64(bytes) + "\x07";
}

TEST(Images, DataThatIsNoPictureShowsNothing) {
    ImageFixture f;
    f.feed(inlineFile("not a picture at all", ""));
    EXPECT_EQ(f.terminal().buffer().y(), 0);
    EXPECT_FALSE(f.terminal().buffer().hasAnyImages());
}

TEST(Images, BothSidesAskedForFillThemWithTheAspectKept) {
    // A square picture asked into 4 x 1 cells: as wide as asked, cut at the top and bottom.
    ImageFixture f;
    QImage square(40, 40, QImage::Format_RGB32);
    square.fill(Qt::blue);
    QPainter(&square).fillRect(0, 0, 40, 20, Qt::red);
    f.feed(inlineFile(pngOf(square), ";width=4;height=1"));
    const QImage image = f.paint();
    EXPECT_EQ(f.inCell(image, 0, 0, 1, 1), red) << "the left edge is covered";
    EXPECT_EQ(f.inCell(image, 3, 0, f.w() - 1, f.h() - 1), blue) << "so is the right edge";
    EXPECT_EQ(f.inCell(image, 4, 0, 1, 1), f.background());
}

TEST(Images, ScaledImageRectFillsTheSizeWhateverItsShape) {
    struct Case {
        QSizeF image;
        QSizeF size;
        QRectF expected;
    };
    const Case cases[] = {
        {{100, 100}, {200, 100}, {0, -50, 200, 200}}, {{100, 100}, {100, 200}, {-50, 0, 200, 200}},
        {{200, 100}, {100, 100}, {-50, 0, 200, 100}}, {{100, 200}, {100, 100}, {0, -50, 100, 200}},
        {{100, 50}, {200, 100}, {0, 0, 200, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size.width()) + "x" + std::to_string(c.size.height()));
        EXPECT_EQ(TerminalView::scaledImageRect(c.image, c.size), c.expected);
    }
}

TEST(Images, AnyAskedSizeMakesSlicesNoWiderThanTheScreen) {
    ImageFixture f;
    QImage dot(2, 2, QImage::Format_RGB32);
    dot.fill(Qt::red);
    f.feed(inlineFile(pngOf(dot), ";width=100000px;height=100000px"));
    const Buffer& buffer = f.terminal().buffer();
    int slices = 0;
    buffer.forEachImage([&](int, const std::shared_ptr<TerminalImage>& image) {
        ++slices;
        EXPECT_LE(image->pixelWidth(), int(f.terminal().cols() * f.w()));
    });
    EXPECT_GT(slices, 0);
    EXPECT_LE(slices, buffer.lines().maxLength());
}

// ---- Placeholders -----------------------------------------------------------------------------

// A placeholder cell showing image part (row, col), in the image id's colour.
std::string placeholderCell(int row, int col) {
    std::u32string text{KittyPlaceholder::placeholder, KittyPlaceholder::diacritics[size_t(row)],
                        KittyPlaceholder::diacritics[size_t(col)]};
    return QString::fromUcs4(text.data(), qsizetype(text.size())).toStdString();
}

class PlaceholderTest : public ::testing::Test {
protected:
    PlaceholderTest() {
        // A picture of 40 x 36 pixels stored as image 7, with a virtual placement of 2 x 2
        // cells.
        f.feed(kitty("a=t,f=32,q=2,i=7,s=40,v=36", base64(quadrants(40, 36).bytes)));
        f.feed(kitty("a=p,U=1,q=2,i=7,c=2,r=2"));
    }
    // The placement's rectangle is 2 x 2 cells; the picture, wider than high, is fitted into it
    // and centred vertically: its top and height within the rectangle.
    double fittedTop() { return (2 * f.h() - 36 * (2 * f.w() / 40)) / 2; }
    double fittedHeight() { return 36 * (2 * f.w() / 40); }

    ImageFixture f;
};

TEST_F(PlaceholderTest, AGridOfPlaceholdersDrawsThePictureWhole) {
    f.feed("\x1b[38;5;7m" + placeholderCell(0, 0) + placeholderCell(0, 1) + "\r\n" +
           placeholderCell(1, 0) + placeholderCell(1, 1) + "\x1b[m");
    const QImage image = f.paint();
    const double quarter = fittedTop() + fittedHeight() / 4;
    const double threeQuarters = fittedTop() + 3 * fittedHeight() / 4;
    ASSERT_LT(quarter, f.h());
    ASSERT_GT(threeQuarters, f.h());
    EXPECT_EQ(f.at(image, f.w() / 2, quarter), red);
    EXPECT_EQ(f.at(image, 1.5 * f.w(), quarter), green);
    EXPECT_EQ(f.at(image, f.w() / 2, threeQuarters), blue);
    EXPECT_EQ(f.at(image, 1.5 * f.w(), threeQuarters), white);
    // Letterboxed above and below.
    EXPECT_EQ(f.at(image, f.w() / 2, fittedTop() / 2), f.background());
    EXPECT_EQ(f.at(image, f.w() / 2, 2 * f.h() - fittedTop() / 2), f.background());
    EXPECT_EQ(f.at(image, 2.5 * f.w(), quarter), f.background());
}

TEST_F(PlaceholderTest, ACellAloneShowsOnlyItsOwnSlice) {
    // Part (1, 1) of the picture at column 5 of row 3: the bottom-right quarter, in that cell.
    f.feed("\x1b[4;6H\x1b[38;5;7m" + placeholderCell(1, 1) + "\x1b[m");
    const QImage image = f.paint();
    const double y = 3 * f.h() + (fittedTop() + 3 * fittedHeight() / 4 - f.h());
    EXPECT_EQ(f.at(image, 5.5 * f.w(), y), white);
    EXPECT_EQ(f.at(image, 4.5 * f.w(), y), f.background()) << "the cell to the left";
    EXPECT_EQ(f.at(image, 5.5 * f.w(), y - f.h()), f.background()) << "the row above";
}

TEST_F(PlaceholderTest, PicturesAreDecodedOnceAndLetGoWithTheStore) {
    const std::optional<QImage> first = f.view().kittyPlaceholderImage(7);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSize(40, 36));
    EXPECT_EQ(f.view().kittyPlaceholderImage(7)->cacheKey(), first->cacheKey());
    f.feed(kitty("a=d,d=I,i=7,q=2"));
    EXPECT_FALSE(f.view().kittyPlaceholderImage(7));
    EXPECT_FALSE(f.view().kittyPlaceholderImage(8));
}

TEST_F(PlaceholderTest, AnotherPlacementIdOrAPartOutsideThePlacementDrawsNothing) {
    // Placement 9 does not exist; part (2, 0) lies below a placement of 2 rows.
    f.feed("\x1b[38;5;7;58;5;9m" + placeholderCell(0, 0) + "\x1b[59m" + placeholderCell(2, 0) +
           "\x1b[m");
    const QImage image = f.paint();
    for (int col : {0, 1}) {
        for (double y = 1; y < f.h(); y += 2) {
            EXPECT_EQ(f.at(image, (col + 0.5) * f.w(), y), f.background()) << col << " " << y;
        }
    }
}

TEST(Images, AspectFitCentresThePicture) {
    EXPECT_EQ(TerminalView::kittyAspectFitRect({40, 20}, {0, 0, 20, 20}), QRectF(0, 5, 20, 10));
    EXPECT_EQ(TerminalView::kittyAspectFitRect({10, 20}, {10, 0, 20, 20}), QRectF(15, 0, 10, 20));
    EXPECT_EQ(TerminalView::kittyAspectFitRect({0, 20}, {1, 2, 3, 4}), QRectF(1, 2, 3, 4));
}

} // namespace
