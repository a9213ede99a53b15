#pragma once

#include "Diagnostics.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron::testing {

// Collects the core's diagnostic lines for the lifetime of the object instead of printing them.
// Its clock advances an hour per line, so rate limiting never holds a line back unless a test
// sets `frozen` to stop the clock.
class DiagnosticsCapture {
public:
    DiagnosticsCapture() {
        lines().clear();
        frozen() = false;
        m_previous = setDiagnosticHooks({&now, &write});
    }
    ~DiagnosticsCapture() { setDiagnosticHooks(m_previous); }
    DiagnosticsCapture(const DiagnosticsCapture&) = delete;
    DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

    const std::vector<std::string>& captured() const { return lines(); }
    void freeze(bool on) { frozen() = on; }
    void advance(std::chrono::milliseconds by) { clock() += by; }

private:
    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }
    static bool& frozen() {
        static bool value = false;
        return value;
    }
    static std::chrono::steady_clock::time_point& clock() {
        static std::chrono::steady_clock::time_point value{};
        return value;
    }
    static std::chrono::steady_clock::time_point now() {
        if (!frozen()) {
            clock() += std::chrono::hours(1);
        }
        return clock();
    }
    static bool write(std::string_view line) {
        lines().emplace_back(line);
        return true;
    }

    DiagnosticHooks m_previous;
};

} // namespace veldatron::testing
