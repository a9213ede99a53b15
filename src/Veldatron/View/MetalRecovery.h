#pragma once

#include "Executor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veldatron {

// What the GPU renderer and the view that hosts it share about failed frames and recovery: the
// renderer's published status, why a frame was not drawn, what a stuck frame's GPU work was
// doing, the report that asks the view to recover, and the clock and timers the frame
// coordinator runs on. Plain C++: the view owns the status and the policy, the renderer only
// reports.

/// The state of a view's GPU drawing, as the view publishes it.
struct MetalRendererStatus {
    enum class State : uint8_t {
        disabled,               // GPU drawing off
        waitingForFirstFrame,   // turned on, nothing presented yet
        healthy,                // a frame was presented
        recovering,             // a failing renderer was replaced (or rebuilt for a new window)
        fellBackToCoreGraphics, // failed again too soon: the raster renderer draws
    };

    State state = State::disabled;
    uint64_t presentedFrameCount = 0;
    /// Wall-clock time of the last presented frame.
    std::optional<std::chrono::system_clock::time_point> lastFramePresentedAt;

    friend bool operator==(const MetalRendererStatus&, const MetalRendererStatus&) = default;
};

/// The name under which a status change is announced (the view's metalRendererStatusChanged
/// signal carries it as its meaning).
inline constexpr std::string_view terminalViewMetalRendererStatusDidChange =
    "Veldatron.TerminalView.metalRendererStatusDidChange";

std::string_view name(MetalRendererStatus::State state);

/// Why the renderer did not draw a frame it was asked for.
enum class MetalFrameRefusalReason : uint8_t {
    activeFrame,                 // a frame is still in flight; also every report on one frame
    missingDrawable,             // the view was gone, or there was nothing to draw into
    missingRenderPassDescriptor, // the target could not be set up for a pass
    missingCommandBuffer,        // no GPU work could be started (the context was lost)
    missingRenderEncoder,        // encoding could not start (a GL error was pending)
};

std::string_view name(MetalFrameRefusalReason reason);
/// Exactly the five case names; anything else is none.
std::optional<MetalFrameRefusalReason> metalFrameRefusalReason(std::string_view text);

/// What a submitted frame's GPU work is doing.
enum class MetalTrackedCommandBufferStatus : uint8_t {
    notEnqueued,
    enqueued,
    committed,
    scheduled,
    completed,
    error,
};

std::string_view name(MetalTrackedCommandBufferStatus status);
/// Exactly the six case names; anything else is none.
std::optional<MetalTrackedCommandBufferStatus> metalTrackedCommandBufferStatus(std::string_view text);
/// A numeric status: 0 to 5 in declaration order, anything above is an error.
MetalTrackedCommandBufferStatus metalTrackedCommandBufferStatus(uint64_t numeric);

/// A failed frame, or a run of refused frames, that the view should recover from.
struct MetalRendererRecoveryReport {
    /// activeFrame for a report on one frame; the latest refusal's reason for a run of them.
    MetalFrameRefusalReason reason = MetalFrameRefusalReason::activeFrame;
    /// Seconds from the frame's start, or from the first refusal, to the report; never below 0.
    double failureDuration = 0;
    std::optional<MetalTrackedCommandBufferStatus> commandBufferStatus;
    std::optional<std::string> commandBufferError;

    friend bool operator==(const MetalRendererRecoveryReport&,
                           const MetalRendererRecoveryReport&) = default;
};

/// When the view last replaced a failing renderer: a second failure sooner than
/// `minimumReplacementInterval` after it falls back to the raster renderer for good.
struct MetalAutomaticRecoveryPolicy {
    static constexpr double minimumReplacementInterval = 30;

    /// Seconds of system uptime; none before the first replacement.
    std::optional<double> lastReplacementAt;

    /// Whether a failure at `now` (seconds of uptime) may be answered with a new renderer.
    bool allowsReplacement(double now) const {
        return !lastReplacementAt || now - *lastReplacementAt >= minimumReplacementInterval;
    }

    friend bool operator==(const MetalAutomaticRecoveryPolicy&,
                           const MetalAutomaticRecoveryPolicy&) = default;
};

/// Profiling of recoveries: on exactly when VELDATRON_PROFILE is "1" when first asked.
struct MetalRecoverySignpost {
    static bool isEnabled();
    /// The rule, for a value of the variable (none: unset).
    static bool isEnabledFor(const char* value);
};

// ---- Time and timers of the frame coordinator -----------------------------------------------

/// A monotonic time source, in seconds.
class MetalRecoveryClock {
public:
    virtual ~MetalRecoveryClock() = default;
    virtual double now() const = 0;
};

/// A delayed action that can still be called off.
class MetalRecoveryScheduledTask {
public:
    virtual ~MetalRecoveryScheduledTask() = default;
    virtual void cancel() = 0;
};

/// Runs actions after a delay on the thread the GPU renderer's view lives on.
class MetalRecoveryScheduler {
public:
    virtual ~MetalRecoveryScheduler() = default;
    /// Never runs the action before returning.
    virtual std::shared_ptr<MetalRecoveryScheduledTask> schedule(double seconds,
                                                                 std::function<void()> action) = 0;
};

/// The system's uptime: the steady clock, in seconds.
class SystemMetalRecoveryClock final : public MetalRecoveryClock {
public:
    double now() const override;
};

/// A task posted to an executor.
class DispatchMetalRecoveryTask final : public MetalRecoveryScheduledTask {
public:
    explicit DispatchMetalRecoveryTask(TaskHandle item) : m_item(std::move(item)) {}
    void cancel() override { m_item.cancel(); }

private:
    TaskHandle m_item;
};

/// Schedules on an executor: in the application the GUI thread's, in tests a virtual clock's.
class DispatchMetalRecoveryScheduler final : public MetalRecoveryScheduler {
public:
    explicit DispatchMetalRecoveryScheduler(Executor& executor) : m_executor(executor) {}
    std::shared_ptr<MetalRecoveryScheduledTask> schedule(double seconds,
                                                         std::function<void()> action) override;

private:
    Executor& m_executor;
};

} // namespace veldatron
