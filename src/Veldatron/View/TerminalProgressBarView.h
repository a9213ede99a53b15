#pragma once

#include "Executor.h"
#include "TerminalDelegate.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace veldatron {

/// The thin bar along the top edge of a terminal view that shows a program's progress reports
/// (OSC 9;4): a bar growing to the percentage, or, when the progress cannot be measured, a
/// segment a quarter of the width sliding from the left edge to the right and back over a faint
/// track; red for an error, orange for a pause, the accent colour otherwise.
///
/// Its animations are functions of the clock it is given, not of Qt's animation timer: what it
/// shows at any moment is barFrame(), and while something moves a repaint is scheduled on the
/// executor every frame. Mouse events pass through it to the terminal beneath.
///
/// A child of its TerminalView, which makes it and decides what it shows; GUI thread only.
class TerminalProgressBarView : public QWidget {
public:
    /// Width of the sliding segment relative to the bar.
    static constexpr double barWidthRatio = 0.25;
    /// One slide across (and as long back).
    static constexpr std::chrono::milliseconds indeterminateDuration{1200};
    /// The growth of the bar to a new percentage.
    static constexpr std::chrono::milliseconds determinateDuration{200};
    /// Between repaints while something moves.
    static constexpr std::chrono::milliseconds frameInterval{17};

    /// Hidden, in the remove state. `uptimeNs` is the monotonic clock in nanoseconds.
    TerminalProgressBarView(QWidget* parent, Executor& executor,
                            std::function<uint64_t()> uptimeNs);
    ~TerminalProgressBarView() override;

    /// Shows a state: hidden for remove; otherwise the state's colour, and the bar at the
    /// percentage (animated) or, without one, the sliding segment.
    void apply(ProgressReportState state, std::optional<uint8_t> progress);
    /// The bar from the left edge to `progress` percent of the width (more than 100 is cut at
    /// the right edge), growing or shrinking to it over 0.2 s when `animated`.
    void updateDeterminate(uint8_t progress, bool animated);
    /// The track across the whole width and the segment sliding over it.
    void updateIndeterminate();
    /// Lays the bar out for the current size without animation (a resize does this).
    void layout();

    ProgressReportState state() const { return m_state; }
    /// The percentage last applied; none while the segment slides.
    std::optional<uint8_t> progress() const { return m_progress; }
    /// The bar's rectangle at this moment, in the view's coordinates.
    QRectF barFrame() const;
    /// Whether the faint full-width track shows (only while the segment slides).
    bool trackVisible() const { return m_trackVisible; }
    /// The bar's colour; the track's is the same at 30 % opacity.
    QColor barColor() const { return m_color; }
    QColor trackColor() const;
    /// The segment is sliding.
    bool isSliding() const { return m_slideStartNs.has_value(); }

    /// The colours of the error and pause states.
    static QColor errorColor() { return QColor(255, 59, 48); }
    static QColor pauseColor() { return QColor(255, 149, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    uint64_t now() const { return m_uptimeNs(); }
    // Repaints, and keeps repainting every frame while something moves.
    void animate();
    bool isMoving() const;

    Executor& m_executor;
    std::function<uint64_t()> m_uptimeNs;
    ProgressReportState m_state = ProgressReportState::remove;
    std::optional<uint8_t> m_progress;
    QColor m_color;
    bool m_trackVisible = false;
    // The bar's width as last set, and the width it grows from since the given time.
    double m_barWidth = 0;
    double m_fromWidth = 0;
    std::optional<uint64_t> m_growthStartNs;
    // When the segment began to slide from the left edge.
    std::optional<uint64_t> m_slideStartNs;
    TaskHandle m_frame;
};

} // namespace veldatron
