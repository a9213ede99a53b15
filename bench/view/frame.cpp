// bench-frame: full frames of a 120 x 40 terminal view painted with QPainter into an image, in
// frames per second, for screens of plain text, densely coloured text (a new foreground and
// background every few cells, some of it bold, underlined or in true colour), wide characters,
// box drawing and block elements in every cell (all drawn as shapes), and paragraphs of mixed
// Arabic, Hebrew and English (laid out right to left, shaped; once with the layout caches warm
// as in steady redrawing, once laying every paragraph out anew), a picture as wide as the screen
// and one row short of its height under a screen of text (a kitty image below the text); and the
// cost the view adds to feeding output (parse + dirty-row bookkeeping).
//
//   QT_QPA_PLATFORM=offscreen bench-frame [frames [screen...]]
//
// Screens are named as printed ("box drawing"); naming some runs only those, without the feed.
//
// The aim is a whole frame in under 4 ms. Fonts come from fontconfig: DejaVu Sans Mono, as in
// the tests.

#include "BenchView.h"
#include "TerminalBidi.h"
#include "TerminalView.h"
#include "TextDecoding.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using veldatron::TerminalView;

namespace {

using namespace bench_screens;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A kitty graphics picture of `width` x `height` pixels of smooth colour, placed at the top left
// under the text, over a screen of plain text.
std::string imageScreen(int width, int height) {
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), {uint8_t(x * 255 / width), uint8_t(y * 255 / height),
                                         uint8_t((x + y) % 256), 255});
        }
    }
    return plainScreen() + "\x1b[H\x1b_Ga=T,f=32,q=2,z=-1,C=1,s=" + std::to_string(width) +
           ",v=" + std::to_string(height) + ";" + veldatron::TextDecoding::base64Encode(pixels) +
           "\x1b\\";
}

struct Result {
    double msPerFrame;
    double fps;
};

// `cold`: the bidirectional layout caches are emptied before every frame.
Result paintFrames(TerminalView& view, const std::string& screen, int frames, bool cold = false) {
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
        if (cold) {
            veldatron::TerminalBidi::clearCaches();
        }
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

    const auto ownedView = makeView();
    TerminalView& view = *ownedView;
    fitToCells(view);
    const QSizeF cell = view.cellDimension();
    std::printf("bench-frame: %dx%d cells of %.0fx%.0f px (%dx%d px), %d frames each\n",
                view.terminal().cols(), view.terminal().rows(), cell.width(), cell.height(),
                view.width(), view.height(), frames);

    struct Screen {
        const char* name;
        std::string bytes;
        bool cold;
    };
    const Screen screens[] = {
        {"plain text", plainScreen(), false},
        {"dense colour", colourScreen(), false},
        {"mixed widths", mixedScreen(), false},
        {"box drawing", boxScreen(), false},
        {"right to left", rightToLeftScreen(), false},
        {"rtl, no cache", rightToLeftScreen(), true},
        {"wide image",
         imageScreen(int(std::lround(cols * cell.width())),
                     int(std::lround((rows - 1) * cell.height()))),
         false},
    };
    const auto chosen = [&](const Screen& screen) {
        if (argc <= 2) {
            return true;
        }
        for (int i = 2; i < argc; ++i) {
            if (std::string_view(argv[i]) == screen.name) {
                return true;
            }
        }
        return false;
    };
    for (const Screen& screen : screens) {
        if (!chosen(screen)) {
            continue;
        }
        const Result result = paintFrames(view, screen.bytes, frames, screen.cold);
        std::printf("  %-14s %7.3f ms/frame  %8.1f frames/s\n", screen.name, result.msPerFrame,
                    result.fps);
    }

    if (argc > 2) {
        return 0;
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
    veldatron::Terminal bare(nullptr, viewOptions());
    const double bareTerminal = feedRate([&] { bare.feed(bytes); });
    std::printf("  feed           %7.1f MB/s through the view, %7.1f MB/s into a bare terminal\n",
                throughView, bareTerminal);
    return 0;
}
