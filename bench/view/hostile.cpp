// bench-hostile: throughput of the paths that hostile input has made slow, on that input.
//
//   QT_QPA_PLATFORM=offscreen bench-hostile [paste-KiB] [rectangle-KiB]
//
// Paste: a bracketed paste through the view (insertText with the paste flag, bracketed paste
// mode on) of text whose markers nest: "\e[20" x k, "\e[201~", "1~" x k, where removing each
// marker puts the next one together; and, for comparison, a paste of plain text of the same
// size. Figures in MB/s of pasted text, for a few sizes up to paste-KiB (default 1024).
//
// Rectangles: a 400 x 120 terminal filled by DECALN, fed a stream of one rectangle operation
// over the whole screen repeated to rectangle-KiB (default 1024) of bytes: DECCRA copying the
// screen one cell down and right, DECSERA, DECRQCRA (trusted, so the checksum is computed),
// DECFRA and DECERA. Each stream is fed whole and in 64 KiB reads; the figures are MB/s of the
// stream and the longest single 64 KiB read, which is what the main thread spends at once.

#include "Terminal.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

using veldatron::Terminal;
using veldatron::TerminalOptions;
using veldatron::TerminalView;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class DiscardingViewHost final : public veldatron::TerminalViewDelegate {
public:
    void sizeChanged(TerminalView&, int, int) override {}
    void setTerminalTitle(TerminalView&, const QString&) override {}
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<QString>&) override {}
    void send(TerminalView&, std::span<const uint8_t> data) override { bytes += data.size(); }
    void scrolled(TerminalView&, double) override {}
    void rangeChanged(TerminalView&, int, int) override {}
    size_t bytes = 0;
};

class DiscardingHost final : public veldatron::TerminalDelegate {
public:
    void send(Terminal&, std::span<const uint8_t>) override {}
};

QString nestedMarkers(qsizetype size) {
    const qsizetype k = std::max<qsizetype>(0, (size - 6) / 6);
    return QStringLiteral("\x1b[20").repeated(k) + QStringLiteral("\x1b[201~") +
           QStringLiteral("1~").repeated(k);
}

void benchPaste(TerminalView& view, const DiscardingViewHost& host, qsizetype maxKiB) {
    view.feed(QStringLiteral("\x1b[?2004h"));
    std::printf("bracketed paste through the view\n");
    for (qsizetype kib = 16; kib <= maxKiB; kib *= 4) {
        const QString hostile = nestedMarkers(kib * 1024);
        const QString plain =
            QStringLiteral("ls -l; echo pasted text\n").repeated(hostile.size() / 24);
        double rates[2];
        const QString* texts[2] = {&hostile, &plain};
        for (int i = 0; i < 2; ++i) {
            const auto start = Clock::now();
            int rounds = 0;
            do {
                view.insertText(*texts[i], true);
                ++rounds;
            } while (secondsSince(start) < 0.3);
            rates[i] = double(texts[i]->size()) * rounds / secondsSince(start) / 1e6;
        }
        std::printf("  %5lld KiB  nested markers %10.3f MB/s   plain text %8.1f MB/s\n",
                    static_cast<long long>(kib), rates[0], rates[1]);
    }
    if (host.bytes == 0) {
        std::printf("  (nothing was sent)\n");
    }
}

struct FeedResult {
    double mbps;
    double longestReadMs;
};

FeedResult feedStream(Terminal& terminal, const std::string& stream, size_t chunk) {
    terminal.feed(std::string_view("\x1b#8"));
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    double longest = 0;
    const auto start = Clock::now();
    for (size_t at = 0; at < stream.size(); at += chunk) {
        const auto readStart = Clock::now();
        terminal.feed(std::span(bytes + at, std::min(chunk, stream.size() - at)));
        longest = std::max(longest, secondsSince(readStart) * 1000);
    }
    return {double(stream.size()) / secondsSince(start) / 1e6, longest};
}

void benchRectangles(size_t kib) {
    TerminalOptions options;
    options.cols = 400;
    options.rows = 120;
    options.scrollback = 0;
    DiscardingHost host;
    const std::pair<const char*, std::string> operations[] = {
        {"DECCRA", "\x1b[1;1;65535;65535;1;2;2;1$v"}, {"DECSERA", "\x1b[1;1;65535;65535${"},
        {"DECRQCRA", "\x1b[1;1;1;1;65535;65535*y"},   {"DECFRA", "\x1b[88;1;1;65535;65535$x"},
        {"DECERA", "\x1b[1;1;65535;65535$z"},
    };
    std::printf("rectangles over a %dx%d screen, %zu KiB of one operation\n", options.cols,
                options.rows, kib);
    for (const auto& [name, operation] : operations) {
        std::string stream;
        while (stream.size() + operation.size() <= kib * 1024) {
            stream += operation;
        }
        Terminal whole(&host, options);
        const FeedResult fedWhole = feedStream(whole, stream, stream.size());
        Terminal inReads(&host, options);
        const FeedResult fedInReads = feedStream(inReads, stream, 64 * 1024);
        std::printf("  %-9s whole %9.2f MB/s   64 KiB reads %9.2f MB/s, longest read %8.1f ms\n",
                    name, fedWhole.mbps, fedInReads.mbps, fedInReads.longestReadMs);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const qsizetype pasteKiB = argc > 1 ? std::max(16, std::atoi(argv[1])) : 1024;
    const size_t rectangleKiB = argc > 2 ? size_t(std::max(1, std::atoi(argv[2]))) : 1024;

    DiscardingViewHost host;
    TerminalView view(nullptr, QFont(QStringLiteral("DejaVu Sans Mono")),
                      TerminalView::defaultStartupOptions());
    view.setTerminalDelegate(&host);
    benchPaste(view, host, pasteKiB);
    benchRectangles(rectangleKiB);
    return 0;
}
