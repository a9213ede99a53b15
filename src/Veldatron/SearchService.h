#pragma once

#include "SearchEngine.h"
#include "SearchLineCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldatron {

class TerminalServices;

// The term and options of the last findNext or findPrevious; the options are recorded, not
// consulted.
struct SearchState {
    std::optional<std::string> cachedSearchTerm;
    std::optional<SearchOptions> lastSearchOptions;
};

// Find in a terminal's text, scrollback included: the next or previous match from the current
// one, wrapping round, and the list of all matches. The view holds one per terminal; before each
// step it stores the current selection (start before end) in lastSelection, or clears it when
// nothing is selected, and afterwards selects the cells of the result. It calls invalidate()
// whenever the terminal receives data or resizes, and reset() when the user clears the search.
//
// The terminal must outlive the service. Single-threaded, like the terminal.
class SearchService {
public:
    explicit SearchService(TerminalServices& terminal);

    // The next (previous) match after (before) lastSelection, or none. An empty term forgets the
    // last result, selection, term and options. Otherwise the term and options become the
    // state, and the result and its cells become lastResult and lastSelection.
    std::optional<SearchResult> findNext(const std::string& term, const SearchOptions& options);
    std::optional<SearchResult> findPrevious(const std::string& term, const SearchOptions& options);
    // Every match from the top, in reading order, at most `limit`; changes no state.
    std::vector<SearchResult> findAll(const std::string& term, const SearchOptions& options,
                                      int64_t limit);
    // Drops the cached line texts, the last result and the last selection; the term and options
    // stay.
    void invalidate();
    // As invalidate(), and forgets the term and options too.
    void reset();

    const SearchState& state() const { return m_state; }
    const std::optional<SearchSelection>& lastSelection() const { return m_lastSelection; }
    void setLastSelection(std::optional<SearchSelection> selection) { m_lastSelection = selection; }
    const std::optional<SearchResult>& lastResult() const { return m_lastResult; }

private:
    using EngineStep = std::optional<SearchResult> (SearchEngine::*)(
        const std::string&, const std::optional<SearchOptions>&, const std::optional<std::string>&,
        const std::optional<SearchSelection>&);
    // findNext or findPrevious with the engine's step.
    std::optional<SearchResult> step(const std::string& term, const SearchOptions& options,
                                     EngineStep engineStep);
    // The step's result becomes the state: lastResult, and its cells as lastSelection.
    std::optional<SearchResult> record(const std::string& term, std::optional<SearchResult> result);

    TerminalServices& m_terminal;
    SearchState m_state;
    SearchLineCache m_lineCache;
    SearchEngine m_engine;
    std::optional<SearchSelection> m_lastSelection;
    std::optional<SearchResult> m_lastResult;
};

} // namespace veldatron
