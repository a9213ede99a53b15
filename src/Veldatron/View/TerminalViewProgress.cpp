// Progress reports (OSC 9;4) shown as a bar along the top edge, and their 15-second staleness.

#include "TerminalProgressBarView.h"
#include "TerminalView.h"

#include <QScrollBar>

namespace veldatron {

void TerminalView::setupProgressBar() {
    m_progressBarView = new TerminalProgressBarView(this, *m_executor, m_uptimeNs);
    // Over the scroll bar, which it spans too.
    m_progressBarView->raise();
    layoutProgressBar();
}

void TerminalView::layoutProgressBar() {
    if (m_progressBarView != nullptr) {
        m_progressBarView->setGeometry(0, 0, width(), 2);
    }
}

void TerminalView::progressReport(Terminal&, const ProgressReport& report) {
    if (m_executor->isCurrent()) {
        handleProgressReport(report);
        return;
    }
    m_executor->post([self = QPointer(this), report] {
        if (self) {
            self->handleProgressReport(report);
        }
    });
}

void TerminalView::handleProgressReport(const ProgressReport& report) {
    std::optional<uint8_t> shown;
    switch (report.state) {
    case ProgressReportState::remove:
        clearProgressReport();
        return;
    case ProgressReportState::set:
        shown = report.progress.value_or(0);
        m_lastProgressValue = shown;
        break;
    case ProgressReportState::error:
        // Without a percentage of its own, the last one; without that, the segment slides.
        shown = report.progress ? report.progress : m_lastProgressValue;
        if (shown) {
            m_lastProgressValue = shown;
        }
        break;
    case ProgressReportState::indeterminate:
        break;
    case ProgressReportState::pause:
        shown = report.progress ? *report.progress : m_lastProgressValue.value_or(100);
        m_lastProgressValue = shown;
        break;
    }
    m_progressBarView->apply(report.state, shown);
    resetProgressReportTimer();
}

void TerminalView::resetProgressReportTimer() {
    m_progressReportTimer.cancel();
    m_progressReportTimer = m_executor->postAfter(progressReportTimeout, [self = QPointer(this)] {
        if (self) {
            self->clearProgressReport();
        }
    });
}

void TerminalView::clearProgressReport() {
    m_progressReportTimer.cancel();
    m_lastProgressValue.reset();
    m_progressBarView->apply(ProgressReportState::remove, std::nullopt);
}

} // namespace veldatron
