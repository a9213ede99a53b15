// bench-frame: full frames of a 120 x 40 terminal view painted with QPainter into an image, in
// frames per second, for screens of plain text, densely coloured text (a new foreground and
// background every few cells, some of it bold, underlined or in true colour) and wide
// characters; and the cost the view adds to feeding output (parse + dirty-row bookkeeping).
//
//   QT_QPA_PLATFORM=offscreen bench-frame [frames]
//
// The aim is a whole frame in under 4 ms. Fonts come from fontconfig: DejaVu Sans Mono, as in
// the tests.

#include "TerminalView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using veldatron::TerminalOptions;
using veldatron::TerminalView;

namespace {

constexpr int cols = 120;
constexpr int rows = 40;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A screen of printable ASCII in the default colours.
std::string plainScreen() {
    std::string out = "\x1b[H";
    std::mt19937 random(1);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            out += char(0x21 + random() % 94);
        }
        if (r + 1 < rows) {
            out += "\r\n";
        }
    }
    return out;
}

// Every 1-4 cells a new foreground and background (palette or true colour), with bold,
// italic and underlined stretches: the worst case for runs.
std::string colourScreen() {
    std::string out = "\x1b[H";
    std::mt19937 random(2);
    for (int r = 0; r < rows; ++r) {
        int c = 0;
        while (c < cols) {
            const int n = 1 + int(random() % 4);
            switch (random() % 6) {
            case 0:
                out += "\x1b[0;38;2;" + std::to_string(random() % 256) + ";" +
                       std::to_string(random() % 256) + ";" + std::to_string(random() % 256) +
                       ";48;5;" + std::to_string(random() % 256) + "m";
                break;
            case 1:
                out += "\x1b[0;1;3" + std::to_string(random() % 8) + ";4" +
                       std::to_string(random() % 8) + "m";
                break;
            case 2:
                out += "\x1b[0;4;38;5;" + std::to_string(random() % 256) + "m";
                break;
            case 3:
                out += "\x1b[0;3;9" + std::to_string(random() % 8) + "m";
                break;
            default:
                out += "\x1b[0;38;5;" + std::to_string(random() % 256) + ";48;5;" +
                       std::to_string(random() % 256) + "m";
                break;
            }
            for (int k = 0; k < n && c < cols; ++k, ++c) {
                out += char(0x21 + random() % 94);
            }
        }
        out += "\x1b[0m";
        if (r + 1 < rows) {
            out += "\r\n";
        }
    }
    return out;
}

// Box drawing, accented letters and two-column characters mixed with ASCII.
std::string mixedScreen() {
    static const char* const pieces[] = {
        "\xe2\x94\x80", "\xc3\xa9", "\xe4\xb8\xad", "a", "\xe2\x86\x92", "\xce\xbb", "x", "#"};
    std::string out = "\x1b[H";
    std::mt19937 random(3);
    for (int r = 0; r < rows; ++r) {
        out += "\x1b[" + std::to_string(r + 1) + ";1H";
        for (int c = 0; c < cols / 2; ++c) {
            out += pieces[random() % 8];
        }
    }
    return out;
}

struct Result {
    double msPerFrame;
    double fps;
};

Result paintFrames(TerminalView& view, const std::string& screen, int frames) {
    view.feed(QString::fromUtf8(screen.data(), qsizetype(screen.size())));
    QImage image(view.size(), QImage::Format_RGB32);
    const QRectF all(view.rect());
    const auto paint = [&] {
        QPainter painter(&image);
        view.drawTerminalContents(all, painter, view.terminal().buffer().yDisp());
    };
    for (int i = 0; i < 5; ++i) {
        paint(); // caches warm: attributes, colours, glyphs
    }
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        paint();
    }
    const double ms = msSince(start) / frames;
    return {ms, 1000.0 / ms};
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(15);
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = rows;
    TerminalView view(nullptr, font, options);
    const QSizeF cell = view.cellDimension();
    view.resize(int(std::ceil(cols * cell.width())) + view.scroller()->sizeHint().width(),
                int(std::ceil(rows * cell.height())));
    view.processSizeChange(QSizeF(view.size()));
    std::printf("bench-frame: %dx%d cells of %.0fx%.0f px (%dx%d px), %d frames each\n",
                view.terminal().cols(), view.terminal().rows(), cell.width(), cell.height(),
                view.width(), view.height(), frames);

    const std::pair<const char*, std::string> screens[] = {
        {"plain text", plainScreen()},
        {"dense colour", colourScreen()},
        {"mixed widths", mixedScreen()},
    };
    for (const auto& [name, screen] : screens) {
        const Result result = paintFrames(view, screen, frames);
        std::printf("  %-14s %7.3f ms/frame  %8.1f frames/s\n", name, result.msPerFrame,
                    result.fps);
    }

    // Feeding: the same bytes through the view (parse, then the display bookkeeping) and into a
    // bare terminal.
    std::string stream;
    for (int i = 0; i < 200; ++i) {
        stream += colourScreen();
        stream += "\r\nline of output " + std::to_string(i) + "\r\n";
    }
    const auto feedRate = [&](auto&& feed) {
        const auto start = Clock::now();
        int rounds = 0;
        while (msSince(start) < 500) {
            feed();
            ++rounds;
        }
        return double(stream.size()) * rounds / (msSince(start) / 1000.0) / 1e6;
    };
    const std::span bytes(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
    const double throughView = feedRate([&] { view.feed(bytes); });
    veldatron::Terminal bare(nullptr, options);
    const double bareTerminal = feedRate([&] { bare.feed(bytes); });
    std::printf("  feed           %7.1f MB/s through the view, %7.1f MB/s into a bare terminal\n",
                throughView, bareTerminal);
    return 0;
}
