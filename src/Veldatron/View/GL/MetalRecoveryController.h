#pragma once

#include "ILogSink.h"
#include "MetalRecovery.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace veldatron {

/// The view's bookkeeping of GPU drawing, apart from its widgets: the published status, the
/// replacement policy (a failing renderer is replaced, unless the last replacement was less
/// than 30 s ago: then the view falls back to the raster renderer), the two log lines of
/// recovery, and the "Metal.Recovery" profile span.
///
/// Owned by the view's GPU hosting; `uptime` and `log` must outlive it. The status is kept by
/// the view (`status` reads it, `setStatus` stores and announces it).
class MetalRecoveryController {
public:
    enum class Action { replace, fallBack };

    struct Status {
        std::function<MetalRendererStatus()> get;
        std::function<void(const MetalRendererStatus&)> set;
    };

    MetalRecoveryController(const MetalRecoveryClock& uptime, ILogSink& log, Status status,
                            bool profiling = MetalRecoverySignpost::isEnabled());

    const MetalAutomaticRecoveryPolicy& policy() const { return m_policy; }

    /// GPU drawing was turned on: a fresh policy, waiting for the first frame.
    void turnedOn();
    /// GPU drawing was turned off (or was off already): disabled, keeping count and date.
    void turnedOff();
    /// A frame of the current renderer was presented at `at`.
    void presented(std::chrono::system_clock::time_point at);
    /// The renderer is being rebuilt (for a new window, or after a failure).
    void recovering();
    /// A failed frame of the current renderer: logs the report, sets the status to recovering
    /// and tells whether to replace the renderer or fall back.
    Action recoveryRequested(const MetalRendererRecoveryReport& report);
    /// The renderer could not be rebuilt (`description` tells why), or failed again too soon:
    /// logs it and sets the status.
    void fellBack(const QString& description);

    /// "Veldatron Metal recovery reason=... action=replace-metal|core-graphics".
    static QString recoveryLogLine(const MetalRendererRecoveryReport& report, bool willFallBack);
    /// "Veldatron: Metal renderer rebind failed; falling back to CoreGraphics: " + description.
    static QString fallBackLogLine(const QString& description);

private:
    void setState(MetalRendererStatus::State state);
    void beginSignpost();
    void endSignpost();

    const MetalRecoveryClock& m_uptime;
    ILogSink& m_log;
    Status m_status;
    bool m_profiling;
    MetalAutomaticRecoveryPolicy m_policy;
    std::optional<double> m_signpostStartedAt;
};

} // namespace veldatron
