#pragma once

// The virtual clock of a manual executor as the frame coordinator's clock, in seconds, so that
// a test advances coordinator time and its timers together.

#include "ManualExecutor.h"
#include "MetalRecovery.h"

#include <chrono>

namespace veldatron::testing {

class ExecutorClock final : public MetalRecoveryClock {
public:
    explicit ExecutorClock(const ManualExecutor& executor) : m_executor(executor) {}
    double now() const override
    {
        return std::chrono::duration<double>(m_executor.now()).count();
    }

private:
    const ManualExecutor& m_executor;
};

} // namespace veldatron::testing
