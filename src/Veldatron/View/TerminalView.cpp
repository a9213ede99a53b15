#include "TerminalView.h"
#include "CaretView.h"
#include "CellShaper.h"
#include "Diagnostics.h"
#include "EscapeSequences.h"
#include "QtExecutor.h"
#include "SearchService.h"
#include "SelectionService.h"
#include "TerminalDebugView.h"
#include "TerminalViewDelegate.h"
#include "TerminalViewMetalHosting.h"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeySequence>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>

#include <cmath>
#include <string>

namespace veldatron {

namespace {

uint64_t steadyNowNs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// Columns or rows that fit: a truncated division, never negative.
int fittingCount(double length, double cell) {
    const double count = length / cell;
    if (!(count > 0)) {
        return 0;
    }
    return count >= double(INT32_MAX) ? INT32_MAX : int(count);
}

} // namespace

// ---- Construction ---------------------------------------------------------------------------

TerminalView::TerminalView(QWidget* parent)
    : TerminalView(parent, std::nullopt, defaultStartupOptions()) {}

TerminalView::TerminalView(QWidget* parent, const std::optional<QFont>& font,
                           const TerminalOptions& options, Scheduling scheduling)
    : QWidget(parent),
      m_executor(scheduling.executor != nullptr ? scheduling.executor : &QtExecutor::main()),
      m_uptimeNs(scheduling.uptimeNs ? std::move(scheduling.uptimeNs) : steadyNowNs),
      m_fontSet(FontSet::from(font.value_or(defaultFont()))),
      m_shaper(std::make_unique<CellShaper>()), m_startupOptions(options) {
    setFocusPolicy(Qt::StrongFocus);
    // Input methods compose into the view (inputMethodEvent).
    setAttribute(Qt::WA_InputMethodEnabled);
    // Every paint fills what it covers, starting with the default background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::IBeamCursor);
    setupScroller();
    setupProgressBar();
    // A widget has no meaningful size before its first layout: the terminal starts at the
    // options' size and is refitted by the first resize event.
    setupOptions(0, 0);
    updateCursorPosition();

    m_pasteAction = new QAction(this);
    m_pasteAction->setObjectName(QStringLiteral("pasteAction"));
    m_pasteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    m_pasteAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_pasteAction, &QAction::triggered, this, &TerminalView::paste);
    addAction(m_pasteAction);
    setupEditActions();

    // Blinking text stops while the application is in the background.
    m_textBlinkApplicationActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                m_textBlinkApplicationActive = state == Qt::ApplicationActive;
                updateTextBlinkLifecycle();
                if (m_textBlinkApplicationActive && isMetalRendererEligibleForRetry()) {
                    m_metalHosting->setMetalViewNeedsDisplay();
                }
            });
    updateTextBlinkLifecycle();
}

TerminalView::~TerminalView() {
    m_pendingDisplayTask.cancel();
    m_progressReportTimer.cancel();
    m_selectionAutoScrollTimer.cancel();
    m_pendingSemanticClick.cancel();
    stopTextBlinking();
    // The terminal calls back into the view while it goes (nothing today, but a reset of its
    // state could); it must not find a half-destroyed host.
    if (m_terminal) {
        m_terminal->setDelegate(nullptr);
    }
}

TerminalOptions TerminalView::defaultStartupOptions() {
    TerminalOptions options;
    options.cols = 80;
    options.rows = 25;
    options.termName = "xterm-256color";
    options.scrollback = 500;
    return options;
}

QFont TerminalView::defaultFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

void TerminalView::setupOptions(double width, double height) {
    resetCaches();
    updateFontMetrics();
    TerminalOptions options = m_terminal ? m_terminal->options() : m_startupOptions;
    const bool empty = width == 0 && height == 0;
    if (!empty) {
        options.cols = fittingCount(width, m_cellDimension.width());
        options.rows = fittingCount(height, m_cellDimension.height());
    }
    if (!m_terminal) {
        m_terminal = std::make_unique<Terminal>(this, options, m_executor);
        // Each assignment comes back as setBackgroundColor / setForegroundColor, which sets the
        // view's native colours.
        m_terminal->setBackgroundColor(Color::defaultBackground);
        m_terminal->setForegroundColor(Color::defaultForeground);
        m_selection = SelectionService::create(*m_terminal);
        m_search = std::make_unique<SearchService>(*m_terminal);
    } else if (!empty) {
        m_terminal->setOptions(options);
        m_terminal->setup(false);
    }
    if (m_caretView == nullptr) {
        m_caretView = new CaretView(QRectF(QPointF(0, 0), m_cellDimension),
                                    m_terminal->options().cursorStyle, this);
    } else {
        m_caretView->setFrame(QRectF(m_caretView->frame().topLeft(), m_cellDimension));
        m_caretView->updateCursorStyle();
    }
    update();
}

// ---- Fonts and metrics ----------------------------------------------------------------------

QSizeF TerminalView::cellSize(double lineHeight, double advance, double lineSpacing, double scale) {
    if (!(scale > 0)) {
        scale = 1;
    }
    double height = std::ceil(std::ceil(lineHeight * lineSpacing) * scale) / scale;
    if (height > 8192) {
        height = 8192;
    }
    if (!(height > 1)) {
        height = 1;
    }
    double width = std::round(advance * scale) / scale;
    if (!(width > 1)) {
        width = 1;
    }
    return {width, height};
}

QSizeF TerminalView::computeFontDimensions() const {
    const QFontMetricsF metrics(m_fontSet.normal);
    return cellSize(metrics.ascent() + metrics.descent() + metrics.leading(),
                    metrics.horizontalAdvance(QLatin1Char('W')), m_lineSpacing,
                    backingScaleFactor());
}

void TerminalView::setTerminalFont(const QFont& font) {
    m_fontSet = FontSet::from(font);
    resetFont();
    selectNone();
}

void TerminalView::setLineSpacing(double spacing) {
    m_lineSpacing = spacing;
    resetFont();
}

void TerminalView::updateFontMetrics() {
    m_cellDimension = computeFontDimensions();
    const QFontMetricsF metrics(m_fontSet.normal);
    m_baselineOffset = std::ceil(metrics.descent() + metrics.leading());
}

void TerminalView::resetFont() {
    resetCaches();
    updateFontMetrics();
    if (width() > 0 && height() > 0) {
        const int cols = fittingCount(getEffectiveWidth(size()), m_cellDimension.width());
        const int rows = fittingCount(height(), m_cellDimension.height());
        m_terminal->resize(cols, rows);
        sizeChanged(*m_terminal);
        // Margins and saved positions counted in the old cells mean nothing in the new ones.
        m_terminal->softReset();
    }
    m_caretView->setFrame(QRectF(m_caretView->frame().topLeft(), m_cellDimension));
    m_caretView->updateCursorStyle();
    updateCursorPosition();
    update();
}

void TerminalView::resetCaches() {
    m_attributes.clear();
    m_urlAttributes.clear();
    m_trueColors.clear();
    m_colors.fill(std::nullopt);
    m_shaper->clear();
}

void TerminalView::resizeTerminal(int cols, int rows) {
    m_terminal->resize(cols, rows);
    sizeChanged(*m_terminal);
    m_terminal->softReset();
}

bool TerminalView::processSizeChange(const QSizeF& newSize) {
    if (newSize.width() == 0 && newSize.height() == 0) {
        return false;
    }
    const int rows = fittingCount(newSize.height(), m_cellDimension.height());
    const int cols = fittingCount(getEffectiveWidth(newSize), m_cellDimension.width());
    if (cols == m_terminal->cols() && rows == m_terminal->rows()) {
        return false;
    }
    m_terminal->resize(cols, rows);
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->sizeChanged(*this, cols, rows);
    }
    updateScroller();
    // Cells selected in the old geometry are other cells in the new one.
    m_selection->setActive(false);
    m_search->invalidate();
    return true;
}

double TerminalView::backingScaleFactor() const {
    const double scale = devicePixelRatioF();
    return scale > 0 ? scale : 1.0;
}

double TerminalView::getEffectiveWidth(const QSizeF& size) const {
    double width = size.width();
    if (m_scroller == nullptr || !m_scroller->isHidden()) {
        width -= scrollerWidth();
    }
    return width > 0 ? width : 0;
}

// ---- Debug view -----------------------------------------------------------------------------

TerminalDebugView* TerminalView::debug() const {
    return m_debug.data();
}

void TerminalView::setDebug(TerminalDebugView* debug) {
    m_debug = debug;
}

// ---- Widget events --------------------------------------------------------------------------

void TerminalView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutScroller();
    layoutProgressBar();
    processSizeChange(QSizeF(event->size()));
    update();
    updateCursorPosition();
    if (m_metalHosting) {
        m_metalHosting->viewResized();
    }
}

// ---- Scroller -------------------------------------------------------------------------------

void TerminalView::setupScroller() {
    if (m_scroller == nullptr) {
        m_scroller = new QScrollBar(Qt::Vertical, this);
        m_scroller->setObjectName(QStringLiteral("terminalScroller"));
        m_scroller->setFocusPolicy(Qt::NoFocus);
        connect(m_scroller, &QScrollBar::actionTriggered, this, &TerminalView::scrollerActivated);
    }
    // Disabled, with a knob a tenth of the track, until the first refresh.
    const QSignalBlocker blocker(m_scroller);
    m_scroller->setRange(0, 9);
    m_scroller->setPageStep(1);
    m_scroller->setValue(0);
    m_scroller->setEnabled(false);
    layoutScroller();
}

double TerminalView::scrollerWidth() const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroller);
}

void TerminalView::layoutScroller() {
    const int extent = int(scrollerWidth());
    m_scroller->setGeometry(width() - extent, 0, extent, height());
}

void TerminalView::updateScroller() {
    if (!m_terminal || m_scroller == nullptr) {
        return;
    }
    m_scrollerNeedsUpdate = false;
    // The bar's range is the scrollable lines and its page the screen, so its knob takes
    // rows / lines of the track; refreshing it must not look like a user's move.
    const QSignalBlocker blocker(m_scroller);
    const Buffer& buffer = m_terminal->buffer();
    const bool scrollable = canScroll();
    const int maxScroll = std::max(0, buffer.lines().count() - m_terminal->rows());
    m_scroller->setEnabled(scrollable);
    m_scroller->setPageStep(std::max(1, m_terminal->rows()));
    if (scrollable) {
        m_scroller->setRange(0, maxScroll);
        m_scroller->setValue(std::clamp(buffer.yDisp(), 0, maxScroll));
    } else {
        m_scroller->setRange(0, 0);
        m_scroller->setValue(0);
    }
}

void TerminalView::scrollerActivated(int action) {
    const auto report = [](const char* line) {
        static DiagnosticSite site;
        site.emit(line);
    };
    switch (QAbstractSlider::SliderAction(action)) {
    case QAbstractSlider::SliderPageStepSub:
        pageUp();
        break;
    case QAbstractSlider::SliderPageStepAdd:
        if (m_terminal->isCurrentBufferAlternate()) {
            send(std::span<const uint8_t>(EscapeSequences::cmdPageDown));
        } else {
            scrollDown(m_terminal->rows());
        }
        break;
    case QAbstractSlider::SliderMove: {
        const int maximum = m_scroller->maximum();
        scrollToPosition(maximum > 0 ? double(m_scroller->sliderPosition()) / maximum : 0.0);
        break;
    }
    case QAbstractSlider::SliderSingleStepSub:
        report("Scroller .decrementLine clicked");
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        report("Scroller .incrementLine clicked");
        break;
    case QAbstractSlider::SliderNoAction:
        report("Scroller .noPart clicked");
        break;
    default:
        report("Scroller: New value introduced");
        break;
    }
    // The bar has already moved its knob for the action: put it where the viewport is.
    m_scroller->setSliderPosition(canScroll() ? m_terminal->buffer().yDisp() : 0);
}

// ---- Terminal callbacks ---------------------------------------------------------------------

void TerminalView::setTerminalTitle(Terminal&, const std::string& title) {
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->setTerminalTitle(*this, QString::fromStdString(title));
    }
}

std::optional<std::vector<uint8_t>>
TerminalView::windowCommand(Terminal& source, const WindowManipulationCommand& command) {
    const double scale = backingScaleFactor();
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    std::string reply = source.cc().send8bit ? "\x9b" : "\x1b[";
    switch (command.kind) {
    case WindowManipulationCommand::Kind::reportTextAreaPixelDimension:
        reply += "4;" + std::to_string(std::llround(h * scale * source.rows())) + ";" +
                 std::to_string(std::llround(w * scale * source.cols())) + "t";
        return std::vector<uint8_t>(reply.begin(), reply.end());
    case WindowManipulationCommand::Kind::reportCellSizeInPixels:
        reply += "6;" + std::to_string(int64_t(h * scale)) + ";" +
                 std::to_string(int64_t(w * scale)) + "t";
        return std::vector<uint8_t>(reply.begin(), reply.end());
    case WindowManipulationCommand::Kind::resizeWindowTo: {
        // Any program can ask, as often as it likes: the line must neither flood the log nor
        // wait for a reader of standard output.
        static DiagnosticSite site;
        site.emit("Request to resize to " + std::to_string(command.first) + "x" +
                  std::to_string(command.second));
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

void TerminalView::sizeChanged(Terminal& source) {
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->sizeChanged(*this, source.cols(), source.rows());
    }
    updateScroller();
}

double TerminalView::windowBackingScale() const {
    // Only a view on screen has a scale of its own.
    const bool onScreen = window() != nullptr && window()->windowHandle() != nullptr;
    return onScreen ? backingScaleFactor() : 1.0;
}

std::optional<CellSize> TerminalView::cellSizeInPixels(Terminal&) {
    const double scale = windowBackingScale();
    return CellSize{int(std::lround(m_cellDimension.width() * scale)),
                    int(std::lround(m_cellDimension.height() * scale))};
}

void TerminalView::hostCurrentDirectoryUpdated(Terminal& source) {
    if (m_terminalDelegate == nullptr) {
        return;
    }
    const std::optional<std::string>& directory = source.hostCurrentDirectory();
    m_terminalDelegate->hostCurrentDirectoryUpdate(
        *this,
        directory ? std::optional<QString>(QString::fromStdString(*directory)) : std::nullopt);
}

void TerminalView::iTermContent(Terminal&, std::span<const uint8_t> content) {
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->iTermContent(*this, content);
    }
}

void TerminalView::clipboardCopy(Terminal&, std::span<const uint8_t> content) {
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->clipboardCopy(*this, content);
    }
}

std::optional<std::vector<uint8_t>> TerminalView::clipboardRead(Terminal&) {
    // Any program's output can ask (a file being shown, a remote session): the clipboard is not
    // disclosed unless the host allowed it.
    if (!m_allowClipboardRead || m_terminalDelegate == nullptr) {
        return std::nullopt;
    }
    return m_terminalDelegate->clipboardRead(*this);
}

} // namespace veldatron
