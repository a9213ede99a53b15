#include "MetalRecoveryController.h"

namespace veldatron {

MetalRecoveryController::MetalRecoveryController(const MetalRecoveryClock& uptime, ILogSink& log,
                                                 Status status, bool profiling)
    : m_uptime(uptime), m_log(log), m_status(std::move(status)), m_profiling(profiling) {}

void MetalRecoveryController::setState(MetalRendererStatus::State state) {
    MetalRendererStatus status = m_status.get();
    if (status.state != state) {
        status.state = state;
        m_status.set(status);
    }
}

void MetalRecoveryController::turnedOn() {
    m_policy = {};
    m_status.set(MetalRendererStatus{MetalRendererStatus::State::waitingForFirstFrame, 0, {}});
}

void MetalRecoveryController::turnedOff() { setState(MetalRendererStatus::State::disabled); }

void MetalRecoveryController::presented(std::chrono::system_clock::time_point at) {
    const MetalRendererStatus status = m_status.get();
    m_status.set(MetalRendererStatus{MetalRendererStatus::State::healthy,
                                     status.presentedFrameCount + 1, at});
    endSignpost();
}

void MetalRecoveryController::recovering() {
    setState(MetalRendererStatus::State::recovering);
    beginSignpost();
}

MetalRecoveryController::Action
MetalRecoveryController::recoveryRequested(const MetalRendererRecoveryReport& report) {
    const double now = m_uptime.now();
    const bool replace = m_policy.allowsReplacement(now);
    if (replace) {
        m_policy.lastReplacementAt = now;
    }
    m_log.log(ILogSink::Category::renderer, ILogSink::Level::error,
              recoveryLogLine(report, !replace));
    recovering();
    return replace ? Action::replace : Action::fallBack;
}

void MetalRecoveryController::fellBack(const QString& description) {
    m_log.log(ILogSink::Category::renderer, ILogSink::Level::error,
              fallBackLogLine(description));
    setState(MetalRendererStatus::State::fellBackToCoreGraphics);
    endSignpost();
}

QString MetalRecoveryController::recoveryLogLine(const MetalRendererRecoveryReport& report,
                                                 bool willFallBack) {
    const auto text = [](std::string_view view) {
        return QString::fromUtf8(view.data(), qsizetype(view.size()));
    };
    // One pass over the format: an error text holding "%1" stays as it is.
    return QStringLiteral(
               "Veldatron Metal recovery reason=%1 duration=%2 status=%3 error=%4 action=%5")
        .arg(text(name(report.reason)), QString::number(report.failureDuration, 'f', 3),
             report.commandBufferStatus ? text(name(*report.commandBufferStatus))
                                        : QStringLiteral("none"),
             report.commandBufferError ? QString::fromStdString(*report.commandBufferError)
                                       : QStringLiteral("none"),
             willFallBack ? QStringLiteral("core-graphics") : QStringLiteral("replace-metal"));
}

QString MetalRecoveryController::fallBackLogLine(const QString& description) {
    return QStringLiteral("Veldatron: Metal renderer rebind failed; falling back to "
                          "CoreGraphics: ") +
           description;
}

void MetalRecoveryController::beginSignpost() {
    if (m_profiling && !m_signpostStartedAt) {
        m_signpostStartedAt = m_uptime.now();
    }
}

void MetalRecoveryController::endSignpost() {
    if (!m_signpostStartedAt) {
        return;
    }
    m_log.log(ILogSink::Category::profile, ILogSink::Level::info,
              QStringLiteral("Metal.Recovery %1 s").arg(m_uptime.now() - *m_signpostStartedAt, 0,
                                                         'f', 3));
    m_signpostStartedAt.reset();
}

} // namespace veldatron
