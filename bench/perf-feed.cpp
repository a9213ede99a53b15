// End-to-end throughput of the terminal core: parser, handlers and screen, as a display drives
// them, on one workload file (bench/core/workloads/gen-workloads writes the standard ones).
//
//   perf-feed FILE [--cols N] [--rows N] [--scrollback N] [--chunk BYTES]
//             [--min-seconds S] [--warmup-seconds S]
//
// The file is read whole into memory and fed to one terminal (the other options at their
// defaults) whose host discards replies and notifications; synchronized output never times out.
// After a warm-up, whole passes over the file are timed, each a loop of feed calls of --chunk
// bytes, the terminal never reset between passes, and after every call the dirty-row range is
// taken and cleared as a display would. Passes go on until one ends with at least --min-seconds
// elapsed. One line is printed:
//
//   impl=ours-<hash> workload=<name> bytes=<size x passes> passes=<P> seconds=<s> MBps=<MB/s>
//   cols=<N> rows=<N> scrollback=<N> chunk=<N> sb_pushed=<lines into the scrollback per pass>
//
// Bad options, or a file that cannot be read or is empty: a message on stderr, exit status 2.

#include "Revision.h"
#include "Terminal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

// Discards everything: the figure is the terminal's own cost.
class DiscardingHost final : public veldatron::TerminalDelegate {
public:
    void send(veldatron::Terminal&, std::span<const uint8_t>) override {}
};

struct Settings {
    std::string file;
    long cols = 120;
    long rows = 40;
    long scrollback = 10000;
    long chunk = 65536;
    double minSeconds = 1.0;
    double warmupSeconds = 0.25;
};

[[noreturn]] void usage(const char* message = nullptr) {
    if (message != nullptr) {
        std::fprintf(stderr, "perf-feed: %s\n", message);
    }
    std::fprintf(stderr, "usage: perf-feed FILE [--cols N] [--rows N] [--scrollback N] "
                         "[--chunk BYTES] [--min-seconds S] [--warmup-seconds S]\n");
    std::exit(2);
}

std::optional<long> parseCount(std::string_view text, long min, long max) {
    if (text.empty()) {
        return std::nullopt;
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (max - (c - '0')) / 10) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < min) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseSeconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value >= 0) || value > 3600) {
        return std::nullopt;
    }
    return value;
}

Settings parseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            if (!settings.file.empty()) {
                usage("more than one FILE");
            }
            settings.file = arg;
            continue;
        }
        if (i + 1 >= argc) {
            usage(("missing value for " + arg).c_str());
        }
        const std::string value = argv[++i];
        std::optional<long> count;
        std::optional<double> seconds;
        if (arg == "--cols" && (count = parseCount(value, 2, 10000))) {
            settings.cols = *count;
        } else if (arg == "--rows" && (count = parseCount(value, 1, 10000))) {
            settings.rows = *count;
        } else if (arg == "--scrollback" && (count = parseCount(value, 0, 10'000'000))) {
            settings.scrollback = *count;
        } else if (arg == "--chunk" && (count = parseCount(value, 1, 1L << 30))) {
            settings.chunk = *count;
        } else if (arg == "--min-seconds" && (seconds = parseSeconds(value))) {
            settings.minSeconds = *seconds;
        } else if (arg == "--warmup-seconds" && (seconds = parseSeconds(value))) {
            settings.warmupSeconds = *seconds;
        } else {
            usage(("bad option " + arg + " " + value).c_str());
        }
    }
    if (settings.file.empty()) {
        usage();
    }
    return settings;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "perf-feed: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "perf-feed: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    if (data.empty()) {
        std::fprintf(stderr, "perf-feed: %s is empty\n", path.c_str());
        std::exit(2);
    }
    return data;
}

// Keeps the dirty-range reads from being optimised away.
volatile long g_sink;

class Feeder {
public:
    Feeder(veldatron::Terminal& terminal, std::string_view data, size_t chunk)
        : m_terminal(terminal), m_data(data), m_chunk(chunk) {}

    // Feeds one chunk from `offset`; returns the offset after it.
    size_t feedChunk(size_t offset) {
        const size_t n = std::min(m_chunk, m_data.size() - offset);
        m_terminal.feed(m_data.substr(offset, n));
        // A display reads the rows to draw and marks them drawn.
        if (const auto range = m_terminal.getUpdateRange()) {
            g_sink = range->startY + range->endY;
        }
        m_terminal.clearUpdateRange();
        return offset + n;
    }

    void pass() {
        for (size_t offset = 0; offset < m_data.size();) {
            offset = feedChunk(offset);
        }
    }

private:
    veldatron::Terminal& m_terminal;
    std::string_view m_data;
    size_t m_chunk;
};

// Lines that have left the top of the normal screen into its scrollback so far.
int64_t scrollbackPushed(veldatron::Terminal& terminal) {
    veldatron::Buffer& normal = terminal.normalBuffer();
    return normal.linesTop + normal.yBase();
}

} // namespace

int main(int argc, char** argv) {
    const Settings settings = parseArguments(argc, argv);
    const std::string data = readFile(settings.file);

    veldatron::TerminalOptions options;
    options.cols = int(settings.cols);
    options.rows = int(settings.rows);
    options.scrollback = int(settings.scrollback);
    DiscardingHost host;
    veldatron::Terminal terminal(&host, options);
    Feeder feeder(terminal, data, size_t(settings.chunk));

    const auto secondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };

    const auto warmupStart = Clock::now();
    for (size_t offset = 0; secondsSince(warmupStart) < settings.warmupSeconds;) {
        offset = feeder.feedChunk(offset);
        if (offset == data.size()) {
            offset = 0;
        }
    }

    const int64_t pushedBefore = scrollbackPushed(terminal);
    long passes = 0;
    double seconds = 0;
    const auto start = Clock::now();
    do {
        feeder.pass();
        ++passes;
        seconds = secondsSince(start);
    } while (seconds < settings.minSeconds);
    const int64_t pushed = scrollbackPushed(terminal) - pushedBefore;

    const double bytes = double(data.size()) * double(passes);
    const std::string workload = std::filesystem::path(settings.file).stem().string();
    std::printf("impl=ours-%s workload=%s bytes=%.0f passes=%ld seconds=%.6f MBps=%.2f cols=%ld "
                "rows=%ld scrollback=%ld chunk=%ld sb_pushed=%lld\n",
                PERF_FEED_REVISION, workload.c_str(), bytes, passes, seconds, bytes / seconds / 1e6,
                settings.cols, settings.rows, settings.scrollback, settings.chunk,
                static_cast<long long>((pushed + passes / 2) / passes));
    return 0;
}
