// The view bound to a child process, with real programs on real pseudo-terminals, on the GUI
// thread's executor. Waits are on conditions, with generous limits.

#include "LocalProcessTerminalView.h"
#include "LocalProcessTerminalViewDelegate.h"
#include "UnicodeUtil.h"
#include "ViewFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr int patience = 20000; // ms

// A deterministic environment: no user configuration reaches the child.
const QStringList childEnvironment{"PATH=/usr/bin:/bin", "TERM=xterm-256color", "PS1=$ ",
                                   "LANG=C.UTF-8"};

class RecordingProcessHost : public LocalProcessTerminalViewDelegate {
public:
    std::vector<std::string> calls;
    std::optional<int32_t> exitCode;
    int terminations = 0;

    void sizeChanged(LocalProcessTerminalView&, int newCols, int newRows) override {
        calls.push_back("sizeChanged " + std::to_string(newCols) + "x" + std::to_string(newRows));
    }
    void setTerminalTitle(LocalProcessTerminalView&, const QString& title) override {
        calls.push_back("title " + title.toStdString());
    }
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<QString>&) override {}
    void processTerminated(TerminalView&, std::optional<int32_t> code) override {
        exitCode = code;
        ++terminations;
    }
};

// The screen's text, rows joined by newlines, each up to its last non-empty cell.
std::string screenText(TerminalView& view) {
    Terminal& terminal = view.terminal();
    Buffer& buffer = terminal.buffer();
    std::string out;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const std::u32string line = terminal.translateBufferLineToString(buffer, row, 0, -1);
        for (char32_t c : line) {
            UnicodeUtil::appendUtf8(out, c);
        }
        out += '\n';
    }
    return out;
}

bool screenShows(TerminalView& view, const std::string& text) {
    return QTest::qWaitFor([&] { return screenText(view).find(text) != std::string::npos; },
                           patience);
}

class LocalProcessViewTest : public ::testing::Test {
protected:
    LocalProcessViewTest()
        : m_view(std::make_unique<LocalProcessTerminalView>(
              nullptr, pinnedFont(), TerminalView::defaultStartupOptions())) {
        m_view->setProcessDelegate(&host);
    }

    LocalProcessTerminalView& view() { return *m_view; }
    void start(const QStringList& args, const QString& program = QStringLiteral("/bin/sh")) {
        const pid_t before = view().process().shellPid();
        view().startProcess(program, args, childEnvironment);
        // Not `running()`: a short child may already have ended when the start returns.
        ASSERT_GT(view().process().shellPid(), 0);
        ASSERT_NE(view().process().shellPid(), before);
    }

    RecordingProcessHost host;
    std::unique_ptr<LocalProcessTerminalView> m_view;
};

TEST_F(LocalProcessViewTest, OutputReachesTheScreenAndTypedTextTheChild) {
    start({"-c", "printf 'ready\\033[31m red\\033[m\\n'; read -r line; echo \"got:$line\""});
    ASSERT_TRUE(screenShows(view(), "ready red"));
    Buffer& buffer = view().terminal().buffer();
    EXPECT_EQ(buffer.lines()[0][6].attribute().fg(), Attribute::Color::ansi256(1));
    view().send(QStringLiteral("caf\u00e9\n"));
    EXPECT_TRUE(screenShows(view(), "got:caf\u00e9"));
}

TEST_F(LocalProcessViewTest, TheChildsEndIsReportedOnceWithTheRawStatus) {
    start({"-c", "exit 1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.terminations > 0; }, patience));
    EXPECT_EQ(host.exitCode, 256) << "the wait status, not the exit code";
    QTest::qWait(50);
    EXPECT_EQ(host.terminations, 1);
    EXPECT_FALSE(view().process().running());
    // Input after the end is dropped, and a new start is accepted.
    view().send(QStringLiteral("ignored\n"));
    start({"-c", "echo again"});
    EXPECT_TRUE(screenShows(view(), "again"));
}

TEST_F(LocalProcessViewTest, ASecondStartWhileTheChildRunsStartsNothing) {
    start({"-i"});
    const pid_t first = view().process().shellPid();
    view().startProcess("/bin/sh", {"-c", "echo second"}, childEnvironment);
    EXPECT_EQ(view().process().shellPid(), first);
}

TEST_F(LocalProcessViewTest, TheChildLearnsTheViewsSize) {
    const QSizeF cell = view().cellDimension();
    const double bar = 1000 - view().getEffectiveWidth(QSizeF(1000, 0));
    const auto viewSize = [&](int cols, int rows) {
        return QSizeF(bar + cols * cell.width() + 0.5, rows * cell.height() + 0.5);
    };
    ASSERT_TRUE(view().processSizeChange(viewSize(60, 20)));
    EXPECT_TRUE(host.calls.empty()) << "no child yet: nobody to tell";
    start({"-c", "stty size; read -r x; stty size; read -r x"});
    ASSERT_TRUE(screenShows(view(), "20 60"));

    ASSERT_TRUE(view().processSizeChange(viewSize(70, 12)));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"sizeChanged 70x12"}));
    view().send(QStringLiteral("\n"));
    EXPECT_TRUE(screenShows(view(), "12 70"));

    const winsize size = view().getWindowSize();
    EXPECT_EQ(size.ws_col, 70);
    EXPECT_EQ(size.ws_row, 12);
    EXPECT_EQ(size.ws_xpixel, int(70 * cell.width() * view().backingScaleFactor()));
}

TEST_F(LocalProcessViewTest, PixelSizesBeyondTheRecordAreHeldAt65535) {
    view().resizeTerminal(20000, 10);
    const winsize size = view().getWindowSize();
    EXPECT_EQ(size.ws_col, 20000);
    EXPECT_EQ(size.ws_xpixel, 65535);
    EXPECT_LT(size.ws_ypixel, 65535);
}

TEST_F(LocalProcessViewTest, DestroyingTheViewHangsUpAndReapsItsShell) {
    start({"-i"});
    ASSERT_TRUE(screenShows(view(), "$ "));
    const pid_t pid = view().process().shellPid();
    ASSERT_GT(pid, 0);
    m_view.reset();
    // A zombie still answers kill(pid, 0): the shell is gone only once it was reaped.
    EXPECT_TRUE(
        QTest::qWaitFor([pid] { return ::kill(pid, 0) == -1 && errno == ESRCH; }, patience));
    EXPECT_EQ(host.terminations, 0) << "a view that goes reports nothing";
}

TEST_F(LocalProcessViewTest, ProgramsMayWriteTheClipboardWithText) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    const std::string text = "from the program \xe2\x9c\x93";
    view().clipboardCopy(view(),
                         std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(clipboard->text(), QString::fromUtf8(text));
    const uint8_t invalid[] = {'x', 0xFF, 'y'};
    view().clipboardCopy(view(), invalid);
    EXPECT_EQ(clipboard->text(), QString::fromUtf8(text)) << "not UTF-8: left alone";

    const auto read = view().clipboardRead(static_cast<TerminalView&>(view()));
    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(read->begin(), read->end()), text);
    // Through the terminal, the read is refused until the host allows it.
    EXPECT_EQ(view().TerminalView::clipboardRead(view().terminal()), std::nullopt);
}

} // namespace
