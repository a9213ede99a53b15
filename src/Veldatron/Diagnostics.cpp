#include "Diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace veldatron {

namespace {

std::chrono::steady_clock::time_point steadyNow() {
    return std::chrono::steady_clock::now();
}

// A write that never waits: when standard output is a pipe nobody drains, the line is lost rather
// than the terminal's thread.
bool writeStdout(std::string_view line) {
    pollfd fd{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&fd, 1, 0) != 1 || (fd.revents & POLLOUT) == 0) {
        return false;
    }
    std::string text(line);
    text.push_back('\n');
    ssize_t written;
    do {
        written = ::write(STDOUT_FILENO, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == ssize_t(text.size());
}

std::atomic<std::chrono::steady_clock::time_point (*)()> g_now{&steadyNow};
std::atomic<bool (*)(std::string_view)> g_write{&writeStdout};

} // namespace

bool writeDiagnosticLine(std::string_view line) {
    return g_write.load()(line);
}

DiagnosticHooks setDiagnosticHooks(DiagnosticHooks hooks) {
    DiagnosticHooks previous{g_now.load(), g_write.load()};
    g_now.store(hooks.now ? hooks.now : &steadyNow);
    g_write.store(hooks.write ? hooks.write : &writeStdout);
    return previous;
}

void DiagnosticSite::emit(std::string_view line) {
    std::lock_guard lock(m_lock);
    const auto now = g_now.load()();
    if (!m_started) {
        m_started = true;
        m_tokens = burst;
        m_lastRefill = now;
    } else if (now > m_lastRefill) {
        const auto periods = (now - m_lastRefill) / interval;
        if (periods > 0) {
            m_tokens = periods >= burst ? burst : std::min<int>(burst, m_tokens + int(periods));
            m_lastRefill += periods * interval;
        }
    }
    if (m_tokens == 0) {
        ++m_suppressed;
        return;
    }
    --m_tokens;
    const auto write = g_write.load();
    if (m_suppressed > 0) {
        const std::string note =
            "Info: " + std::to_string(m_suppressed) + " similar diagnostic lines suppressed";
        if (write(note)) {
            m_suppressed = 0;
        }
    }
    if (!write(line)) {
        ++m_suppressed;
    }
}

} // namespace veldatron
