#pragma once

// Waiting for real child processes in tests: always for a condition, with a deadline far beyond
// what any test child needs, so that a slow machine makes a test slower, never wrong.

#include "LoopExecutor.h"

#include <chrono>
#include <functional>
#include <string>

#include <sys/types.h>
#include <unistd.h>

namespace veldatron::testing {

inline constexpr std::chrono::seconds patience{60};

// Whether the process has been reaped (a zombie keeps its /proc entry until then).
inline bool processGone(pid_t pid) {
    return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0;
}

// Runs the loop until `done` holds, checking it every few milliseconds: for conditions that no
// task of the loop brings about (a child reaped by another thread).
inline bool eventually(LoopExecutor& loop, const std::function<bool()>& done) {
    using namespace std::chrono_literals;
    const auto deadline = LoopExecutor::Clock::now() + patience;
    while (!done()) {
        if (LoopExecutor::Clock::now() >= deadline) {
            return false;
        }
        loop.runUntil(LoopExecutor::Clock::now() + 5ms);
    }
    return true;
}

} // namespace veldatron::testing
