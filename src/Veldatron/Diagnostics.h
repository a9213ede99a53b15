#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace veldatron {

// One place in the core that prints a diagnostic line to standard output whatever the log
// setting (the ring's "Assertion at start=" line, a row's out-of-range write). Such lines are
// reached from program output, so a stream that repeats the fault must neither flood the log nor
// stall the terminal on a full pipe: each site lets a burst of lines through, then one per
// interval, counts what it holds back and says so before its next line; a line that cannot be
// written at once is dropped.
//
// Sites are static objects, one per place in the code; they are safe to share between threads.
class DiagnosticSite {
public:
    static constexpr int burst = 10;
    static constexpr std::chrono::milliseconds interval{1000};

    constexpr DiagnosticSite() = default;
    DiagnosticSite(const DiagnosticSite&) = delete;
    DiagnosticSite& operator=(const DiagnosticSite&) = delete;

    // Writes the line and a newline, unless the site is over its rate.
    void emit(std::string_view line);

private:
    std::mutex m_lock;
    bool m_started = false;
    int m_tokens = 0;
    std::chrono::steady_clock::time_point m_lastRefill{};
    uint64_t m_suppressed = 0;
};

// Writes one line now, whatever the rate: for lines a user turned on, such as a child's reads and
// writes or the terminal's "Info: " lines while its silentLog is off. Never blocks; false when
// the line could not be written at once.
bool writeDiagnosticLine(std::string_view line);

// Where diagnostic lines go and what time it is; tests replace both.
struct DiagnosticHooks {
    std::chrono::steady_clock::time_point (*now)() = nullptr;
    // Receives one line without its newline; returns false when it could not take the line.
    bool (*write)(std::string_view line) = nullptr;
};

// Installs hooks (null members restore the defaults: the steady clock and a non-blocking write to
// standard output) and returns the previous ones.
DiagnosticHooks setDiagnosticHooks(DiagnosticHooks hooks);

} // namespace veldatron
