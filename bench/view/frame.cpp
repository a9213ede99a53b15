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

#include "TerminalBidi.h"
#include "TerminalView.h"
#include "TextDecoding.h"

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
#include <string_view>
#include <vector>

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

// Every cell a box-drawing character or a block element, in a few colours: frames, joints,
// arcs, dashes, shades and bars.
std::string boxScreen() {
    static const char* const pieces[] = {
        "\xe2\x94\x80", "\xe2\x94\x82", "\xe2\x94\x8c", "\xe2\x94\x90", "\xe2\x94\x94",
        "\xe2\x94\x98", "\xe2\x94\x9c", "\xe2\x94\xa4", "\xe2\x94\xbc", "\xe2\x94\x81",
        "\xe2\x94\x83", "\xe2\x95\x8b", "\xe2\x95\x90", "\xe2\x95\x91", "\xe2\x95\xac",
        "\xe2\x95\xad", "\xe2\x95\xae", "\xe2\x95\xaf", "\xe2\x95\xb0", "\xe2\x94\x84",
        "\xe2\x95\xb3", "\xe2\x96\x88", "\xe2\x96\x84", "\xe2\x96\x92", "\xe2\x96\x8c",
        "\xe2\x96\x9a"};
    std::string out = "\x1b[H";
    std::mt19937 random(4);
    for (int r = 0; r < rows; ++r) {
        out += "\x1b[" + std::to_string(r + 1) + ";1H";
        for (int c = 0; c < cols; ++c) {
            if (c % 16 == 0) {
                out += "\x1b[3" + std::to_string(1 + random() % 7) + "m";
            }
            out += pieces[random() % std::size(pieces)];
        }
    }
    return out + "\x1b[m";
}

// Paragraphs of Arabic, Hebrew, English and digits, each wrapped over one to four rows.
std::string rightToLeftScreen() {
    static const char* const words[] = {
        "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7",                          // marhaba
        "\xd8\xa8\xd8\xa7\xd9\x84\xd8\xb9\xd8\xa7\xd9\x84\xd9\x85",      // bil-alam
        "\xd8\xa7\xd9\x84\xd8\xb3\xd9\x84\xd8\xa7\xd9\x85",                // as-salam
        "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d",                                    // shalom
        "\xd7\xa2\xd7\x95\xd7\x9c\xd7\x9d",                                    // olam
        "terminal", "view", "12345", "(\xd9\x86\xd8\xb5)", "[ok]", "\xd9\x84\xd8\xa7"};
    std::string out = "\x1b[H\x1b[2J";
    std::mt19937 random(5);
    int row = 0;
    while (row < rows) {
        const int paragraphRows = std::min(1 + int(random() % 4), rows - row);
        std::string paragraph;
        int length = 0;
        while (length < paragraphRows * cols - 12) {
            const char* word = words[random() % std::size(words)];
            paragraph += word;
            paragraph += ' ';
            // One column per character: the bytes that do not continue one.
            for (const char* byte = word; *byte != 0; ++byte) {
                length += (uint8_t(*byte) & 0xC0) != 0x80;
            }
            ++length;
        }
        out += "\x1b[" + std::to_string(row + 1) + ";1H" + paragraph;
        row += paragraphRows;
    }
    return out;
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
    veldatron::Terminal bare(nullptr, options);
    const double bareTerminal = feedRate([&] { bare.feed(bytes); });
    std::printf("  feed           %7.1f MB/s through the view, %7.1f MB/s into a bare terminal\n",
                throughView, bareTerminal);
    return 0;
}
