#pragma once

#include "MetalRecovery.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace veldatron {

/// Decides when the GPU renderer may start a frame and notices when frames stop arriving.
///
/// One frame is in flight at a time. The frame loop asks `beginFrame()` for a token and ends
/// every token exactly once: `refuse` when something needed for the frame was missing, or
/// `didSubmit` once its GPU work exists and later `complete` when that work has finished.
/// Refused draws are retried after 0.016, 0.033, 0.066, 0.125 s and then every 0.25 s; a run of
/// refusals lasting 1 s, a frame in flight for 1 s, or GPU work ending in error asks the view to
/// recover (`requestRecovery`). A view that cannot show anything (hidden, minimised, zero size:
/// `isRetryEligible` false) gets no retries and no reports.
///
/// Owned through a shared pointer by its renderer; timers hold it weakly and do nothing once it
/// is gone. One lock guards the state. `isRetryEligible` is asked under it and must not call
/// back; the other three actions run after it was released. `complete` may come from any
/// thread, everything else runs on the view's thread.
class MetalFrameCoordinator : public std::enable_shared_from_this<MetalFrameCoordinator> {
public:
    static constexpr std::array<double, 5> retryDelays = {0.016, 0.033, 0.066, 0.125, 0.25};
    static constexpr double frameWatchdogDelay = 1.0;
    static constexpr double failureWatchdogDelay = 1.0;

    struct Token {
        uint64_t value = 0;
        friend bool operator==(const Token&, const Token&) = default;
    };

    /// Reads what a submitted frame's GPU work is doing. Holds that work (its fence) until the
    /// frame ends.
    struct CommandBufferProbe {
        std::function<MetalTrackedCommandBufferStatus()> status;
        std::function<std::optional<std::string>()> error;
    };

    /// The frame in flight.
    struct ActiveFrame {
        Token token;
        double startedAt = 0;
        std::optional<CommandBufferProbe> commandBuffer;
        bool pendingRedraw = false;     // a draw was refused while this frame was in flight
        bool recoveryRequested = false; // the frame watchdog reported this frame
        std::shared_ptr<MetalRecoveryScheduledTask> watchdog;
    };

    struct Actions {
        std::function<bool()> isRetryEligible;
        std::function<void(MetalFrameRefusalReason)> requestDraw;
        std::function<void(const MetalRendererRecoveryReport&)> requestRecovery;
        std::function<void()> becameIdle;
    };

    /// The clock and scheduler must outlive the coordinator.
    static std::shared_ptr<MetalFrameCoordinator> create(MetalRecoveryClock& clock,
                                                         MetalRecoveryScheduler& scheduler,
                                                         Actions actions);

    MetalFrameCoordinator(const MetalFrameCoordinator&) = delete;
    MetalFrameCoordinator& operator=(const MetalFrameCoordinator&) = delete;

    /// A token for a new frame; none while another frame is in flight (the draw is retried
    /// when it ends) or once invalidated.
    std::optional<Token> beginFrame();
    /// The frame was not submitted because `reason` was missing.
    void refuse(Token token, MetalFrameRefusalReason reason);
    /// The frame's GPU work exists; `status` and `error` read it until the frame ends.
    void didSubmit(Token token, std::function<MetalTrackedCommandBufferStatus()> status,
                   std::function<std::optional<std::string>()> error);
    /// The frame's GPU work has finished. Any thread.
    void complete(Token token, MetalTrackedCommandBufferStatus status,
                  std::optional<std::string> error);
    /// Stops for good: no more frames, retries, draws or reports. A submitted frame still
    /// completes (and then the coordinator becomes idle).
    void invalidate();

    /// The frame in flight, read under the lock.
    std::optional<ActiveFrame> activeFrame() const;
    bool isInvalidated() const;

private:
    MetalFrameCoordinator(MetalRecoveryClock& clock, MetalRecoveryScheduler& scheduler,
                          Actions actions);

    void startFailureEpisodeLocked(MetalFrameRefusalReason reason);
    void scheduleRetryLocked(MetalFrameRefusalReason reason);
    void resetFailureEpisodeLocked();
    // Runs `fired` after `delay` unless the coordinator is gone by then.
    std::shared_ptr<MetalRecoveryScheduledTask>
    scheduleLocked(double delay, std::function<void(MetalFrameCoordinator&)> fired);
    void retryFired(MetalFrameRefusalReason reason);
    void frameWatchdogFired(Token token);
    void failureWatchdogFired();
    static void cancel(std::shared_ptr<MetalRecoveryScheduledTask>& task);

    mutable std::mutex m_lock;
    MetalRecoveryClock& m_clock;
    MetalRecoveryScheduler& m_scheduler;
    Actions m_actions;
    uint64_t m_nextToken = 1;
    std::optional<ActiveFrame> m_activeFrame;
    size_t m_retryIndex = 0;
    std::shared_ptr<MetalRecoveryScheduledTask> m_retryTask;
    std::optional<double> m_failureStartedAt;
    std::optional<MetalFrameRefusalReason> m_lastFailureReason;
    std::shared_ptr<MetalRecoveryScheduledTask> m_failureWatchdog;
    bool m_failureRecoveryRequested = false;
    bool m_invalidated = false;
};

} // namespace veldatron
