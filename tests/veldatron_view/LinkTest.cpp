// LinksUnderThePointer under the pointer: highlight, click, the Ctrl preview and OSC 8 payloads.

#include "PointerEvents.h"
#include "ViewFixture.h"

#include <QKeyEvent>
#include <QLabel>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Mode = TerminalView::LinkHighlightMode;
using Params = std::map<QString, QString>;
constexpr auto ctrl = Qt::ControlModifier;

// A host that records the links the user opened instead of opening them.
class LinkHost : public RecordingHost {
public:
    std::vector<std::pair<QString, Params>> opened;
    void requestOpenLink(TerminalView&, const QString& link, const Params& params) override {
        opened.emplace_back(link, params);
    }
};

class LinksUnderThePointer : public ::testing::Test {
protected:
    LinksUnderThePointer() {
        f.view().setTerminalDelegate(&host);
        // Row 0: a detected URL at columns 4-23; row 1: an OSC 8 link on "here" (columns 5-8).
        f.feed("see http://example.com/page now\r\n"
               "link \x1b]8;id=1:x=2;file:///tmp/a;b\x1b\\here\x1b]8;;\x1b\\ end");
    }
    ~LinksUnderThePointer() override { f.view().setTerminalDelegate(nullptr); }

    void ctrlKey(bool down) {
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Control,
                        down ? ctrl : Qt::NoModifier);
        QCoreApplication::sendEvent(&f.view(), &event);
    }
    TerminalView& view() { return f.view(); }

    ViewFixture f;
    LinkHost host;
};

TEST(LinkPayload, SplitsIntoTheUrlAndItsParameters) {
    struct Case {
        const char* payload;
        std::optional<std::pair<QString, Params>> parts;
    };
    const Case cases[] = {
        {"id=1:x=2;file:///tmp/a", std::pair(QStringLiteral("file:///tmp/a"),
                                             Params{{QStringLiteral("id"), QStringLiteral("1")},
                                                    {QStringLiteral("x"), QStringLiteral("2")}})},
        {";u", std::pair(QStringLiteral("u"), Params{})},
        {"a=b=c;u", std::pair(QStringLiteral("u"), Params{})},
        {"k=v;u;w",
         std::pair(QStringLiteral("u;w"), Params{{QStringLiteral("k"), QStringLiteral("v")}})},
        {"k=1:k=2;u",
         std::pair(QStringLiteral("u"), Params{{QStringLiteral("k"), QStringLiteral("2")}})},
        {"no separator", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(TerminalView::urlAndParamsFrom(QString::fromUtf8(c.payload)), c.parts);
    }
}

TEST_F(LinksUnderThePointer, ByDefaultLinksAreUnderlinedAndOpenedOnlyWithCtrl) {
    move(view(), cell(view(), 8, 0));
    EXPECT_FALSE(view().linkHighlightRange());
    click(view(), cell(view(), 8, 0));
    EXPECT_TRUE(host.opened.empty());

    ctrlKey(true);
    EXPECT_TRUE(view().hasMouseTracking());
    move(view(), cell(view(), 8, 0), Qt::NoButton, ctrl);
    ASSERT_TRUE(view().linkHighlightRange());
    EXPECT_EQ(*view().linkHighlightRange(),
              (std::vector<LinkMatch::RowRange>{{0, ColumnRange{4, 27}}}));
    f.clock.advance(1s);
    click(view(), cell(view(), 8, 0), Qt::LeftButton, ctrl);
    ASSERT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.opened[0].first, QStringLiteral("http://example.com/page"));

    // The highlighted cells are drawn as a link.
    const ViewLineInfo info = view().buildAttributedString(0, f.terminal().buffer().lines()[0], 80);
    const auto& runs = info.segments.at(0).attributedString.runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1].start, 4);
    EXPECT_TRUE(runs[1].attributes->underlineStyle);
    EXPECT_FALSE(runs[0].attributes->underlineStyle);

    ctrlKey(false);
    EXPECT_FALSE(view().linkHighlightRange()) << "releasing Ctrl ends the highlight";
    EXPECT_FALSE(view().hasMouseTracking());
}

TEST_F(LinksUnderThePointer, InModeAlwaysOnlyExplicitLinksOpen) {
    view().setLinkHighlightMode(Mode::always);
    click(view(), cell(view(), 8, 0));
    EXPECT_TRUE(host.opened.empty()) << "a detected link";
    f.clock.advance(1s);
    click(view(), cell(view(), 6, 1));
    ASSERT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.opened[0].first, QStringLiteral("file:///tmp/a;b"));
    EXPECT_EQ(host.opened[0].second, (Params{{QStringLiteral("id"), QStringLiteral("1")},
                                             {QStringLiteral("x"), QStringLiteral("2")}}));

    // A click that ends a drag opens nothing.
    f.clock.advance(1s);
    press(view(), cell(view(), 5, 1));
    drag(view(), cell(view(), 7, 1));
    release(view(), cell(view(), 7, 1));
    EXPECT_EQ(host.opened.size(), 1u);
}

TEST_F(LinksUnderThePointer, ACtrlClickOnALinkOpensItInsteadOfReportingTheRelease) {
    f.feed("\x1b[?1000h\x1b[?1006h");
    ctrlKey(true);
    move(view(), cell(view(), 6, 1), Qt::NoButton, ctrl);
    f.host.clearSent();
    host.clearSent();
    click(view(), cell(view(), 6, 1), Qt::LeftButton, ctrl);
    EXPECT_EQ(host.sent, "\x1b[<16;7;2M") << "the press only";
    ASSERT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.opened[0].first, QStringLiteral("file:///tmp/a;b"));
}

TEST_F(LinksUnderThePointer, CtrlPreviewsTheUrlOfTheLinkUnderThePointer) {
    ctrlKey(true);
    move(view(), cell(view(), 6, 1), Qt::NoButton, ctrl);
    ASSERT_NE(view().urlPreview(), nullptr);
    EXPECT_EQ(view().urlPreview()->text(), QStringLiteral("file:///tmp/a;b"));
    EXPECT_EQ(view().lastReportedLink(), QStringLiteral("file:///tmp/a;b"));
    move(view(), cell(view(), 1, 1), Qt::NoButton, ctrl);
    ASSERT_NE(view().urlPreview(), nullptr) << "the last URL stays";
    EXPECT_FALSE(view().lastReportedLink());
    ctrlKey(false);
    EXPECT_EQ(view().urlPreview(), nullptr);
}

TEST_F(LinksUnderThePointer, AlwaysWithModifierRedrawsEveryRowWhenCtrlGoes) {
    view().setLinkHighlightMode(Mode::alwaysWithModifier);
    ctrlKey(true);
    f.clock.advance(1s);
    ctrlKey(false);
    EXPECT_EQ(f.terminal().refreshStart(), 0);
    EXPECT_GE(f.terminal().refreshEnd(), f.terminal().rows() - 1);
}

TEST(LinkPayloadAtCell, TheRightHalfOfAWideCharacterBelongsToItsLink) {
    ViewFixture f;
    f.feed("\x1b]8;;https://example.org\x1b\\\u65e5\x1b]8;;\x1b\\");
    EXPECT_EQ(f.view().payloadString({1, 0}), QStringLiteral(";https://example.org"));
    EXPECT_EQ(f.view().payloadString({2, 0}), std::nullopt);
}

} // namespace
