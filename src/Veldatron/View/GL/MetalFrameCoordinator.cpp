#include "MetalFrameCoordinator.h"

#include <algorithm>

namespace veldatron {

std::shared_ptr<MetalFrameCoordinator> MetalFrameCoordinator::create(MetalRecoveryClock& clock,
                                                                     MetalRecoveryScheduler& scheduler,
                                                                     Actions actions) {
    return std::shared_ptr<MetalFrameCoordinator>(
        new MetalFrameCoordinator(clock, scheduler, std::move(actions)));
}

MetalFrameCoordinator::MetalFrameCoordinator(MetalRecoveryClock& clock,
                                             MetalRecoveryScheduler& scheduler, Actions actions)
    : m_clock(clock), m_scheduler(scheduler), m_actions(std::move(actions)) {
    if (!m_actions.isRetryEligible) {
        m_actions.isRetryEligible = [] { return true; };
    }
    if (!m_actions.requestDraw) {
        m_actions.requestDraw = [](MetalFrameRefusalReason) {};
    }
    if (!m_actions.requestRecovery) {
        m_actions.requestRecovery = [](const MetalRendererRecoveryReport&) {};
    }
    if (!m_actions.becameIdle) {
        m_actions.becameIdle = [] {};
    }
}

void MetalFrameCoordinator::cancel(std::shared_ptr<MetalRecoveryScheduledTask>& task) {
    if (task) {
        task->cancel();
        task.reset();
    }
}

std::shared_ptr<MetalRecoveryScheduledTask>
MetalFrameCoordinator::scheduleLocked(double delay,
                                      std::function<void(MetalFrameCoordinator&)> fired) {
    return m_scheduler.schedule(delay, [weak = weak_from_this(), fired = std::move(fired)] {
        if (const auto self = weak.lock()) {
            fired(*self);
        }
    });
}

std::optional<MetalFrameCoordinator::Token> MetalFrameCoordinator::beginFrame() {
    std::lock_guard lock(m_lock);
    if (!m_activeFrame) {
        if (m_invalidated) {
            return std::nullopt;
        }
        ActiveFrame frame;
        frame.token = Token{m_nextToken++};
        frame.startedAt = m_clock.now();
        if (m_actions.isRetryEligible()) {
            frame.watchdog = scheduleLocked(frameWatchdogDelay, [token = frame.token](auto& self) {
                self.frameWatchdogFired(token);
            });
        }
        m_activeFrame = std::move(frame);
        return m_activeFrame->token;
    }

    // The frame in flight is drawn over once it ends; meanwhile make sure it is watched, since a
    // frame admitted while the view could not show anything was not.
    ActiveFrame& frame = *m_activeFrame;
    frame.pendingRedraw = true;
    if (!frame.watchdog && !frame.recoveryRequested && !m_invalidated &&
        m_actions.isRetryEligible()) {
        frame.watchdog = scheduleLocked(frameWatchdogDelay, [token = frame.token](auto& self) {
            self.frameWatchdogFired(token);
        });
    }
    scheduleRetryLocked(MetalFrameRefusalReason::activeFrame);
    return std::nullopt;
}

void MetalFrameCoordinator::refuse(Token token, MetalFrameRefusalReason reason) {
    {
        std::lock_guard lock(m_lock);
        if (!m_activeFrame || m_activeFrame->token != token) {
            return;
        }
        cancel(m_activeFrame->watchdog);
        m_activeFrame.reset();
        if (!m_invalidated) {
            startFailureEpisodeLocked(reason);
            scheduleRetryLocked(reason);
        }
    }
    m_actions.becameIdle();
}

void MetalFrameCoordinator::startFailureEpisodeLocked(MetalFrameRefusalReason reason) {
    m_lastFailureReason = reason;
    if (!m_actions.isRetryEligible()) {
        m_failureStartedAt.reset();
        cancel(m_failureWatchdog);
        m_failureRecoveryRequested = false;
        m_retryIndex = 0;
        return;
    }
    if (!m_failureStartedAt) {
        m_failureStartedAt = m_clock.now();
        m_failureRecoveryRequested = false;
        m_failureWatchdog =
            scheduleLocked(failureWatchdogDelay, [](auto& self) { self.failureWatchdogFired(); });
    }
}

void MetalFrameCoordinator::scheduleRetryLocked(MetalFrameRefusalReason reason) {
    if (m_invalidated || m_retryTask || !m_actions.isRetryEligible()) {
        return;
    }
    const double delay = retryDelays[std::min(m_retryIndex, retryDelays.size() - 1)];
    m_retryIndex = std::min(m_retryIndex + 1, retryDelays.size() - 1);
    m_retryTask = scheduleLocked(delay, [reason](auto& self) { self.retryFired(reason); });
}

void MetalFrameCoordinator::retryFired(MetalFrameRefusalReason reason) {
    {
        std::lock_guard lock(m_lock);
        m_retryTask.reset();
        if (m_invalidated || !m_actions.isRetryEligible()) {
            return;
        }
    }
    m_actions.requestDraw(reason);
    std::lock_guard lock(m_lock);
    scheduleRetryLocked(reason);
}

void MetalFrameCoordinator::resetFailureEpisodeLocked() {
    cancel(m_retryTask);
    m_retryIndex = 0;
    cancel(m_failureWatchdog);
    m_failureStartedAt.reset();
    m_lastFailureReason.reset();
    m_failureRecoveryRequested = false;
}

void MetalFrameCoordinator::didSubmit(Token token,
                                      std::function<MetalTrackedCommandBufferStatus()> status,
                                      std::function<std::optional<std::string>()> error) {
    std::lock_guard lock(m_lock);
    if (!m_activeFrame || m_activeFrame->token != token) {
        return;
    }
    m_activeFrame->commandBuffer = CommandBufferProbe{std::move(status), std::move(error)};
    resetFailureEpisodeLocked();
}

void MetalFrameCoordinator::complete(Token token, MetalTrackedCommandBufferStatus status,
                                     std::optional<std::string> error) {
    std::optional<MetalRendererRecoveryReport> report;
    bool pendingRedraw = false;
    {
        std::lock_guard lock(m_lock);
        if (!m_activeFrame || m_activeFrame->token != token) {
            return;
        }
        // The frame is over: its watchdog must not report it any more.
        cancel(m_activeFrame->watchdog);
        const double startedAt = m_activeFrame->startedAt;
        pendingRedraw = m_activeFrame->pendingRedraw;
        m_activeFrame.reset();
        if (status == MetalTrackedCommandBufferStatus::error && !m_invalidated) {
            report = MetalRendererRecoveryReport{MetalFrameRefusalReason::activeFrame,
                                                 std::max(m_clock.now() - startedAt, 0.0),
                                                 MetalTrackedCommandBufferStatus::error,
                                                 std::move(error)};
        }
    }
    m_actions.becameIdle();
    if (report) {
        m_actions.requestRecovery(*report);
    } else if (pendingRedraw && !isInvalidated()) {
        m_actions.requestDraw(MetalFrameRefusalReason::activeFrame);
    }
}

void MetalFrameCoordinator::frameWatchdogFired(Token token) {
    ActiveFrame frame;
    {
        std::lock_guard lock(m_lock);
        if (!m_activeFrame || m_activeFrame->token != token || m_activeFrame->recoveryRequested ||
            m_invalidated) {
            return;
        }
        m_activeFrame->watchdog.reset();
        if (!m_actions.isRetryEligible()) {
            return; // the next refused beginFrame arms it again
        }
        m_activeFrame->recoveryRequested = true;
        frame = *m_activeFrame;
    }

    std::optional<MetalTrackedCommandBufferStatus> status;
    std::optional<std::string> error;
    if (frame.commandBuffer) {
        status = frame.commandBuffer->status();
        error = frame.commandBuffer->error();
        // Work that has in fact ended (its completion not delivered yet) ends the frame here;
        // `complete` reports an error itself, so the watchdog adds nothing.
        if (status == MetalTrackedCommandBufferStatus::error) {
            complete(token, *status, std::move(error));
            return;
        }
        if (status == MetalTrackedCommandBufferStatus::completed) {
            complete(token, *status, std::nullopt);
            return;
        }
    }
    m_actions.requestRecovery(MetalRendererRecoveryReport{
        MetalFrameRefusalReason::activeFrame, std::max(m_clock.now() - frame.startedAt, 0.0),
        status, std::move(error)});
}

void MetalFrameCoordinator::failureWatchdogFired() {
    MetalRendererRecoveryReport report;
    {
        std::lock_guard lock(m_lock);
        m_failureWatchdog.reset();
        if (m_invalidated) {
            return;
        }
        if (!m_actions.isRetryEligible()) {
            m_failureStartedAt.reset();
            m_lastFailureReason.reset();
            m_failureRecoveryRequested = false;
            m_retryIndex = 0;
            return;
        }
        if (m_failureRecoveryRequested || !m_failureStartedAt || !m_lastFailureReason) {
            return;
        }
        m_failureRecoveryRequested = true;
        report.reason = *m_lastFailureReason;
        report.failureDuration = std::max(m_clock.now() - *m_failureStartedAt, 0.0);
    }
    m_actions.requestRecovery(report);
}

void MetalFrameCoordinator::invalidate() {
    {
        std::lock_guard lock(m_lock);
        m_invalidated = true;
        cancel(m_retryTask);
        cancel(m_failureWatchdog);
        // Submitted work completes on its own and ends the frame then.
        if (!m_activeFrame || m_activeFrame->commandBuffer) {
            return;
        }
        cancel(m_activeFrame->watchdog);
        m_activeFrame.reset();
    }
    m_actions.becameIdle();
}

std::optional<MetalFrameCoordinator::ActiveFrame> MetalFrameCoordinator::activeFrame() const {
    std::lock_guard lock(m_lock);
    return m_activeFrame;
}

bool MetalFrameCoordinator::isInvalidated() const {
    std::lock_guard lock(m_lock);
    return m_invalidated;
}

} // namespace veldatron
