// Right-to-left text in the view: rows drawn in visual order with Arabic letters shaped, the
// caret at the cursor's visual column, the horizontal cursor keys of right-to-left paragraphs,
// and repaints of whole paragraphs.

#include "TerminalBidi.h"
#include "ViewFixture.h"

#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

#define ALEF "\xd7\x90"
#define BET "\xd7\x91"
#define AR_BEH "\xd8\xa8"

TerminalOptions columns(int cols) {
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = 5;
    return options;
}

struct SegmentText {
    int column;
    QString text;
    friend bool operator==(const SegmentText&, const SegmentText&) = default;
};

void PrintTo(const SegmentText& s, std::ostream* out) {
    *out << "{" << s.column << ", \"" << s.text.toStdString() << "\"}";
}

ViewLineInfo rowOf(ViewFixture& f, int row = 0) {
    Buffer& buffer = f.terminal().buffer();
    return f.view().buildAttributedString(row, buffer.lines()[row], f.terminal().cols());
}

std::vector<SegmentText> segmentsOf(const ViewLineInfo& info) {
    std::vector<SegmentText> out;
    for (const ViewLineSegment& s : info.segments) {
        out.push_back({s.column, s.attributedString.string()});
    }
    return out;
}

bool allLeftToRightOverride(const ViewLineInfo& info, bool expected) {
    for (const ViewLineSegment& s : info.segments) {
        for (const AttributedText::Run& run : s.attributedString.runs()) {
            if (run.attributes->leftToRightOverride != expected) {
                return false;
            }
        }
    }
    return true;
}

class BidiView : public ::testing::Test {
protected:
    BidiView() { TerminalBidi::clearCaches(); }
};

TEST_F(BidiView, ARightToLeftRowIsBuiltInVisualOrder) {
    ViewFixture f(columns(10));
    f.feed(ALEF BET " cd");
    const ViewLineInfo info = rowOf(f);
    // The blank columns first, the Latin run in its own order, the Hebrew reversed.
    EXPECT_EQ(segmentsOf(info),
              (std::vector<SegmentText>{{0, QString::fromUtf16(u"     cd \u05D1\u05D0")}}));
    EXPECT_TRUE(allLeftToRightOverride(info, true)) << "laid out: no reordering by the shaper";
}

TEST_F(BidiView, ArabicLettersAreShapedEachInASegmentOfItsOwn) {
    ViewFixture f(columns(4));
    f.feed(AR_BEH AR_BEH);
    EXPECT_EQ(segmentsOf(rowOf(f)), (std::vector<SegmentText>{{0, "  "},
                                                              {2, QString::fromUtf16(u"\uFE90")},
                                                              {3, QString::fromUtf16(u"\uFE91")}}));
}

TEST_F(BidiView, TheLegacyPolicyDrawsRowsAsStored) {
    ViewFixture f(columns(6));
    f.feed(ALEF BET "\r\nplain");
    f.view().setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    const ViewLineInfo rtl = rowOf(f, 0);
    EXPECT_EQ(segmentsOf(rtl),
              (std::vector<SegmentText>{{0, QString::fromUtf16(u"\u05D0\u05D1    ")}}));
    EXPECT_TRUE(allLeftToRightOverride(rtl, true)) << "kept in stored order";
    EXPECT_FALSE(f.view().bidiRowLayout(0, 6));
    EXPECT_TRUE(allLeftToRightOverride(rowOf(f, 1), false));

    f.view().setBidiHostPolicy(BidiHostPolicy::respectTerminal);
    EXPECT_TRUE(f.view().bidiRowLayout(0, 6));
    EXPECT_FALSE(f.view().bidiRowLayout(1, 6)) << "a Latin row needs none";
}

TEST_F(BidiView, TheCaretStandsAtTheCursorsVisualColumn) {
    ViewFixture f(columns(10));
    // Explicit mode, right to left: the row is reversed.
    f.feed("\x1b[8l\x1b[2 kab");
    f.clock.advance(17ms);
    const double w = f.view().cellDimension().width();
    // Cursor column 2 is drawn at visual column 7.
    EXPECT_DOUBLE_EQ(f.view().caretFrame().left(), 7 * w);
    EXPECT_EQ(f.view().visualColumn(0, 0), 9);

    f.view().setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    EXPECT_DOUBLE_EQ(f.view().caretFrame().left(), 2 * w);
}

TEST_F(BidiView, TheArrowKeySwapFollowsTheParagraphsDetectedDirection) {
    ViewFixture f(columns(10));
    // The text system's move commands while an input method composes (the encoder then leaves
    // them to the view).
    const auto left = [&] {
        f.host.clearSent();
        f.view().setMarkedText(QStringLiteral("x"), TextRange{1, 0});
        f.view().doCommand(TextCommand::moveLeft);
        f.view().unmarkText();
        return f.host.sent;
    };
    f.feed("\x1b[?1243hab");
    EXPECT_EQ(left(), "\x1b[D") << "a left-to-right paragraph";
    f.feed("\r\n" ALEF BET);
    EXPECT_EQ(f.view().paragraphDirection(1), BidiDirection::rightToLeft);
    EXPECT_EQ(left(), "\x1b[C") << "right to left, detected: exchanged";
    f.feed("\x1b[?1h");
    EXPECT_EQ(left(), "\x1bOC");
    f.feed("\x1b[?1243l");
    EXPECT_EQ(left(), "\x1bOD") << "no swap without the mode";
}

TEST_F(BidiView, AChangedRowRepaintsItsWholeParagraph) {
    ViewFixture f(columns(10));
    const QSizeF cell = f.view().cellDimension();
    f.view().resize(int(std::ceil(10 * cell.width())) + f.view().scroller()->width(),
                    int(std::round(5 * cell.height())));
    // A paragraph over rows 0 to 2.
    f.feed(ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET ALEF BET
               ALEF BET ALEF);
    f.clock.advance(17ms);
    f.view().invalidated.clear();
    f.feed("\x1b[3;2H" BET);
    f.clock.advance(17ms);
    ASSERT_EQ(f.view().invalidated.size(), 1u);
    EXPECT_DOUBLE_EQ(f.view().invalidated.front().top(), 0) << "from the paragraph's first row";
}

} // namespace
