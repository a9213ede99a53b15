// Find in the terminal's text, scrollback included: the find bar, the find commands and the
// programmatic interface. The search service matches; a match becomes the selection and is
// scrolled into the middle of the view.

#include "SearchService.h"
#include "SelectionService.h"
#include "TerminalFindBarView.h"
#include "TerminalView.h"

#include <QLineEdit>
#include <QPointer>

#include <algorithm>

namespace veldatron {

QString& TerminalView::findPasteboard() {
    static QString pasteboard;
    return pasteboard;
}

// ---- Commands -------------------------------------------------------------------------------

void TerminalView::performFindPanelAction(int tag) {
    switch (tag) {
    case 1:
        showFindBar(true);
        break;
    case 2:
        performFind(true);
        break;
    case 3:
        performFind(false);
        break;
    case 7:
        setFindPasteboardFromSelection();
        showFindBar(true);
        break;
    case 11:
        hideFindBar();
        break;
    default:
        break;
    }
}

TerminalFindBarView& TerminalView::ensureFindBar() {
    if (m_findBar != nullptr) {
        return *m_findBar;
    }
    auto* bar = new TerminalFindBarView(this);
    bar->hide();
    QPointer<TerminalView> self(this);
    bar->onSearchChanged = [self](const QString& text) {
        if (self) {
            self->handleFindBarSearchChanged(text);
        }
    };
    bar->onFindNext = [self] {
        if (self) {
            self->performFind(true);
        }
    };
    bar->onFindPrevious = [self] {
        if (self) {
            self->performFind(false);
        }
    };
    bar->onClose = [self] {
        if (self) {
            self->hideFindBar();
        }
    };
    bar->onOptionsChanged = [self](const SearchOptions& options) {
        if (!self) {
            return;
        }
        self->m_findBarOptions = options;
        if (!self->m_findBarTerm.isEmpty()) {
            self->findNext(self->m_findBarTerm, options, true);
        }
    };
    m_findBar = bar;
    return *bar;
}

void TerminalView::showFindBar(bool prefillSelection) {
    TerminalFindBarView& bar = ensureFindBar();
    bar.place();
    bar.show();
    bar.raise();
    std::optional<QString> prefill;
    if (prefillSelection) {
        const QString selected = QString::fromStdString(m_selection->getSelectedText());
        if (!selected.isEmpty()) {
            prefill = selected;
        }
    }
    if (!prefill && !findPasteboard().isEmpty()) {
        prefill = findPasteboard();
    }
    if (prefill) {
        bar.searchField()->setText(*prefill);
        handleFindBarSearchChanged(*prefill);
    }
    bar.searchField()->setFocus();
    bar.searchField()->selectAll();
}

void TerminalView::hideFindBar() {
    if (m_findBar != nullptr) {
        m_findBar->hide();
    }
    setFocus();
}

void TerminalView::handleFindBarSearchChanged(const QString& text) {
    m_findBarTerm = text;
    if (text.isEmpty()) {
        clearSearch();
        return;
    }
    findPasteboard() = text;
    findNext(text, m_findBarOptions, true);
}

void TerminalView::performFind(bool next) {
    QString term;
    if (m_findBar != nullptr && !m_findBar->isHidden()) {
        term = m_findBar->searchField()->text();
    } else {
        term = findPasteboard();
    }
    if (term.isEmpty()) {
        return;
    }
    findPasteboard() = term;
    const SearchOptions options = m_findBar != nullptr ? m_findBar->options() : SearchOptions{};
    find(term, options, true, next);
}

void TerminalView::setFindPasteboardFromSelection() {
    const QString selected = QString::fromStdString(m_selection->getSelectedText());
    if (!selected.isEmpty()) {
        findPasteboard() = selected;
    }
}

// ---- Searching ------------------------------------------------------------------------------

bool TerminalView::findNext(const QString& term, const SearchOptions& options,
                            bool scrollToResult) {
    return find(term, options, scrollToResult, true);
}

bool TerminalView::findPrevious(const QString& term, const SearchOptions& options,
                                bool scrollToResult) {
    return find(term, options, scrollToResult, false);
}

bool TerminalView::find(const QString& term, const SearchOptions& options, bool scrollToResult,
                        bool next) {
    // The search goes on from the selection, whichever way round it was made.
    if (m_selection->active()) {
        const Position& a = m_selection->start();
        const Position& b = m_selection->end();
        m_search->setLastSelection(SearchSelection{std::min(a, b), std::max(a, b)});
    } else {
        m_search->setLastSelection(std::nullopt);
    }
    const std::string text = term.toStdString();
    const std::optional<SearchResult> result =
        next ? m_search->findNext(text, options) : m_search->findPrevious(text, options);
    if (!result) {
        selectNone();
        return false;
    }
    // The match's cells run on over row ends, counted in the terminal's width.
    const int64_t w = std::max(m_terminal->cols(), 1);
    const Position start{result->col, result->row};
    Position end = start;
    if (result->size != 0) {
        const int64_t n = result->row * w + result->col + result->size;
        end = Position{n % w, n / w};
    }
    m_selection->setSelection(start, end);
    if (scrollToResult) {
        scrollToReveal(int(std::clamp<int64_t>(result->row, 0, INT32_MAX)));
    }
    return true;
}

void TerminalView::clearSearch() {
    m_search->reset();
    selectNone();
}

std::pair<int, int> TerminalView::searchMatchSummary(const QString& term,
                                                     const SearchOptions& options, int limit) {
    const std::vector<SearchResult> matches = m_search->findAll(term.toStdString(), options, limit);
    const int total = int(matches.size());
    const std::optional<SearchResult>& last = m_search->lastResult();
    if (!last) {
        return {0, total};
    }
    const auto found = std::find_if(matches.begin(), matches.end(), [&](const SearchResult& m) {
        return m.col == last->col && m.row == last->row;
    });
    if (found == matches.end()) {
        return {0, total};
    }
    return {int(found - matches.begin()) + 1, total};
}

void TerminalView::scrollToReveal(int row) {
    const int rows = m_terminal->rows();
    const Buffer& buffer = m_terminal->buffer();
    if (rows <= 0 || m_terminal->isCurrentBufferAlternate()) {
        return;
    }
    const int yDisp = buffer.yDisp();
    if (row >= yDisp && row <= yDisp + rows - 1) {
        return;
    }
    // Into the middle of the screen where possible.
    const int lines = buffer.lines().count();
    scrollTo(std::min(std::max(0, lines - rows), std::max(0, row - rows / 2)), true);
}

} // namespace veldatron
