// What the view does with the primary button when the program does not take it: a click ends
// or (with Shift) extends the selection, a double click selects a word or a bracketed
// expression, a triple click a row, a drag selects from the press and scrolls the view while the
// pointer is beyond its top or bottom edge, and a single click into a shell prompt may move the
// shell's cursor (once a double click is no longer possible). Also the clipboard commands and the
// answer to a selection change.
//
// The X11 primary selection follows the convention of terminals there: a gesture that leaves a
// selection puts its text there, and the middle button pastes it.

#include "SelectionService.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>

namespace veldatron {

namespace {

constexpr std::chrono::milliseconds autoScrollInterval{50};

// Lines per tick for a pointer `distance` rows beyond the edge.
int autoScrollSpeed(int64_t distance, int rows) {
    if (distance >= 10) {
        return std::max(rows, 20);
    }
    if (distance >= 6) {
        return 10;
    }
    if (distance >= 2) {
        return 3;
    }
    return 1;
}

SemanticPromptClickModifiers promptClickModifiers(Qt::KeyboardModifiers modifiers) {
    SemanticPromptClickModifiers result;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        result.insert(SemanticPromptClickModifiers::shift);
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        result.insert(SemanticPromptClickModifiers::control);
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        result.insert(SemanticPromptClickModifiers::option);
    }
    if (modifiers.testFlag(Qt::MetaModifier)) {
        result.insert(SemanticPromptClickModifiers::command);
    }
    return result;
}

} // namespace

void TerminalView::setupEditActions() {
    const auto addEditAction = [this](const char* name, QKeyCombination keys,
                                      Qt::ShortcutContext context, auto slot) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(QKeySequence(keys));
        action->setShortcutContext(context);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    };
    addEditAction("copyAction", Qt::CTRL | Qt::SHIFT | Qt::Key_C, Qt::WidgetShortcut,
                  [this] { copy(); });
    addEditAction("selectAllAction", Qt::CTRL | Qt::SHIFT | Qt::Key_A, Qt::WidgetShortcut,
                  [this] { selectAll(); });
    // The find bar is a child of the view: the key shows it again from its own field too.
    addEditAction("findAction", Qt::CTRL | Qt::SHIFT | Qt::Key_F, Qt::WidgetWithChildrenShortcut,
                  [this] { performFindPanelAction(1); });
    m_semanticClickCoalescingDelay = std::chrono::milliseconds(QApplication::doubleClickInterval());
    m_multiClickInterval = m_semanticClickCoalescingDelay;
}

// ---- Gestures -------------------------------------------------------------------------------

void TerminalView::selectionPress(const Position& at, int clickCount, bool shift) {
    switch (clickCount) {
    case 1:
        // A click on nothing selected changes nothing; Shift grows a selection to the click.
        if (m_selection->active()) {
            if (shift) {
                m_selection->shiftExtend(at);
            } else {
                m_selection->setActive(false);
            }
        }
        break;
    case 2:
        m_selection->selectWordOrExpression(at, m_terminal->buffer());
        break;
    default:
        m_selection->select(at.row);
        break;
    }
    redrawWholeView();
}

void TerminalView::primaryDrag(QMouseEvent* event) {
    const QPointF point = event->position();
    const Position at = calculateMouseHit(point).grid;
    if (m_selection->active()) {
        m_selection->dragExtend(at);
    } else {
        // The selection starts where the button went down: the first motion event may arrive
        // cells away from it when the pointer moves fast.
        m_selection->setSoftStart(m_pressCell.value_or(at));
        m_selection->startSelection();
        m_selection->dragExtend(at);
    }
    m_didSelectionDrag = true;
    m_lastSelectionDragPoint = point;
    m_autoScrollDelta = 0;

    const int rows = m_terminal->rows();
    const int64_t d = at.row - m_terminal->buffer().yDisp();
    if (d <= 0) {
        m_autoScrollDelta = -autoScrollSpeed(-d, m_terminal->rows());
        startSelectionAutoScrollTimer();
    } else if (d >= rows) {
        m_autoScrollDelta = autoScrollSpeed(d - rows, m_terminal->rows());
        startSelectionAutoScrollTimer();
    } else {
        stopSelectionAutoScrollTimer();
    }
    redrawWholeView();
}

void TerminalView::startSelectionAutoScrollTimer() {
    if (m_selectionAutoScrollTimer.isPending()) {
        return;
    }
    QPointer<TerminalView> self(this);
    m_selectionAutoScrollTimer = m_executor->postAfter(autoScrollInterval, [self] {
        if (!self) {
            return;
        }
        // Repeats until stopped.
        self->startSelectionAutoScrollTimer();
        self->scrollingTimerElapsed();
    });
}

void TerminalView::stopSelectionAutoScrollTimer() {
    m_selectionAutoScrollTimer.cancel();
    m_selectionAutoScrollTimer = {};
}

void TerminalView::scrollingTimerElapsed() {
    if (m_autoScrollDelta == 0) {
        return;
    }
    if (m_autoScrollDelta < 0) {
        scrollTo(std::max(0, m_terminal->buffer().yDisp() + m_autoScrollDelta), true);
    } else {
        scrollDown(m_autoScrollDelta);
    }
    if (m_selection->active() && m_lastSelectionDragPoint) {
        m_selection->dragExtend(calculateMouseHit(*m_lastSelectionDragPoint).grid);
    }
    redrawWholeView();
}

void TerminalView::primaryRelease(QMouseEvent* event) {
    stopSelectionAutoScrollTimer();
    m_autoScrollDelta = 0;
    m_lastSelectionDragPoint.reset();

    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const Position at = calculateMouseHit(event->position()).grid;
    const bool command = m_commandActive || modifiers.testFlag(Qt::ControlModifier);
    updateHoverLink(at, command);
    bool openedLink = false;
    if (!m_didSelectionDrag) {
        if (const std::optional<LinkToOpen> link = linkForClick(at, command)) {
            openedLink = true;
            if (m_terminalDelegate != nullptr) {
                m_terminalDelegate->requestOpenLink(*this, link->link, link->params);
            }
        }
    }

    if (!openedLink) {
        if (reportsMouse(modifiers, MouseEventKind::release)) {
            sendMouseReport(encodeMouseEvent(Qt::LeftButton, modifiers, true), event->position(),
                            false);
        } else {
            if (m_pointerPressSnapshot.clickCount == 1) {
                schedulePromptClick(at, modifiers);
            }
            if (m_pressCell && m_selection->active()) {
                publishPrimarySelection();
            }
        }
    }
    m_didSelectionDrag = false;
    m_pointerPressSnapshot.pressWasSemanticEligible = false;
    m_pressedButton = Qt::NoButton;
    m_pressCell.reset();
}

void TerminalView::schedulePromptClick(const Position& at, Qt::KeyboardModifiers modifiers) {
    const SemanticPromptClickModifiers clickModifiers = promptClickModifiers(modifiers);
    SemanticPromptPointerSnapshot snapshot = m_pointerPressSnapshot;
    snapshot.didDrag = m_didSelectionDrag;
    snapshot.clickCount = 1;
    if (!m_terminal->mightRouteSemanticPromptClick(clickModifiers, snapshot)) {
        return;
    }
    ++m_semanticDeferralScheduleCount;
    // The row is found again by its line when the click runs: output in between may have
    // scrolled it, or recycled the line for other text (then the click is dropped).
    const BufferLinePtr line =
        at.row <= INT32_MAX ? m_terminal->bufferLine(int(at.row)) : BufferLinePtr();
    const uint64_t generation = line ? line->recycleGeneration() : 0;
    const int64_t col = at.col;
    QPointer<TerminalView> self(this);
    m_pendingSemanticClick = m_executor->postAfter(
        m_semanticClickCoalescingDelay, [self, line, generation, col, clickModifiers, snapshot] {
            if (!self) {
                return;
            }
            self->m_pendingSemanticClick = {};
            if (!line) {
                return;
            }
            const std::optional<int> row = self->m_terminal->semanticRow(*line, generation);
            if (!row || !snapshot.pressWasSemanticEligible || snapshot.clickCount != 1 ||
                snapshot.selectionWasActive || snapshot.didDrag) {
                return;
            }
            if (self->m_terminal->handleSemanticPromptClick(Position{col, *row}, clickModifiers)) {
                self->redrawWholeView();
            }
        });
}

// ---- Selection ------------------------------------------------------------------------------

bool TerminalView::selectionActive() const {
    return m_selection->active();
}

std::optional<QString> TerminalView::getSelection() const {
    if (!m_selection->active()) {
        return std::nullopt;
    }
    return QString::fromStdString(m_selection->getSelectedText());
}

void TerminalView::selectAll() {
    m_selection->selectAll();
}

void TerminalView::selectNone() {
    if (m_selection->active()) {
        m_selection->selectNone();
    }
}

std::optional<ColumnRange> TerminalView::selectedColumnsRange(int row, int cols) const {
    if (!m_selection->active()) {
        return std::nullopt;
    }
    const Position s = m_selection->start();
    const Position e = m_selection->end();
    const int64_t last = int64_t(m_terminal->cols()) - 1;
    int64_t lower = 0;
    int64_t length = 0;
    if (s.row == e.row) {
        if (s.row != row || s.col == e.col) {
            return std::nullopt;
        }
        if (s.col < e.col) {
            lower = s.col;
            length = e.col - s.col + (e.col == last ? 1 : 0);
        } else {
            lower = e.col;
            length = s.col - e.col;
        }
    } else {
        // The earlier end, whichever way the selection was made.
        const Position& first = s.row < e.row ? s : e;
        const Position& later = s.row < e.row ? e : s;
        if (row == first.row) {
            lower = first.col;
            length = cols - first.col;
        } else if (row > first.row && row < later.row) {
            lower = 0;
            length = cols;
        } else if (row == later.row) {
            lower = 0;
            length = later.col + (later.col == last ? 1 : 0);
        } else {
            return std::nullopt;
        }
    }
    if (length <= 0) {
        return std::nullopt;
    }
    const int64_t upper = std::min<int64_t>(lower + length, cols);
    lower = std::clamp<int64_t>(lower, 0, cols);
    if (upper <= lower) {
        return std::nullopt;
    }
    return ColumnRange{int(lower), int(upper)};
}

void TerminalView::selectionChanged(Terminal&) {
    if (!m_terminal) {
        return;
    }
    if (!hasMetalView()) {
        redrawWholeView();
        return;
    }
    const Buffer& buffer = m_terminal->buffer();
    const int lineCount = buffer.lines().count();
    const int first = buffer.yDisp();
    const int last = std::min(first + m_terminal->rows() - 1, lineCount - 1);
    if (lineCount == 0 || last < first) {
        return;
    }
    // The renderer may not have drawn the last range yet: merge, never overwrite.
    m_metalDirtyRange = m_metalDirtyRange ? std::pair(std::min(m_metalDirtyRange->first, first),
                                                      std::max(m_metalDirtyRange->second, last))
                                          : std::pair(first, last);
    queueMetalDisplay();
}

void TerminalView::linefeed(Terminal&) {
    if (m_allowMouseReporting && m_selection && m_selection->active()) {
        m_selection->selectNone();
    }
}

void TerminalView::redrawWholeView() {
    setNeedsDisplay(QRectF(rect()));
}

// ---- Clipboard ------------------------------------------------------------------------------

void TerminalView::copy() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(m_selection->getSelectedText()),
                                          QClipboard::Clipboard);
}

void TerminalView::publishPrimarySelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()) {
        clipboard->setText(QString::fromStdString(m_selection->getSelectedText()),
                           QClipboard::Selection);
    }
}

void TerminalView::pastePrimarySelection() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()) {
        insertText(clipboard->text(QClipboard::Selection), true);
    }
}

} // namespace veldatron
