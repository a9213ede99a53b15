#include "ViewFixture.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using C = Attribute::Color;

PlatformColor palette(Terminal& terminal, int index) {
    return PlatformColor::make(terminal.ansiColors()[size_t(index)]);
}

std::string describe(const std::optional<PlatformColor>& c) {
    return c ? "(" + std::to_string(c->red) + "," + std::to_string(c->green) + "," +
                   std::to_string(c->blue) + "," + std::to_string(c->alpha) + ")"
             : "none";
}

} // namespace

namespace veldatron {
void PrintTo(const RunAttributes& run, std::ostream* out) {
    const auto number = [](const std::optional<int>& v) {
        return v ? std::to_string(*v) : std::string("none");
    };
    *out << "{font " << int(run.font) << ", fg " << describe(run.foreground) << ", bg "
         << describe(run.background) << ", underline " << number(run.underlineStyle) << "/"
         << number(run.veldatronUnderlineStyle) << " " << describe(run.underlineColor)
         << ", strike " << number(run.strikethroughStyle) << " " << describe(run.strikethroughColor)
         << "}";
}
} // namespace veldatron

namespace {

TEST(RowBuilder, CellAttributesBecomeRunAttributes) {
    ViewFixture f;
    Terminal& t = f.terminal();
    const PlatformColor fg = f.view().nativeForegroundColor();
    const PlatformColor bg = f.view().nativeBackgroundColor();
    const PlatformColor rgb = PlatformColor::fromRgb8(10, 20, 30);
    const auto style = [](std::initializer_list<CharacterStyle> bits) {
        return CharacterStyle(bits);
    };
    struct Case {
        const char* name;
        Attribute attribute;
        RunAttributes expected;
    };
    const auto plain = [](FontStyle font, PlatformColor foreground, PlatformColor background) {
        RunAttributes run;
        run.font = font;
        run.foreground = foreground;
        run.background = background;
        return run;
    };
    // The underline takes the text colour unless the cell has its own.
    const auto underlined = [&](int bits, int raw, PlatformColor color) {
        RunAttributes run = plain(FontStyle::normal, fg, bg);
        run.underlineStyle = bits;
        run.veldatronUnderlineStyle = raw;
        run.underlineColor = color;
        return run;
    };
    const auto withStyle = [](UnderlineStyle underline) {
        return Attribute(C::defaultColor, C::defaultColor, CharacterStyle::underline, underline);
    };
    RunAttributes crossedOut = plain(FontStyle::normal, palette(t, 4), bg);
    crossedOut.strikethroughStyle = 1;
    crossedOut.strikethroughColor = palette(t, 4);
    RunAttributes ownColour = underlined(0x01, 1, palette(t, 3));
    ownColour.foreground = palette(t, 2);
    const Case cases[] = {
        {"default colours", Attribute(), plain(FontStyle::normal, fg, bg)},
        {"bold", Attribute(C::defaultColor, C::defaultColor, CharacterStyle::bold),
         plain(FontStyle::bold, fg, bg)},
        {"italic", Attribute(C::defaultColor, C::defaultColor, CharacterStyle::italic),
         plain(FontStyle::italic, fg, bg)},
        {"bold italic",
         Attribute(C::defaultColor, C::defaultColor,
                   style({CharacterStyle::bold, CharacterStyle::italic})),
         plain(FontStyle::boldItalic, fg, bg)},
        {"palette colour", Attribute(C::ansi256(1), C::defaultColor),
         plain(FontStyle::normal, palette(t, 1), bg)},
        {"bold base colour is drawn bright",
         Attribute(C::ansi256(1), C::defaultColor, CharacterStyle::bold),
         plain(FontStyle::bold, palette(t, 9), bg)},
        {"bold white stays 7", Attribute(C::ansi256(7), C::defaultColor, CharacterStyle::bold),
         plain(FontStyle::bold, palette(t, 7), bg)},
        {"bold bright stays itself",
         Attribute(C::ansi256(12), C::defaultColor, CharacterStyle::bold),
         plain(FontStyle::bold, palette(t, 12), bg)},
        {"a background under bold keeps its entry",
         Attribute(C::defaultColor, C::ansi256(1), CharacterStyle::bold),
         plain(FontStyle::bold, fg, palette(t, 1))},
        {"true colour", Attribute(C::trueColor(10, 20, 30), C::defaultColor),
         plain(FontStyle::normal, rgb, bg)},
        {"inverse default colours: opaque and swapped",
         Attribute(C::defaultColor, C::defaultColor, CharacterStyle::inverse),
         plain(FontStyle::normal, bg.withAlpha(1), fg.withAlpha(1))},
        {"inverse colours swap",
         Attribute(C::ansi256(2), C::trueColor(10, 20, 30), CharacterStyle::inverse),
         plain(FontStyle::normal, rgb, palette(t, 2))},
        {"dim is the mean with the background",
         Attribute(C::trueColor(255, 255, 255), C::trueColor(0, 0, 0), CharacterStyle::dim),
         plain(FontStyle::normal, PlatformColor(0.5, 0.5, 0.5), PlatformColor(0, 0, 0))},
        {"invisible is drawn like visible text",
         Attribute(C::ansi256(3), C::defaultColor, CharacterStyle::invisible),
         plain(FontStyle::normal, palette(t, 3), bg)},
        {"underline without a style is single", withStyle(UnderlineStyle::none),
         underlined(0x01, 1, fg)},
        {"single underline", withStyle(UnderlineStyle::single), underlined(0x01, 1, fg)},
        {"double underline", withStyle(UnderlineStyle::double_), underlined(0x09, 2, fg)},
        {"curly underline", withStyle(UnderlineStyle::curly), underlined(0x01, 3, fg)},
        {"dotted underline", withStyle(UnderlineStyle::dotted), underlined(0x0101, 4, fg)},
        {"dashed underline", withStyle(UnderlineStyle::dashed), underlined(0x0201, 5, fg)},
        {"underline colour of its own",
         Attribute(C::ansi256(2), C::defaultColor, CharacterStyle::underline,
                   UnderlineStyle::single, C::ansi256(3)),
         ownColour},
        {"style without the underline bit draws no line",
         Attribute(C::defaultColor, C::defaultColor, CharacterStyle::none, UnderlineStyle::curly),
         plain(FontStyle::normal, fg, bg)},
        {"crossed out", Attribute(C::ansi256(4), C::defaultColor, CharacterStyle::crossedOut),
         crossedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(*f.view().getAttributes(c.attribute, false), c.expected);
    }
}

TEST(RowBuilder, HighlightedLinksAreDashedInTheirTextColour) {
    ViewFixture f;
    const Attribute curly(C::ansi256(2), C::defaultColor, CharacterStyle::underline,
                          UnderlineStyle::curly, C::ansi256(5));
    const auto run = f.view().getAttributes(curly, true);
    EXPECT_EQ(run->underlineStyle, 0x01);
    EXPECT_EQ(run->veldatronUnderlineStyle, 5);
    EXPECT_EQ(run->underlineColor, run->foreground);
    // The plain and the link form are cached apart.
    EXPECT_EQ(f.view().getAttributes(curly, false)->veldatronUnderlineStyle, 3);
}

TEST(RowBuilder, WithoutBrightColoursBrightEntriesBecomeBold) {
    ViewFixture f;
    f.view().setUseBrightColors(false);
    f.view().resetCaches();
    const auto run = f.view().getAttributes(Attribute(C::ansi256(9), C::defaultColor), false);
    EXPECT_EQ(run->font, FontStyle::bold);
    EXPECT_EQ(run->foreground, palette(f.terminal(), 1));
    // A bold base colour stays itself.
    const auto bold = f.view().getAttributes(
        Attribute(C::ansi256(1), C::defaultColor, CharacterStyle::bold), false);
    EXPECT_EQ(bold->foreground, palette(f.terminal(), 1));
}

TEST(RowBuilder, TheAttributeCacheIsEmptiedWholeWhenFull) {
    ViewFixture f;
    const auto attribute = [](int i) {
        return Attribute(C::trueColor(uint8_t(i), uint8_t(i >> 8), 0), C::defaultColor);
    };
    const auto first = f.view().getAttributes(attribute(0), false);
    for (int i = 1; i < int(TerminalView::attributeCacheLimit); ++i) {
        f.view().getAttributes(attribute(i), false);
    }
    EXPECT_EQ(f.view().getAttributes(attribute(0), false), first) << "4096 entries fit";
    f.view().getAttributes(attribute(4096), false);
    EXPECT_NE(f.view().getAttributes(attribute(0), false), first) << "the 4097th emptied it";
}

// The segments of a fed row: column, width, text and whether units map to cells one to one.
struct SegmentText {
    int column;
    int columnWidth;
    QString text;
    bool identity;
    friend bool operator==(const SegmentText&, const SegmentText&) = default;
};

void PrintTo(const SegmentText& s, std::ostream* out) {
    *out << "{" << s.column << ", w" << s.columnWidth << ", \"" << s.text.toStdString() << "\", "
         << (s.identity ? "identity" : "mapped") << "}";
}

std::vector<SegmentText> segmentsOf(ViewFixture& f, int row = 0) {
    Buffer& buffer = f.terminal().buffer();
    const ViewLineInfo info =
        f.view().buildAttributedString(row, buffer.lines()[row], f.terminal().cols());
    std::vector<SegmentText> out;
    for (const ViewLineSegment& s : info.segments) {
        out.push_back(
            {s.column, s.columnWidth, s.attributedString.string(), s.utf16IsCellIdentity});
    }
    return out;
}

TEST(RowBuilder, SegmentsHoldCellsOfOneWidth) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = 10;
    struct Case {
        const char* name;
        const char* bytes;
        std::vector<SegmentText> expected;
    };
    const Case cases[] = {
        {"empty cells read as spaces", "ab", {{0, 1, "ab        ", true}}},
        {"a wide character is a segment of its own",
         "a\xe4\xb8\xad"
         "b",
         {{0, 1, "a", true}, {1, 2, "\u4e2d", true}, {3, 1, "b      ", true}}},
        {"text presentation adds U+FE0E to its cell",
         "\xe2\x98\xba"
         "x",
         {{0, 1, "\u263a\ufe0ex        ", false}}},
        {"a scalar beyond the BMP takes two units",
         "\xf0\x9d\x90\x80", // U+1D400, one column
         {{0, 1, QString::fromUcs4(U"\U0001D400") + "         ", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewFixture f(options);
        f.feed(c.bytes);
        EXPECT_EQ(segmentsOf(f), c.expected);
    }
}

TEST(RowBuilder, OrdinalsMapEveryUnitToItsCell) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = 4;
    ViewFixture f(options);
    f.feed("\xe2\x98\xba"
           "e\xcc\x81"); // smiley (text presentation), e + combining acute
    Buffer& buffer = f.terminal().buffer();
    const ViewLineInfo info = f.view().buildAttributedString(0, buffer.lines()[0], 4);
    ASSERT_EQ(info.segments.size(), 1u);
    EXPECT_EQ(info.segments[0].utf16ToCellOrdinal, (std::vector<int>{0, 0, 1, 1, 2, 3}));
    EXPECT_EQ(info.segments[0].characterCount, 1);
}

TEST(RowBuilder, RunsBreakWhereTheAttributeChanges) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = 6;
    ViewFixture f(options);
    f.feed("ab\x1b[31mcd\x1b[0mef");
    Buffer& buffer = f.terminal().buffer();
    const ViewLineInfo info = f.view().buildAttributedString(0, buffer.lines()[0], 6);
    ASSERT_EQ(info.segments.size(), 1u);
    const auto& runs = info.segments[0].attributedString.runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].length, 2);
    EXPECT_EQ(runs[1].attributes->foreground, palette(f.terminal(), 1));
    EXPECT_EQ(runs[2].start, 4);
    EXPECT_EQ(runs[2].length, 2);
    // Equal cells share the cached attributes, so the first and last runs are drawn alike.
    EXPECT_EQ(runs[0].attributes, runs[2].attributes);
    EXPECT_EQ(info.segments[0].characterCount, 3);
}

TEST(RowBuilder, AShortLineRepeatsItsLastCell) {
    ViewFixture f;
    const BufferLinePtr line =
        BufferLine::create(3, CharData(Attribute(C::defaultColor, C::ansi256(4)), 'z', 1));
    const ViewLineInfo info = f.view().buildAttributedString(0, *line, 6);
    ASSERT_EQ(info.segments.size(), 1u);
    EXPECT_EQ(info.segments[0].attributedString.string(), "zzzzzz");
}

} // namespace
