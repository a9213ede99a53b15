// The application as its main() builds it, on a real X server: the hub is the fake `cavrel`
// program, started by the application itself; an agent button opens a tab whose terminal runs
// the login shell in the project folder and types the agent command into it.

#include "AgentTabOnX11.h"

#include <QApplication>

#include <utility>

#include <sys/ioctl.h>

using cavrel::test::terminalText;
using cavrel::test::waitUntil;

namespace {

using ApplicationOnX11 = cavrel::test::AgentTabOnX11;

TEST_F(ApplicationOnX11, AnAgentButtonRunsTheLoginShellAndTypesTheAgentCommand) {
    ASSERT_NO_FATAL_FAILURE(openAgentTab("/bin/sh"));
    veldatron::LocalProcessTerminalView* terminal = &this->terminal();
    // The agent ran in the project folder.
    const QString notice =
        "fake-cavrel: no real agent here (would run 'claude' in " + project + ")";
    EXPECT_TRUE(terminalText(*terminal).contains(notice)) << terminalText(*terminal).toStdString();

    // The shell runs on a pseudo-terminal of the view's size, which follows the window.
    veldatron::Terminal& emulator = terminal->terminal();
    const auto ptySize = [&] {
        winsize size{};
        ::ioctl(terminal->process().childfd(), TIOCGWINSZ, &size);
        return std::pair(int(size.ws_col), int(size.ws_row));
    };
    const auto inStep = [&] { return ptySize() == std::pair(emulator.cols(), emulator.rows()); };
    ASSERT_TRUE(waitUntil(inStep));
    EXPECT_GT(emulator.cols(), 80) << "laid out in the wide window";
    const int wide = emulator.cols();
    window->resize(1000, 600);
    ASSERT_TRUE(waitUntil([&] { return emulator.cols() < wide && inStep(); }));
    // What the shell itself reads.
    const QString size = QString::number(emulator.rows()) + " " + QString::number(emulator.cols());
    terminal->send(QStringLiteral("stty size\n"));
    EXPECT_TRUE(waitUntil([&] { return terminalText(*terminal).contains("\n" + size + "\n"); }))
        << terminalText(*terminal).toStdString();

    // Painted on screen: the prompt's row is not all background.
    const QImage picture = terminal->grab().toImage();
    const QColor background = picture.pixelColor(picture.width() / 2, picture.height() - 2);
    bool inked = false;
    for (int x = 0; x < picture.width() / 2 && !inked; ++x) {
        for (int y = 0; y < int(terminal->cellDimension().height()) && !inked; ++y) {
            inked = picture.pixelColor(x, y) != background;
        }
    }
    EXPECT_TRUE(inked);
}

} // namespace
