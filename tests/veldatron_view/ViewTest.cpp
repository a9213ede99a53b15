#include "ViewFixture.h"

#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

TEST(CellMetrics, CellsLieOnTheDevicePixelGrid) {
    struct Case {
        const char* name;
        double lineHeight;
        double advance;
        double lineSpacing;
        double scale;
        QSizeF expected;
    };
    const Case cases[] = {
        {"line height times spacing, raised to whole device pixels", 15.3, 7.25, 1.5, 2, {7.5, 23}},
        {"an advance rounds to the nearest device pixel", 15.3, 7.2, 1.0, 2, {7.0, 16}},
        {"at scale 1 both are whole", 16.4, 8.43, 1.0, 1, {8, 17}},
        {"too tall is cut to 8192", 9000, 8, 1.0, 1, {8, 8192}},
        {"a cell of a point or less is one point", 0.5, 0.2, 1.0, 1, {1, 1}},
        {"no scale counts as 1", 15.3, 7.25, 1.0, 0, {7, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TerminalView::cellSize(c.lineHeight, c.advance, c.lineSpacing, c.scale),
                  c.expected);
    }
}

TEST(ViewSize, AViewStartsAtTheOptionsSizeAndFitsItsFirstLayout) {
    ViewFixture f;
    EXPECT_EQ(f.terminal().cols(), 80);
    EXPECT_EQ(f.terminal().rows(), 25);
    const QSizeF cell = f.view().cellDimension();
    const int scroller = f.view().scroller()->width();
    f.view().resize(int(100 * cell.width()) + scroller + 3, int(30 * cell.height()) + 2);
    f.view().show();
    EXPECT_EQ(f.terminal().cols(), 100) << "the scroll bar takes its width";
    EXPECT_EQ(f.terminal().rows(), 30);
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"sizeChanged 100x30"}));

    // A size giving the same columns and rows, and an empty size, change nothing.
    f.host.calls.clear();
    EXPECT_FALSE(f.view().processSizeChange(
        QSizeF(100 * cell.width() + scroller + 1, 30 * cell.height() + 1)));
    EXPECT_FALSE(f.view().processSizeChange(QSizeF(0, 0)));
    EXPECT_TRUE(f.host.calls.empty());

    // A view narrower than two cells keeps the terminal's minimum; the host hears the counts.
    EXPECT_TRUE(f.view().processSizeChange(QSizeF(0, 100)));
    EXPECT_EQ(f.terminal().cols(), 2);
    EXPECT_EQ(f.host.calls.back(), "sizeChanged 0x" + std::to_string(int(100 / cell.height())));
}

TEST(ViewSize, ANewFontMeasuresTheCellAgainAndRefitsTheTerminal) {
    ViewFixture f;
    const QSizeF small = f.view().cellDimension();
    f.view().resize(int(80 * small.width()) + f.view().scroller()->width(),
                    int(25 * small.height()));
    f.view().show();
    f.host.calls.clear();
    // A scroll region and application cursor keys fitted to the old cells.
    f.feed("\x1b[2;10r\x1b[?1h");
    ASSERT_TRUE(f.terminal().applicationCursor());
    f.view().setTerminalFont(pinnedFont(28));
    const QSizeF large = f.view().cellDimension();
    EXPECT_GT(large.height(), small.height());
    EXPECT_EQ(f.terminal().rows(), int(25 * small.height() / large.height()));
    ASSERT_FALSE(f.host.calls.empty());
    EXPECT_EQ(f.host.calls.back(), "sizeChanged " + std::to_string(f.terminal().cols()) + "x" +
                                       std::to_string(f.terminal().rows()));
    // The terminal is soft-reset: margins span the new screen, the keys are normal again.
    EXPECT_FALSE(f.terminal().applicationCursor());
    EXPECT_EQ(f.terminal().buffer().scrollTop(), 0);
    EXPECT_EQ(f.terminal().buffer().scrollBottom(), f.terminal().rows() - 1);
}

TEST(WindowReports, PixelSizesOfTheTextAreaAndTheCell) {
    ViewFixture f;
    const QSizeF cell = f.view().cellDimension();
    const auto reply = [&](WindowManipulationCommand::Kind kind) {
        const auto bytes = f.view().windowCommand(f.terminal(), {kind, 0, 0});
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("none");
    };
    // Scale 1: the text area is rounded, the cell truncated.
    EXPECT_EQ(reply(WindowManipulationCommand::Kind::reportTextAreaPixelDimension),
              "\x1b[4;" + std::to_string(std::llround(cell.height() * 25)) + ";" +
                  std::to_string(std::llround(cell.width() * 80)) + "t");
    EXPECT_EQ(reply(WindowManipulationCommand::Kind::reportCellSizeInPixels),
              "\x1b[6;" + std::to_string(int(cell.height())) + ";" +
                  std::to_string(int(cell.width())) + "t");
    // Other requests are left to the terminal.
    EXPECT_EQ(reply(WindowManipulationCommand::Kind::reportTextAreaCharacters), "none");
    EXPECT_EQ(reply(WindowManipulationCommand::Kind::iconifyWindow), "none");

    const std::optional<CellSize> pixels = f.view().cellSizeInPixels(f.terminal());
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->width, int(std::lround(cell.width())));
    EXPECT_EQ(pixels->height, int(std::lround(cell.height())));
}

TEST(Colours, TerminalColoursBecomePlatformColoursAndBack) {
    EXPECT_EQ(PlatformColor::make(Color(65535, 0, 32768)), PlatformColor(1, 0, 32768 / 65535.0));
    EXPECT_NEAR(PlatformColor::make(Color(65535, 0, 32768)).blue, 0.50000763, 1e-8);
    EXPECT_EQ(PlatformColor(1, 0.5, 0).getTerminalColor(), Color(65535, 32767, 0));
    EXPECT_EQ(PlatformColor(1.5, -2, std::nan("")).getTerminalColor(), Color(65535, 0, 0))
        << "clamped; not a number reads as 0";
    EXPECT_EQ(PlatformColor(1, 1, 1, 0.25).dimmedColor(PlatformColor(0, 0, 0)),
              PlatformColor(0.5, 0.5, 0.5, 0.25));
}

TEST(Colours, DefaultColoursStayEqualInTheViewAndTheTerminal) {
    ViewFixture f;
    EXPECT_EQ(f.view().nativeForegroundColor(), PlatformColor::make(Color::defaultForeground));
    EXPECT_EQ(f.view().nativeBackgroundColor(), PlatformColor::make(Color::defaultBackground));

    // The host's colour reaches the terminal (an OSC 10 query answers it).
    f.view().setNativeForegroundColor(PlatformColor(1, 0.5, 0));
    EXPECT_EQ(f.terminal().foregroundColor(), Color(65535, 32767, 0));
    EXPECT_EQ(f.view().nativeForegroundColor(), PlatformColor(1, 0.5, 0));

    // The program's colour (OSC 11) reaches the view, which redraws the whole screen.
    f.terminal().setBackgroundColor(Color(0, 0, 65535));
    EXPECT_EQ(f.view().nativeBackgroundColor(), PlatformColor(0, 0, 1));
    EXPECT_EQ(f.view().effectiveNativeBackgroundColor(), PlatformColor(0, 0, 1));
    EXPECT_EQ(f.terminal().refreshStart(), 0);
    EXPECT_EQ(f.terminal().refreshEnd(), 25);
    EXPECT_TRUE(f.view().pendingDisplay());
    const auto cell = f.view().getAttributes(Attribute(), false);
    EXPECT_EQ(cell->background, PlatformColor(0, 0, 1)) << "no stale cached colour";
}

TEST(Colours, BackgroundOpacityIsClamped) {
    ViewFixture f;
    f.view().setBackgroundOpacity(1.5);
    EXPECT_EQ(f.view().backgroundOpacity(), 1);
    f.view().setBackgroundOpacity(-1);
    EXPECT_EQ(f.view().backgroundOpacity(), 0);
    EXPECT_EQ(f.view().nativeBackgroundColor(), PlatformColor(0, 0, 0, 0));
    f.view().setBackgroundOpacity(0.5);
    EXPECT_EQ(f.view().backgroundOpacity(), 0.5);
}

TEST(Colours, OnlyASixteenColourPaletteIsInstalled) {
    ViewFixture f;
    const std::vector<Color> before = f.terminal().ansiColors();
    const auto red = f.view().getAttributes(
        Attribute(Attribute::Color::ansi256(1), Attribute::Color::defaultColor), false);
    std::vector<Color> colors(15, Color(1, 2, 3));
    f.view().installColors(colors);
    EXPECT_EQ(f.terminal().ansiColors(), before);
    EXPECT_NE(f.view().getAttributes(
                  Attribute(Attribute::Color::ansi256(1), Attribute::Color::defaultColor), false),
              red)
        << "the caches are dropped all the same";
    colors.assign(16, Color(0, 65535, 0));
    f.view().installColors(colors);
    EXPECT_EQ(f.terminal().ansiColors()[1], Color(0, 65535, 0));
    EXPECT_EQ(
        f.view()
            .getAttributes(Attribute(Attribute::Color::ansi256(1), Attribute::Color::defaultColor),
                           false)
            ->foreground,
        PlatformColor(0, 1, 0));
}

TEST(HostOperations, ClipboardReadsAreAnsweredOnlyWhenTheHostAllowsThem) {
    ViewFixture f;
    EXPECT_FALSE(f.view().allowClipboardRead());
    EXPECT_EQ(f.view().clipboardRead(f.terminal()), std::nullopt)
        << "as for an empty clipboard, although the host has text";
    f.view().setAllowClipboardRead(true);
    EXPECT_EQ(f.view().clipboardRead(f.terminal()),
              (std::vector<uint8_t>{'s', 'e', 'c', 'r', 'e', 't'}));
}

TEST(HostOperations, TitlesDirectoriesAndRepliesReachTheHost) {
    ViewFixture f;
    f.view().setTerminalTitle(f.terminal(), "build \xe2\x9c\x93");
    f.view().hostCurrentDirectoryUpdated(f.terminal());
    f.view().sizeChanged(f.terminal());
    EXPECT_EQ(f.host.calls, (std::vector<std::string>{"title build \xe2\x9c\x93", "directory none",
                                                      "sizeChanged 80x25"}));
    // A reply of the terminal goes straight out: no input time stamp, so output stays coalesced.
    f.terminal().sendResponse(std::string_view("\x1b[0n"));
    EXPECT_EQ(f.host.sent, "\x1b[0n");
    f.view().invalidated.clear();
    f.feed("x");
    EXPECT_TRUE(f.view().invalidated.empty());
}

} // namespace

namespace {

TEST(HostOperations, SubmittingTheArmedCommandLineMarksItSubmittedBeforeTheProgramSeesIt) {
    ViewFixture f;
    Buffer& buffer = f.terminal().buffer();
    buffer.semanticInput = SemanticInputState::armed;
    f.view().send(QStringLiteral("make test"));
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::armed) << "not submitted yet";
    f.view().send(QStringLiteral("\r"));
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::submitted);
    EXPECT_EQ(f.host.sent, "make test\r");
    // Only an armed line changes.
    buffer.semanticInput = SemanticInputState::idle;
    f.view().send(QStringLiteral("\r"));
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::idle);
}

} // namespace
