// bench-caret: the cost of an idle terminal view whose caret blinks, against one whose caret is
// steady: process CPU time and paint events (of the terminal view and of the caret) per second
// of a shown, focused 120 x 40 view with a screen of text, while nothing else happens.
//
//   QT_QPA_PLATFORM=offscreen bench-caret [seconds]      (or under Xvfb, for a real X server)
//
// The aim: blinking costs about what a steady caret does, and repaints no row of the terminal.

#include "BenchView.h"
#include "CaretView.h"
#include "TerminalView.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using bench_screens::makeView;
using veldatron::TerminalView;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

// Runs the event loop for `ms` milliseconds.
void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const auto ownedView = makeView();
    TerminalView& view = *ownedView;
    view.resize(1100, 730);
    view.show();
    view.activateWindow();
    for (int i = 0; i < 100 && !view.isActiveWindow(); ++i) {
        wait(20);
    }
    if (!view.isActiveWindow()) {
        std::fprintf(stderr, "bench-caret: the window never became active\n");
        return 1;
    }
    view.setFocus();
    std::string screen;
    for (int row = 0; row < 39; ++row) {
        screen += "line " + std::to_string(row) + " of an idle screen, with some text on it\r\n";
    }
    screen += "$ ";
    view.feed(QString::fromStdString(screen));
    wait(200);

    std::printf("bench-caret: 120x40 view, %d s idle per caret style\n", seconds);
    for (const char* style : {"\x1b[1 q", "\x1b[2 q"}) {
        view.feed(QString::fromLatin1(style));
        wait(200);
        PaintCounter viewPaints(view);
        PaintCounter caretPaints(view.caretView());
        const double start = cpuSeconds();
        wait(seconds * 1000);
        const double cpu = cpuSeconds() - start;
        std::printf("  %-14s CPU %6.1f ms/s  view paints %6.1f/s  caret paints %6.1f/s\n",
                    view.caretView().isBlinking() ? "blinking block" : "steady block",
                    1000 * cpu / seconds, double(viewPaints.count) / seconds,
                    double(caretPaints.count) / seconds);
    }
    return 0;
}
