// Output throughput and keystroke round trip of a child on a pseudo-terminal, as a host with a
// headless run loop sees them: MB/s of a child flooding a raw terminal (delivered in paced passes
// with back-pressure), and the time from `send` of one byte until `cat` has echoed it back.
//
//   bench-pty_throughput [MiB] [round trips]     (defaults: 1024 MiB, 20000)
#include "LocalProcess.h"
#include "LoopExecutor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace veldatron;
using Clock = std::chrono::steady_clock;

namespace {

class Counter final : public LocalProcessDelegate {
public:
    void processTerminated(LocalProcess&, std::optional<std::int32_t>) override { ended = true; }
    void dataReceived(std::span<const std::uint8_t> slice) override {
        bytes += slice.size();
        ++deliveries;
    }
    winsize getWindowSize() override { return winsize{25, 80, 0, 0}; }

    std::uint64_t bytes = 0;
    std::uint64_t deliveries = 0;
    bool ended = false;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int roundTrips = argc > 2 ? std::atoi(argv[2]) : 20000;
    LoopExecutor loop;

    {
        Counter host;
        LocalProcess process(&host, loop);
        const std::string script =
            "stty raw -echo; exec head -c " + std::to_string(mebibytes << 20) + " /dev/zero";
        const auto start = Clock::now();
        process.startProcess("/bin/sh", {"-c", script});
        loop.runUntil([&] { return host.ended; });
        const double elapsed = seconds(Clock::now() - start);
        std::printf("output: %llu MiB in %.3f s = %.1f MB/s, %llu deliveries (%.1f KiB each)\n",
                    static_cast<unsigned long long>(host.bytes >> 20), elapsed,
                    static_cast<double>(host.bytes) / elapsed / 1e6,
                    static_cast<unsigned long long>(host.deliveries),
                    static_cast<double>(host.bytes) / static_cast<double>(host.deliveries) / 1024);
    }

    {
        Counter host;
        LocalProcess process(&host, loop);
        process.startProcess("/bin/sh", {"-c", "stty raw -echo; printf R; exec cat"});
        loop.runUntil([&] { return host.bytes == 1; });
        const std::uint8_t key = 'x';
        const auto start = Clock::now();
        for (int i = 0; i < roundTrips; ++i) {
            const std::uint64_t expected = host.bytes + 1;
            process.send(std::span<const std::uint8_t>(&key, 1));
            loop.runUntil([&] { return host.bytes == expected; });
        }
        const double elapsed = seconds(Clock::now() - start);
        std::printf("round trip: %d keys in %.3f s = %.1f us each\n", roundTrips, elapsed,
                    elapsed / roundTrips * 1e6);
        process.terminate();
    }
    return 0;
}
