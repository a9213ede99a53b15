#include "SearchService.h"

#include "TerminalServices.h"

#include <algorithm>

namespace veldatron {

SearchService::SearchService(TerminalServices& terminal)
    : m_terminal(terminal), m_lineCache(terminal), m_engine(terminal, m_lineCache) {}

std::optional<SearchResult> SearchService::findNext(const std::string& term,
                                                    const SearchOptions& options) {
    return step(term, options, &SearchEngine::findNextWithSelection);
}

std::optional<SearchResult> SearchService::findPrevious(const std::string& term,
                                                        const SearchOptions& options) {
    return step(term, options, &SearchEngine::findPreviousWithSelection);
}

std::optional<SearchResult>
SearchService::step(const std::string& term, const SearchOptions& options, EngineStep engineStep) {
    if (term.empty()) {
        m_state = SearchState();
        m_lastResult.reset();
        m_lastSelection.reset();
        return std::nullopt;
    }
    m_state.lastSearchOptions = options;
    return record(term,
                  (m_engine.*engineStep)(term, options, m_state.cachedSearchTerm, m_lastSelection));
}

std::optional<SearchResult> SearchService::record(const std::string& term,
                                                  std::optional<SearchResult> result) {
    m_state.cachedSearchTerm = term;
    m_lastResult = result;
    m_lastSelection.reset();
    if (result) {
        const Position start{result->col, result->row};
        Position end = start;
        if (result->size > 0) {
            const int64_t width = std::max(m_terminal.cols(), 1);
            const int64_t cell = result->col + result->row * width + result->size;
            end = Position{cell % width, cell / width};
        }
        m_lastSelection = SearchSelection{start, end};
    }
    return result;
}

std::vector<SearchResult> SearchService::findAll(const std::string& term,
                                                 const SearchOptions& options, int64_t limit) {
    return m_engine.findAll(term, options, limit);
}

void SearchService::invalidate() {
    m_lineCache.invalidate();
    m_lastResult.reset();
    m_lastSelection.reset();
}

void SearchService::reset() {
    invalidate();
    m_state = SearchState();
}

} // namespace veldatron
