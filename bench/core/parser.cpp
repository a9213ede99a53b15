// Parser throughput per workload with a null sink: the parse loop the terminal runs, compiled here
// for a sink whose every call (plain lines included) does nothing, so the figures are the
// parser's own cost.
//   bench-parser [FOLDER]   workloads from FOLDER/NAME.vt (see workloads/gen-workloads),
//                           else generated in memory
// Input arrives in 128 KiB chunks, the size of one pseudo-terminal read.

#include "DcsHandler.h"
#include "EscapeSequenceParserImpl.h"
#include "Workloads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::span<const std::uint8_t>;

class NullDcs : public veldatron::DcsHandler {
public:
    void hook(Bytes, const veldatron::ParserParams&, std::uint8_t) override {}
    void put(Bytes) override {}
    void unhook() override {}
};

// Keeps the optimiser from dropping work whose result nobody reads.
volatile std::size_t sink;

struct NullSink {
    void handlePrint(Bytes run, bool) { sink = run.size(); }
    void feedPlainLines(veldatron::PlainLines& lines) {
        for (; lines.available(); lines.pop()) {
            sink = lines.front().size();
        }
    }
    void resetPrintState() {}
    void execute(std::uint8_t code) { sink = code; }
    void dispatchEsc(const veldatron::SequenceId& s) { sink = s.id; }
    void dispatchCsi(const veldatron::SequenceId& s, const veldatron::ParserParams&) {
        sink = s.id;
    }
    void dispatchOsc(std::int64_t code, Bytes) { sink = static_cast<std::size_t>(code); }
};

double secondsToParse(const std::string& data) {
    constexpr std::size_t chunk = 128 * 1024;
    NullDcs dcs;
    NullSink nullSink;
    veldatron::BasicEscapeSequenceParser<NullSink> parser(nullSink);
    parser.kittyGraphicsHandler = [](Bytes payload) { sink = payload.size(); };
    parser.sixelDcsHandler = &dcs;
    parser.decrqssDcsHandler = &dcs;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const auto start = Clock::now();
    for (std::size_t at = 0; at < data.size(); at += chunk) {
        parser.parse(Bytes(bytes + at, std::min(chunk, data.size() - at)));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best of several trials of at least 0.2 s each.
double megabytesPerSecond(const std::string& data) {
    double best = 0;
    for (int trial = 0; trial < 7; ++trial) {
        double seconds = 0;
        std::size_t bytes = 0;
        while (seconds < 0.2) {
            seconds += secondsToParse(data);
            bytes += data.size();
        }
        best = std::max(best, static_cast<double>(bytes) / seconds / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : nullptr;
    std::printf("%-14s %10s %10s\n", "workload", "bytes", "MB/s");
    for (const bench::Workload& w : bench::workloads()) {
        std::string data;
        if (folder != nullptr) {
            const std::string path = std::string(folder) + "/" + w.name + ".vt";
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else {
            data = w.generate(4u << 20);
        }
        std::printf("%-14s %10zu %10.0f\n", w.name, data.size(), megabytesPerSecond(data));
        std::fflush(stdout);
    }
    return 0;
}
