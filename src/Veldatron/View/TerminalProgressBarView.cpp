#include "TerminalProgressBarView.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace veldatron {

namespace {

// Slow at both ends, fast in the middle: the cubic Bezier (0.42, 0) (0.58, 1).
double easeInEaseOut(double progress) {
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return curve.valueForProgress(std::clamp(progress, 0.0, 1.0));
}

double nanoseconds(std::chrono::milliseconds duration) {
    return double(std::chrono::nanoseconds(duration).count());
}

} // namespace

TerminalProgressBarView::TerminalProgressBarView(QWidget* parent, Executor& executor,
                                                 std::function<uint64_t()> uptimeNs)
    : QWidget(parent), m_executor(executor), m_uptimeNs(std::move(uptimeNs)) {
    setObjectName(QStringLiteral("terminalProgressBar"));
    // Clicks on the top edge reach the terminal.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

TerminalProgressBarView::~TerminalProgressBarView() {
    m_frame.cancel();
}

void TerminalProgressBarView::apply(ProgressReportState state, std::optional<uint8_t> progress) {
    m_state = state;
    m_progress = progress;
    setHidden(state == ProgressReportState::remove);
    if (state == ProgressReportState::remove) {
        m_slideStartNs.reset();
        m_growthStartNs.reset();
        m_frame.cancel();
        return;
    }
    switch (state) {
    case ProgressReportState::pause:
        m_color = pauseColor();
        break;
    case ProgressReportState::error:
        m_color = errorColor();
        break;
    default:
        m_color = palette().color(QPalette::Highlight);
        break;
    }
    if (progress) {
        updateDeterminate(*progress, true);
    } else {
        updateIndeterminate();
    }
}

void TerminalProgressBarView::updateDeterminate(uint8_t progress, bool animated) {
    // A new growth starts where a growth under way has got to, else from the width the bar
    // was last given (a sliding segment's, at the left edge).
    m_fromWidth = m_growthStartNs ? barFrame().width() : m_barWidth;
    m_trackVisible = false;
    m_slideStartNs.reset();
    const double target = width() * double(progress) / 100.0;
    m_barWidth = target;
    if (animated && m_fromWidth != target) {
        m_growthStartNs = now();
    } else {
        m_growthStartNs.reset();
    }
    animate();
}

void TerminalProgressBarView::updateIndeterminate() {
    m_trackVisible = true;
    m_growthStartNs.reset();
    const double w = width();
    m_barWidth = w * barWidthRatio;
    if (m_barWidth > 0 && m_barWidth < w) {
        m_slideStartNs = now();
    } else {
        m_slideStartNs.reset();
    }
    animate();
}

void TerminalProgressBarView::layout() {
    if (isHidden()) {
        return;
    }
    if (m_progress) {
        updateDeterminate(*m_progress, false);
    } else {
        updateIndeterminate();
    }
}

QRectF TerminalProgressBarView::barFrame() const {
    const double w = width();
    const double h = height();
    const uint64_t t = now();
    if (m_slideStartNs) {
        // Across in 1.2 s, back in 1.2 s, eased each way, for as long as it shows.
        const double phase =
            double(t - std::min(t, *m_slideStartNs)) / nanoseconds(indeterminateDuration);
        const double cycle = std::floor(phase);
        double part = phase - cycle;
        if (std::fmod(cycle, 2.0) != 0) {
            part = 1 - part;
        }
        return {easeInEaseOut(part) * (w - m_barWidth), 0, m_barWidth, h};
    }
    double width = m_barWidth;
    if (m_growthStartNs) {
        const double part =
            double(t - std::min(t, *m_growthStartNs)) / nanoseconds(determinateDuration);
        width = m_fromWidth + (m_barWidth - m_fromWidth) * easeInEaseOut(part);
    }
    return {0, 0, width, h};
}

QColor TerminalProgressBarView::trackColor() const {
    QColor color = m_color;
    color.setAlphaF(0.3f);
    return color;
}

bool TerminalProgressBarView::isMoving() const {
    if (isHidden()) {
        return false;
    }
    if (m_slideStartNs) {
        return true;
    }
    return m_growthStartNs &&
           now() - std::min(now(), *m_growthStartNs) < uint64_t(nanoseconds(determinateDuration));
}

void TerminalProgressBarView::animate() {
    update();
    m_frame.cancel();
    if (!isMoving()) {
        m_growthStartNs.reset();
        return;
    }
    m_frame = m_executor.postAfter(frameInterval, [self = QPointer(this)] {
        if (self) {
            self->animate();
        }
    });
}

void TerminalProgressBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // What goes past the right edge (a percentage above 100) is cut off.
    painter.setClipRect(rect());
    if (m_trackVisible) {
        painter.fillRect(rect(), trackColor());
    }
    painter.fillRect(barFrame(), m_color);
}

void TerminalProgressBarView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layout();
}

} // namespace veldatron
