// The debug overlay: its status line, the labels of the ring's slots, and its life beside the
// terminal view it shows (which it does not keep alive).

#include "TerminalDebugView.h"
#include "ViewFixture.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

TEST(DebugView, TheStatusWaitsForTheFirstDisplayPass) {
    ViewFixture f;
    TerminalDebugView debug(QRect(0, 0, 300, 200), f.view());
    EXPECT_EQ(f.view().debug(), &debug);
    EXPECT_EQ(debug.status().text(), "WAITING");
    f.feed("\x1b[6;4H");
    f.clock.advance(17ms);
    EXPECT_EQ(debug.status().text(),
              "x: 3 y: 5 yDisp: 0 yBase: 0 clc: " +
                  QString::number(f.terminal().buffer().lines().slotCount()) + " startIndex: 0");
}

TEST(DebugView, SlotLabelsNumberTheSlotAndItsLineAndMarkTheViewport) {
    ViewFixture f;
    // 30 lines of output scroll 6 lines into the scrollback: yBase 6, and scrolled back by 2,
    // yDisp 4.
    for (int i = 0; i < 30; ++i) {
        f.feed("line\r\n");
    }
    f.view().scrollUp(2);
    Terminal& terminal = f.terminal();
    ASSERT_EQ(terminal.buffer().yBase(), 6);
    ASSERT_EQ(terminal.buffer().yDisp(), 4);
    const int slotCount = terminal.buffer().lines().slotCount();
    const int start = terminal.buffer().lines().startIndex();
    const auto label = [&](int slot) {
        char text[16];
        std::snprintf(text, sizeof text, "%03d", (slot + start) % slotCount);
        return QString::fromLatin1(text);
    };
    EXPECT_EQ(TerminalDebugView::slotLabels(terminal, 7),
              std::pair(QStringLiteral("[007:") + label(7) + "]  ", QStringLiteral("[007]  ")));
    EXPECT_EQ(TerminalDebugView::slotLabels(terminal, 4).second, "[004]D ");
    EXPECT_EQ(TerminalDebugView::slotLabels(terminal, 6).second, "[006] B");
    f.view().scrollDown(2);
    EXPECT_EQ(TerminalDebugView::slotLabels(terminal, 6).second, "[006]DB");
}

TEST(DebugView, LinesShowTheirColumnsAndAMissingLineSaysSo) {
    ViewFixture f;
    f.feed("ab\xc3\xa9");
    const BufferLine& line = f.terminal().buffer().lines()[0];
    EXPECT_EQ(TerminalDebugView::debugText(&line, 5, f.terminal()), QStringLiteral("ab\u00e9  "));
    EXPECT_EQ(TerminalDebugView::debugText(&line, 0, f.terminal()), QString());
    EXPECT_EQ(TerminalDebugView::debugText(nullptr, 5, f.terminal()), "<empty>");
}

TEST(DebugView, ItOutlivesItsTerminalViewWithoutKeepingItAlive) {
    auto fixture = std::make_unique<ViewFixture>();
    auto debug = std::make_unique<TerminalDebugView>(QRect(0, 0, 300, 200), fixture->view());
    debug->refresh();
    const QString status = debug->status().text();
    fixture.reset(); // the terminal view goes first
    EXPECT_EQ(debug->terminalView(), nullptr);
    debug->refresh();
    EXPECT_EQ(debug->status().text(), status);
    EXPECT_FALSE(debug->grab().isNull()) << "it still paints (a blank page)";

    ViewFixture f;
    {
        TerminalDebugView second(QRect(0, 0, 100, 100), f.view());
        EXPECT_EQ(f.view().debug(), &second);
    }
    EXPECT_EQ(f.view().debug(), nullptr) << "a debug view that goes is forgotten";
    f.feed("x");
    f.clock.advance(17ms); // a display pass without it
}

} // namespace
