// The mouse in an agent tab's terminal on a real X server: clicks reach a full-screen editor
// that asked for them, a double click selects a word of the shell's output for the clipboard,
// and the find bar finds a word in the scrollback.

#include "SelectionService.h"
#include "TerminalFindBarView.h"
#include "UserOnX11.h"

using cavrel::test::waitUntil;

namespace {

class MouseOnX11 : public cavrel::test::UserOnX11 {
protected:
    // The centre of a cell of the screen (row 0 the top visible row), in the view.
    QPoint cellCentre(int col, int row) {
        const QSizeF size = terminal().cellDimension();
        return QPointF((col + 0.5) * size.width(), (row + 0.5) * size.height()).toPoint();
    }

    // The screen row whose text is exactly `text`, or -1.
    int screenRowOf(const QString& text) {
        veldatron::Terminal& emulator = terminal().terminal();
        veldatron::Buffer& buffer = emulator.buffer();
        for (int row = 0; row < emulator.rows(); ++row) {
            const std::u32string line =
                emulator.translateBufferLineToString(buffer, buffer.yDisp() + row, 0, -1);
            if (QString::fromStdU32String(line).trimmed() == text) {
                return row;
            }
        }
        return -1;
    }

    // The clipboard's text as another program reads it from the X server (the application
    // answers while the event loop runs).
    static QString clipboardFromXclip(const QString& selection = QStringLiteral("clipboard")) {
        QProcess process;
        process.start(QStringLiteral("xclip"),
                      {QStringLiteral("-o"), QStringLiteral("-selection"), selection});
        if (!waitUntil([&] { return process.state() == QProcess::NotRunning; })) {
            process.kill();
            process.waitForFinished();
            return QStringLiteral("(xclip did not finish)");
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }
};

TEST_F(MouseOnX11, AClickMovesTheCursorOfAnEditorThatAskedForTheMouse) {
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/sh"));
    veldatron::Terminal& emulator = terminal().terminal();
    ASSERT_NO_FATAL_FAILURE(openEditor(QStringLiteral("note.txt")));
    keys({"i"});
    type(QStringLiteral("first line"));
    keys({"Return"});
    type(QStringLiteral("second line"));
    keys({"Return"});
    type(QStringLiteral("third line"));
    keys({"Escape"});
    type(QStringLiteral(":set mouse=a"));
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] {
        return emulator.mouseMode() != veldatron::Terminal::MouseMode::off;
    })) << "vim never asked for the mouse";

    click(&terminal(), cellCentre(4, 1));
    const veldatron::Buffer& buffer = emulator.buffer();
    EXPECT_TRUE(waitUntil([&] { return buffer.x() == 4 && buffer.y() == 1; }))
        << "the cursor is at " << buffer.x() << "," << buffer.y();
    EXPECT_FALSE(terminal().selectionActive()) << "the click went to vim";

    // Where the cursor is, vim deletes a word.
    type(QStringLiteral("dw:wq"));
    keys({"Return"});
    EXPECT_TRUE(waitForFile(QStringLiteral("note.txt"), "first line\nsecoline\nthird line\n"));
}

TEST_F(MouseOnX11, ADoubleClickedWordOfOutputIsCopiedWithCtrlShiftC) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        << "xclip reads the clipboard back (scripts/setup installs it)";
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/sh"));
    type(QStringLiteral("echo alpha zebra42 omega"));
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return screenRowOf(QStringLiteral("alpha zebra42 omega")) >= 0; }))
        << screen().toStdString();
    ASSERT_TRUE(waitForScreen(QStringLiteral("omega\nagents$")));
    const int row = screenRowOf(QStringLiteral("alpha zebra42 omega"));

    click(&terminal(), cellCentre(8, row), 2);
    ASSERT_TRUE(waitUntil([&] { return terminal().getSelection() == QStringLiteral("zebra42"); }))
        << (terminal().getSelection() ? terminal().getSelection()->toStdString() : "(none)");
    keys({"ctrl+shift+c"});
    EXPECT_TRUE(waitUntil([&] { return clipboardFromXclip() == QStringLiteral("zebra42"); }))
        << clipboardFromXclip().toStdString();

    // As X terminals do, the selection is also the primary selection, which the middle button
    // pastes.
    EXPECT_EQ(clipboardFromXclip(QStringLiteral("primary")), QStringLiteral("zebra42"));
    click(&terminal(), cellCentre(2, row), 1, 2);
    EXPECT_TRUE(waitForScreen(QStringLiteral("agents$ zebra42")));
}

TEST_F(MouseOnX11, CtrlShiftFFindsAWordInTheScrollbackAndScrollsToIt) {
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/sh"));
    veldatron::Terminal& emulator = terminal().terminal();
    const veldatron::Buffer& buffer = emulator.buffer();
    type(QStringLiteral("echo find-me-77; seq 1 300"));
    keys({"Return"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("300\nagents$")));
    ASSERT_EQ(buffer.yDisp(), buffer.yBase()) << "the view shows the newest lines";

    keys({"ctrl+shift+f"});
    ASSERT_TRUE(waitUntil(
        [&] { return terminal().findBar() != nullptr && terminal().findBar()->isVisible(); }));
    type(QStringLiteral("find-me-77"));
    ASSERT_TRUE(
        waitUntil([&] { return terminal().getSelection() == QStringLiteral("find-me-77"); }));
    const int64_t row = terminal().selection().start().row;
    EXPECT_LT(buffer.yDisp(), buffer.yBase()) << "scrolled back";
    EXPECT_GE(row, buffer.yDisp());
    EXPECT_LT(row, buffer.yDisp() + emulator.rows()) << "the match is on screen";

    keys({"Escape"});
    EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == &terminal(); }));
}

} // namespace
