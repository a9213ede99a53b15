#pragma once

#include "BidiRowLayout.h"
#include "ViewUnicodeTables.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veldatron {

class Buffer;
class BufferLine;
class Terminal;
class TerminalServices;

/// Lays out rows that hold right-to-left text, for drawing and hit testing. The screen keeps
/// every row in logical order; this finds the visual order of a row's cells at drawing time.
///
/// A row in implicit mode is laid out with the paragraph it belongs to (the rows joined by soft
/// wraps): the paragraph's base direction comes from its settings or its first strong letter,
/// the Unicode bidirectional algorithm (ICU) orders each row's cells with that paragraph level,
/// Arabic letters take their contextual forms (shapeArabic), and paired characters in
/// right-to-left runs are mirrored. A right-to-left row in explicit mode is simply reversed.
///
/// Each cell stands for one UTF-16 unit in the string handed to the algorithm (probeScalar), so
/// string index i is cell i and the visual map needs no translation.
///
/// Results are cached process-wide in two caches under one lock: by the identity and revision of
/// the paragraph's rows, and by the paragraph's content (so that a paragraph scrolled or redrawn
/// unchanged is not laid out again). Each holds at most `cacheLimit` entries and is emptied
/// whole when full. All operations are static; any thread may call them.
class TerminalBidi {
public:
    using Joining = ucd::Joining;

    static constexpr size_t cacheLimit = 256;

    /// One logical cell of a paragraph.
    struct Cell {
        /// The buffer line (inside a cached paragraph: the offset from its first row).
        int row = 0;
        int logicalCol = 0;
        /// At least 1.
        int width = 1;
        /// One grapheme cluster.
        std::u32string text;

        friend bool operator==(const Cell&, const Cell&) = default;
    };

    /// The layout of the paragraph that holds a row.
    struct ParagraphResult {
        int firstRow = 0;
        /// One entry per row of the paragraph from `firstRow`; null for a row drawn without a
        /// layout. Empty for a paragraph with nothing to reorder.
        std::vector<std::shared_ptr<const BidiRowLayout>> rowsByOffset;
        BidiDirection baseDirection = BidiDirection::leftToRight;

        /// The layout of buffer line `row`, or null.
        std::shared_ptr<const BidiRowLayout> row(int row) const;
    };

    /// How often each cache answered and how often a paragraph was laid out.
    struct CacheStatistics {
        uint64_t identityHits = 0;
        uint64_t contentHits = 0;
        uint64_t builds = 0;
        size_t paragraphCacheSize = 0;
        size_t contentCacheSize = 0;
    };

    /// U+0590-08FF, FB1D-FDFF, FE70-FEFC, 10800-10FFF, 1E800-1EFFF and the four right-to-left
    /// controls (RLM, RLE, RLO, RLI).
    static bool isRightToLeft(char32_t scalar);
    /// A cell among the line's first `cols` columns holds a right-to-left scalar.
    static bool mayNeedBidi(const BufferLine& line, int cols, const TerminalServices& terminal);

    /// The layout of the implicit-mode paragraph that holds buffer line `row` of `buffer` (the
    /// terminal's active buffer), for `cols` columns; `font` identifies the font it is drawn
    /// with. Null for a row outside the buffer, a row in explicit mode, and a paragraph longer
    /// than the terminal's maximumBidiParagraphRows.
    static std::shared_ptr<const ParagraphResult> paragraphResult(int row, const Buffer& buffer,
                                                                  int cols,
                                                                  const Terminal& terminal,
                                                                  uint64_t font);
    /// An explicit-mode right-to-left row reversed, paired characters mirrored, nothing shaped.
    /// Null for a row outside the buffer.
    static std::shared_ptr<const BidiRowLayout>
    explicitRightToLeftLayout(int row, const Buffer& buffer, int cols,
                              const TerminalServices& terminal);
    /// The buffer lines lo...hi widened to the whole paragraphs at both ends.
    static std::pair<int, int> renderingDependencyRange(int lo, int hi, const Buffer& buffer,
                                                        int maximumRows);
    /// The revision of the paragraph that holds `row`: changes whenever a row of it is replaced,
    /// changed or rewrapped; 0 without a paragraph (explicit mode, too long, outside).
    static uint64_t layoutRevision(int row, const Buffer& buffer, int maximumRows);

    // ---- Parts of the layout, for the callers above and for tests ---------------------------
    /// The rows joined to `row` by soft wraps, at most max(maximumRows, 1) of them; none when
    /// the paragraph is longer. Row 0 always starts a paragraph.
    static std::optional<std::pair<int, int>> paragraphBounds(int row, const Buffer& buffer,
                                                              int maximumRows);
    /// LRM or RLM decide at once; otherwise the first alphabetic scalar; else the fallback.
    static BidiDirection detectedBaseDirection(std::span<const Cell> cells, BidiDirection fallback);
    /// The one UTF-16 unit that stands for a cell's text in the string given to the algorithm.
    static char16_t probeScalar(std::u32string_view text);

    // ---- Arabic shaping and mirroring (TerminalBidiShaping.cpp) -----------------------------
    /// From the Unicode 17 joining table; outside it transparent for Mn, Me and Cf, else none.
    static Joining joiningType(char32_t scalar);
    /// A letter's presentation forms (initial and medial 0 where it has none); null without.
    static const ucd::ArabicForms* forms(char32_t letter);
    /// The isolated and final forms of lam followed by `alef`.
    static std::optional<std::pair<char32_t, char32_t>> lamAlef(char32_t alef);
    /// The Unicode 17 mirroring glyph.
    static std::optional<char32_t> mirror(char32_t scalar);
    /// The left-right mirror of a box-drawing corner, tee or end.
    static std::optional<char32_t> boxMirror(char32_t scalar);
    /// The contextual form of each cell of a paragraph in logical order (with the cell's marks
    /// after it), or none where the cell keeps its own character.
    static std::vector<std::optional<std::u32string>> shapeArabic(std::span<const Cell> cells);

    static CacheStatistics cacheStatistics();
    /// Empties both caches and zeroes the counters (tests start from a known state).
    static void clearCaches();
};

} // namespace veldatron
