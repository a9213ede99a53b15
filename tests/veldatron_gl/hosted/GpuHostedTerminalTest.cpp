// A terminal view bound to a shell, drawn by the GPU renderer in a shown window: what it draws
// must be what the raster view draws of the same screen, through a shell, a full-screen editor,
// a colour test, a resize and scrolling back. Needs GL (Xvfb); skips without it.

#include "CaretView.h"
#include "FrameComparison.h"
#include "GlMetalRenderer.h"
#include "GlTestContext.h"
#include "LocalProcessTerminalView.h"
#include "TerminalViewMetalHost.h"
#include "UnicodeUtil.h"

#include <QDir>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr int patience = 20000; // ms

const QStringList childEnvironment{"PATH=/usr/bin:/bin", "TERM=xterm-256color", "PS1=$ ",
                                   "LANG=C.UTF-8", "HOME=/tmp"};

const char* const colourTest =
    "for i in 0 1 2 3 4 5 6 7; do printf '\\033[4%sm  %s  ' $i $i; done; printf '\\033[m\\n'; "
    "for i in 0 1 2 3 4 5 6 7; do printf '\\033[1;3%sm bold %s ' $i $i; done; "
    "printf '\\033[m\\n'; i=16; while [ $i -lt 232 ]; do printf '\\033[48;5;%sm ' $i; "
    "i=$((i+1)); [ $(( (i-16) % 72 )) -eq 0 ] && printf '\\033[m\\n'; done; "
    "printf '\\033[7m inverse \\033[m \\033[4munderline\\033[m "
    "\\342\\224\\214\\342\\224\\200\\342\\224\\220 \\342\\226\\210\\342\\226\\221 colours done\\n'\r";

std::string screenText(TerminalView& view) {
    Terminal& terminal = view.terminal();
    Buffer& buffer = terminal.buffer();
    std::string out;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        for (char32_t c : terminal.translateBufferLineToString(buffer, row, 0, -1)) {
            UnicodeUtil::appendUtf8(out, c);
        }
        out += '\n';
    }
    return out;
}

class GpuHostedTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no display";
        }
        if (!GlTestContext::make()) {
            GTEST_SKIP() << GlTestContext::whyUnavailable();
        }
        window = std::make_unique<QWidget>();
        window->resize(960, 600);
        view = new LocalProcessTerminalView(window.get(), QFont(QStringLiteral("DejaVu Sans Mono"), 12),
                                            TerminalView::defaultStartupOptions());
        view->setGeometry(window->rect());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        view->setFocus();
        view->setUseMetal(true);
        ASSERT_TRUE(view->isUsingMetalRenderer());
        view->startProcess(QStringLiteral("/bin/sh"), {}, childEnvironment);
        ASSERT_TRUE(shows("$ "));
    }

    void TearDown() override {
        if (view != nullptr) {
            view->terminate();
        }
    }

    bool shows(const std::string& text) {
        return QTest::qWaitFor([&] { return screenText(*view).find(text) != std::string::npos; },
                               patience);
    }

    TerminalViewMetalHost& host() { return TerminalViewMetalHost::of(*view); }

    // The GPU's frame once the screen has settled and no frame is in flight.
    QImage gpuFrame() {
        view->displayImmediately();
        auto* metalView = static_cast<MetalView*>(host().metalView());
        const auto idle = [&] {
            return !host().metalRenderer()->frameCoordinator().activeFrame();
        };
        EXPECT_TRUE(QTest::qWaitFor(idle, patience));
        const QImage frame = metalView->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(QTest::qWaitFor(idle, patience));
        return frame;
    }

    // The raster view's frame of the same screen, with the caret drawn over it.
    QImage rasterFrame() {
        QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        view->drawTerminalContents(QRectF(view->rect()), painter,
                                   view->terminal().buffer().yDisp());
        if (!view->terminal().isCursorHidden()) {
            CaretView& caret = view->caretView();
            caret.drawCursor(painter, caret.frame(), view->terminalHasFocus());
        }
        painter.end();
        return image.convertToFormat(QImage::Format_RGB32);
    }

    // Both frames of the current screen agree off glyph edges (the scroll bar left out); the
    // GPU's frame is kept for a person to look at.
    void expectFramesAgree(const QString& name) {
        SCOPED_TRACE(name.toStdString());
        const QImage gpu = gpuFrame();
        const QImage raster = rasterFrame();
        ASSERT_EQ(gpu.size(), raster.size());
        const QRect text(0, 0, view->scroller()->geometry().left(), raster.height());
        const Comparison result = compare(gpu, raster, 48, text);
        EXPECT_GT(result.compared, text.width() * text.height() / 2);
        EXPECT_LE(result.differing, result.compared / 100) << result.firstDifference;
        const QString directory = QStringLiteral(QT_TESTCASE_BUILDDIR "/../../screenshots");
        QDir().mkpath(directory);
        gpu.save(directory + QStringLiteral("/gpu-terminal-%1.png").arg(name));
        if (result.differing > result.compared / 100) {
            raster.save(directory + QStringLiteral("/raster-terminal-%1.png").arg(name));
        }
    }

    std::unique_ptr<QWidget> window;
    LocalProcessTerminalView* view = nullptr;
};

TEST_F(GpuHostedTerminal, ShellEditorAndColoursLookAsTheRasterViewDrawsThem) {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return view->metalRendererStatus().state == MetalRendererStatus::State::healthy; },
        patience))
        << "frames are presented";
    view->send(QString::fromLatin1(colourTest));
    ASSERT_TRUE(shows("colours done"));
    expectFramesAgree(QStringLiteral("colours"));

    // No swap or viminfo file: another run of this test, or one that was killed, must not make
    // the editor ask about a swap file instead of showing the text.
    view->send(QStringLiteral(
        "vim -u NONE -N -i NONE -n -c 'syntax off' /tmp/veldatron-gpu-host-$$.txt\r"));
    ASSERT_TRUE(shows("~"));
    view->send(QStringLiteral("iint main(void)\r{\r    return 0;\r}\x1b"));
    ASSERT_TRUE(shows("return 0;"));
    QTest::qWait(200);
    expectFramesAgree(QStringLiteral("vim"));
    view->send(QStringLiteral(":q!\r"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return &view->terminal().buffer() != &view->terminal().altBuffer(); }, patience));

    // A smaller window: the shell is told, the GPU view follows the terminal view.
    window->resize(720, 420);
    view->setGeometry(window->rect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->terminal().cols() < 80; }, patience));
    EXPECT_EQ(host().metalView()->geometry(), view->rect());
    view->send(QStringLiteral("echo resized\r"));
    ASSERT_TRUE(shows("resized"));
    expectFramesAgree(QStringLiteral("resized"));

    // Scrolled back into the history.
    view->send(QStringLiteral("i=0; while [ $i -lt 80 ]; do echo \"line $i\"; i=$((i+1)); done\r"));
    ASSERT_TRUE(shows("line 79"));
    view->scrollUp(12);
    expectFramesAgree(QStringLiteral("scrolled"));
    EXPECT_EQ(view->metalRendererStatus().state, MetalRendererStatus::State::healthy);
}

} // namespace
