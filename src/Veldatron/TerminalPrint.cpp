#include "Terminal.h"

#include "UnicodeUtil.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace veldatron {

namespace {

constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t textPresentationSelector = 0xFE0E;
constexpr char32_t emojiPresentationSelector = 0xFE0F;

constexpr bool isRegionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Scalars that always attach to the cell before them: the zero-width joiner, variation selectors
// (including the Mongolian free ones and the supplement) and the emoji skin-tone modifiers.
constexpr bool isJoiner(char32_t s) {
    return s == zeroWidthJoiner || (s >= 0xFE00 && s <= 0xFE0F) || (s >= 0x180B && s <= 0x180D) ||
           s == 0x180F || (s >= 0xE0100 && s <= 0xE01EF) || (s >= 0x1F3FB && s <= 0x1F3FF);
}

int widthOf(char32_t scalar) {
    return scalar < 0x2000 ? UnicodeUtil::lowPlaneWidths[scalar] : UnicodeUtil::columnWidth(scalar);
}

// Every character with an emoji variation sequence lies below U+20000: one bit each answers the
// question a selector asks of the character before it, in one read (a search of the ranges costs
// far more, once per selector, and emoji text has one after most pictographs).
constexpr char32_t variationBaseLimit = 0x20000;

const std::array<uint64_t, variationBaseLimit / 64>& variationBaseBits() {
    static const auto bits = [] {
        std::array<uint64_t, variationBaseLimit / 64> table{};
        for (const auto& range : UnicodeWidthData::emojiVs16Base) {
            for (char32_t c = range.lo; c <= range.hi && c < variationBaseLimit; ++c) {
                table[c / 64] |= uint64_t(1) << (c % 64);
            }
        }
        return table;
    }();
    return bits;
}

bool isEmojiVariationBase(char32_t scalar) {
    if (scalar < variationBaseLimit) {
        return (variationBaseBits()[scalar / 64] >> (scalar % 64)) & 1;
    }
    return UnicodeUtil::bisearch(scalar, UnicodeWidthData::emojiVs16Base,
                                 int(UnicodeWidthData::emojiVs16Base.size()) - 1);
}

// The scalar of the complete, well-formed UTF-8 sequence of two to four bytes at `p`, its column
// width and its length; 0 for anything else (a lead byte that starts none, an overlong form, a
// surrogate, a value above U+10FFFF, a sequence the end of the run cuts off). The width is read
// where the length is known: below U+0800 one table read does, and a well-formed scalar is at
// most U+10FFFF, so the two-stage read needs no range check.
inline int decodeComplete(const uint8_t* p, const uint8_t* end, char32_t& scalar, int& width) {
    const uint8_t lead = p[0];
    if (lead < 0xC2) {
        return 0;
    }
    if (lead < 0xE0) {
        if (end - p < 2 || (p[1] & 0xC0) != 0x80) {
            return 0;
        }
        scalar = char32_t(lead & 0x1F) << 6 | (p[1] & 0x3F);
        width = UnicodeUtil::lowPlaneWidths[scalar];
        return 2;
    }
    // The continuation bytes are checked together, as the bytes of one little-endian word.
    if (lead < 0xF0) {
        if (end - p < 3) {
            return 0;
        }
        uint16_t rest;
        std::memcpy(&rest, p + 1, 2);
        if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
            rest = __builtin_bswap16(rest);
        }
        if ((rest & 0xC0C0) != 0x8080) {
            return 0;
        }
        scalar = char32_t(lead & 0x0F) << 12 | char32_t(rest & 0x3F) << 6 | ((rest >> 8) & 0x3F);
        if (scalar < 0x800 || (scalar >= 0xD800 && scalar <= 0xDFFF)) {
            return 0;
        }
        width = UnicodeUtil::columnWidthOfScalar(scalar);
        return 3;
    }
    if (lead > 0xF4 || end - p < 4) {
        return 0;
    }
    uint32_t word;
    std::memcpy(&word, p, 4);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        word = __builtin_bswap32(word);
    }
    if ((word & 0xC0C0C000) != 0x80808000) {
        return 0;
    }
    scalar = char32_t(lead & 0x07) << 18 | char32_t((word >> 8) & 0x3F) << 12 |
             char32_t((word >> 16) & 0x3F) << 6 | ((word >> 24) & 0x3F);
    if (scalar < 0x10000 || scalar > 0x10FFFF) {
        return 0;
    }
    width = UnicodeUtil::columnWidthOfScalar(scalar);
    return 4;
}

constexpr bool isScalarValue(int64_t code) {
    return code >= 0 && code < 0x110000 && !(code >= 0xD800 && code <= 0xDFFF);
}

} // namespace

// ---- Entry from the parser ------------------------------------------------------------------

void Terminal::printRun(std::span<const uint8_t> run, bool printableAscii) {
    const bool resumed = m_buffer->resumeHeldCursor();
    const int x = m_buffer->x();
    // Whether the run wrote a cell: a character printed right of the margins and then widened
    // by a selector ends where the cursor started. The row is found again by its index: a run
    // that wraps may scroll it away, and then no cursor is held anyway (autowrap is on).
    const int rowIndex = m_buffer->yBase() + m_buffer->y();
    const uint64_t generation = m_buffer->lines()[rowIndex].generation();
    if (printableAscii && m_putbackLength == 0 && !translatesAscii()) {
        Buffer& buffer = *m_buffer;
        const int y = buffer.y();
        const int yDisp = buffer.yDisp();
        updateRange(buffer, y);
        const size_t printed = size_t(buffer.insertAsciiRun(
            run, m_curAttr, Buffer::PayloadResolver([this] { return resolveActiveHyperlink(); })));
        if (printed == run.size()) {
            // Marking the same row again would change nothing.
            if (buffer.y() != y || buffer.yDisp() != yDisp) {
                updateRange(buffer, buffer.y());
            }
        } else {
            // In insert mode nothing was written; with autowrap off the run stopped at the right
            // limit, where every further character overwrites the last column, as printing the
            // whole run again one character at a time would.
            printGeneral(run.subspan(printed));
        }
    } else if (!run.empty()) {
        printGeneral(run);
    }
    // A cursor that nothing moved stays where it stands, also right of the margins.
    if (resumed || m_buffer->x() != x ||
        m_buffer->lines()[rowIndex].generation() != generation) {
        m_buffer->holdCursorAtRightLimit();
    }
}

void Terminal::printGeneral(std::span<const uint8_t> run) {
    updateRange(*m_buffer, m_buffer->y());
    m_plainBefore = false;
    m_runCellsReady = false;
    const uint8_t* p = run.data();
    const uint8_t* const end = p + run.size();
    const auto resolve = [this] { return resolveActiveHyperlink(); };

    if (m_putbackLength > 0) {
        // Complete the character the last run ended in with the first bytes of this one.
        std::array<uint8_t, 8> joined{};
        const size_t carried = m_putbackLength;
        std::copy_n(m_putback.begin(), carried, joined.begin());
        const size_t take = std::min<size_t>(size_t(end - p), 4);
        std::copy_n(p, take, joined.begin() + carried);
        const size_t used = printOne(joined.data(), joined.data() + carried + take);
        if (used == 0) {
            // Still incomplete: the run is a few continuation bytes, and all of them are kept.
            std::copy_n(p, take, m_putback.begin() + carried);
            m_putbackLength = uint8_t(carried + take);
            updateRange(*m_buffer, m_buffer->y());
            return;
        }
        m_putbackLength = 0;
        p += used > carried ? used - carried : 0;
    }

    const bool asciiDirect = !translatesAscii();
    while (p < end) {
        p += printSpan(p, end, asciiDirect);
        if (p == end) {
            break;
        }
        // What the span could not take: a character that wraps, joins or needs a closer look.
        const uint8_t byte = *p;
        if (byte >= 0x20 && byte < 0x7F && asciiDirect) {
            // Plain ASCII inside mixed text is written a stretch at a time; it never joins the
            // cell before it.
            const uint8_t* stop = p + 1;
            while (stop < end && *stop >= 0x20 && *stop < 0x7F) {
                ++stop;
            }
            const auto stretch = std::span(p, size_t(stop - p));
            prepareRunCells();
            const int written = m_buffer->putAsciiCells(stretch, m_runCell)
                                    ? int(stretch.size())
                                    : m_buffer->insertAsciiRun(stretch, m_curAttr, resolve);
            p += written;
            m_plainBefore = m_plainBefore || written > 0;
            for (; p < stop; ++p) {
                printCell(*p, 1);
            }
            continue;
        }
        const size_t used = printOne(p, end);
        if (used == 0) {
            // The run ends inside a character: keep its bytes for the next run.
            m_putbackLength = uint8_t(end - p);
            std::copy(p, end, m_putback.begin());
            break;
        }
        p += used;
    }
    updateRange(*m_buffer, m_buffer->y());
}

size_t Terminal::printSpan(const uint8_t* begin, const uint8_t* end, bool asciiDirect) {
    Buffer::PrintSpan span = m_buffer->beginPrintSpan();
    if (span.x >= span.end) {
        return 0;
    }
    prepareRunCells();
    // Each cell is the run's template with a code and width put in, which keeps the cell in two
    // registers; building it field by field costs several times as much in a loop that runs
    // once per character.
    const CharData::Stamp stamp(m_runCell);
    const CharData half = m_runHalf;
    CharData* const cells = span.cells;
    const int stop = span.end;
    CharData* const limit = cells + stop;
    // The cursor's cell.
    CharData* at = cells + span.x;
    // The loop keeps only the cursor in a register: the row's change count is the cells the
    // cursor passed plus `extra` (cells stored again by a join, or passed twice after a text
    // selector moved the cursor back), and `written` goes past the cursor only after such a move.
    uint64_t extra = 0;
    int written = span.x;
    // The cell the last character went to (null: none, when nothing can join), and what may
    // still join it besides zero-width scalars: anything after a joiner, and a second regional
    // indicator after a first.
    CharData* lastCell = nullptr;
    enum class Open : uint8_t { nothing, joiner, regional };
    Open open = Open::nothing;
    // Writes a character of width 1 or 2 that fits at the cursor.
    const auto put = [&](int32_t code, int width) {
        // The empty half goes first: for a narrow character the same cell is written again at
        // once, which costs less than a branch that text mixing narrow and wide characters (box
        // drawing among CJK) mispredicts.
        at[width - 1] = half;
        *at = stamp(code, width);
        at += width;
    };
    // DEL is dropped and a character set may replace ASCII: the general path does both.
    const uint8_t asciiEnd = asciiDirect ? 0x7F : 0;
    const uint8_t* p = begin;
    if (*p >= 0x80 && span.x > 0) {
        // Text beyond ASCII may join the character before the cursor, printed by anything.
        if (const CellRef target = combiningTarget(*m_buffer)) {
            const CharData& before = cells[target.col];
            if (target.col + before.width() != span.x) {
                return 0; // not right before the cursor: the general path finds out
            }
            lastCell = cells + target.col;
            const InternedCluster* cluster = interned(before.code());
            const char32_t lastScalar = cluster ? cluster->lastScalar : char32_t(before.code());
            if (lastScalar == zeroWidthJoiner) {
                open = Open::joiner;
            } else if ((!cluster || cluster->scalarCount == 1) && isRegionalIndicator(lastScalar)) {
                open = Open::regional;
            }
        }
    }

    // Joins a scalar to the cell the last character went to; false when the two are not one
    // grapheme cluster. The width stays.
    const auto joinLast = [&](char32_t scalar) {
        const int32_t joined = combinedCode(lastCell->code(), scalar);
        if (joined < 0) {
            return false;
        }
        lastCell->setCode(joined);
        ++extra;
        open = scalar == zeroWidthJoiner ? Open::joiner : Open::nothing;
        return true;
    };

    // The cells written here reach the row's stored cells at the end: the clusters they hold
    // must not be reclaimed before.
    m_clusterTable.holdReclaiming();
    // One character a turn: text changes between UTF-8 lengths, and between them and ASCII,
    // every few characters (a word of Greek, two CJK, a blank, an emoji, a letter and its
    // marks). The common cases come first, with the cursor and the cell a character may join
    // kept in registers.
    while (p < end) {
        const uint8_t lead = *p;
        if (lead < asciiEnd) {
            if (at >= limit) {
                break; // wraps
            }
            // ASCII never joins the cell before it.
            lastCell = at;
            put(lead, 1);
            open = Open::nothing;
            ++p;
            continue;
        }
        char32_t scalar = 0;
        int width = 0;
        const int length = decodeComplete(p, end, scalar, width);
        if (length == 0) {
            // ASCII left to the general path, or invalid or cut off: the general path prints or
            // keeps the bytes.
            break;
        }
        if (width > 0 && open == Open::nothing &&
            (scalar <= 0xFFFF || !isRegionalIndicator(scalar))) {
            // Nothing joins a character of a width of its own but after a joiner, or as the
            // second letter of a flag.
            if (at + width > limit) {
                break; // wraps
            }
            lastCell = at;
            // Above U+FFFF a scalar needs a code of its own (an emoji, most often).
            put(scalar <= 0xFFFF ? int32_t(scalar) : internScalar(scalar), width);
            p += length;
            continue;
        }
        if (width <= 0) {
            // A C1 control sent as UTF-8 is dropped, and so is a zero-width scalar with nothing
            // to join or that does not join.
            if (width == 0 && lastCell != nullptr) {
                if (scalar != textPresentationSelector && scalar != emojiPresentationSelector) {
                    joinLast(scalar); // a mark, joiner or modifier
                } else {
                    const SelectorJoin result =
                        joinSelector(cells, int(lastCell - cells), int(at - cells), stop, scalar);
                    if (result == SelectorJoin::undecided) {
                        break;
                    }
                    if (result != SelectorJoin::dropped) {
                        open = Open::nothing;
                        ++extra;
                    }
                    if (result == SelectorJoin::widened) {
                        ++at; // past the new empty half
                    } else if (result == SelectorJoin::narrowed) {
                        // Back onto the empty half, which the next character overwrites.
                        written = std::max(written, int(at - cells));
                        --at;
                        ++extra;
                    }
                }
            }
            p += length;
            continue;
        }
        // A character after a joiner, or a regional indicator.
        const bool regional = isRegionalIndicator(scalar);
        if (regional && m_options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow) {
            break; // a narrow flag widens when its second letter joins
        }
        if ((open == Open::joiner || (regional && open != Open::nothing)) && joinLast(scalar)) {
            p += length;
            continue;
        }
        if (at + width > limit) {
            break; // wraps
        }
        lastCell = at;
        put(scalar <= 0xFFFF ? int32_t(scalar) : internScalar(scalar), width);
        open = regional ? Open::regional : Open::nothing;
        p += length;
    }
    // A text selector may have moved the cursor back before the span's first cell.
    const int x = int(at - cells);
    const int64_t changes = int64_t(x) - span.x + int64_t(extra);
    m_buffer->endPrintSpan(span, x, std::max(written, x), uint64_t(changes));
    m_clusterTable.releaseReclaiming();
    if (lastCell != nullptr) {
        // The cell before the cursor is the span's last character; only what `open` says can
        // join it besides zero-width scalars.
        m_plainBefore = open == Open::nothing;
    } else if (p != begin) {
        m_plainBefore = false; // only dropped scalars: the general path looks again
    }
    return size_t(p - begin);
}

Terminal::SelectorJoin Terminal::joinSelector(CharData* cells, int last, int x, int stop,
                                              char32_t selector) {
    CharData cell = cells[last];
    const int32_t base = cell.code();
    const int32_t joined = combinedCode(base, selector);
    const InternedCluster* cluster = interned(base);
    const char32_t lastScalar = cluster ? cluster->lastScalar : char32_t(base);
    if (joined < 0 || !isScalarValue(lastScalar) || !isEmojiVariationBase(lastScalar)) {
        // A selector that joins nothing, or follows a character without a variation sequence,
        // is dropped.
        return SelectorJoin::dropped;
    }
    SelectorJoin result = SelectorJoin::joined;
    int width = cell.width();
    if (selector == emojiPresentationSelector) {
        if (width != 2) {
            if (x >= stop) {
                return SelectorJoin::undecided; // at the edge or a margin
            }
            cells[x] = CharData(cell.attribute(), 0, 0, cell.payload(), cell.semanticContentCode());
            width = 2;
            result = SelectorJoin::widened;
        }
    } else if (width == 2) {
        // Text presentation: one column, and the next character takes the freed cell.
        width = 1;
        result = SelectorJoin::narrowed;
    }
    cell.setValue(joined, width);
    cells[last] = cell;
    return result;
}

size_t Terminal::printOne(const uint8_t* p, const uint8_t* end) {
    const uint8_t lead = *p;
    const uint8_t entry = UnicodeUtil::first[lead];
    if (entry >= 0xF0) {
        // A byte of its own: ASCII (through the character set in use), a byte that cannot start a
        // sequence (printed as the Latin-1 character of its value), or a control (dropped).
        if (lead < 0x7F && m_charset != nullptr) {
            if (const char32_t replacement = m_charset->replacement(lead)) {
                printCell(int32_t(replacement), 1);
                return 1;
            }
        }
        const int width = UnicodeUtil::lowPlaneWidths[lead];
        if (width >= 1) {
            printCell(lead, width);
        }
        return 1;
    }

    const int length = entry & 0x0F;
    char32_t scalar = lead & (0x7F >> length);
    int k = 1;
    for (; k < length; ++k) {
        if (p + k >= end) {
            return 0;
        }
        const uint8_t next = p[k];
        if ((next & 0xC0) != 0x80) {
            break;
        }
        scalar = (scalar << 6) | (next & 0x3F);
    }
    const bool valid = k == length &&
                       scalar >= (length == 2   ? 0x80u
                                  : length == 3 ? 0x800u
                                                : 0x10000u) &&
                       scalar <= 0x10FFFF && !(scalar >= 0xD800 && scalar <= 0xDFFF);
    if (!valid) {
        // The lead byte stands for itself; reading resumes at the first byte that does not
        // continue the sequence, so "C3 41" keeps its "A".
        const int width = UnicodeUtil::lowPlaneWidths[lead];
        if (width >= 1) {
            printCell(lead, width);
        }
        return size_t(k);
    }

    int width = widthOf(scalar);
    if (width < 0) {
        return size_t(length);
    }
    if (width == 2 && isRegionalIndicator(scalar) &&
        m_options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow) {
        width = 1;
    }
    printScalar(scalar, width);
    return size_t(length);
}

void Terminal::prepareRunCells() {
    if (m_runCellsReady) {
        return;
    }
    m_runCellsReady = true;
    // The link cannot change within a run, nor the shell-integration content: every cell of
    // the run is the ASCII template with its code and width, and its empty halves share the
    // payload and content code. Line after line of output keeps its attributes: the empty half
    // of the last run serves again when nothing it is made from changed.
    const CharData& cell = asciiCell();
    if (!(m_runCell == cell) || !(m_runHalfAttribute == m_buffer->curAttr())) {
        m_runCell = cell;
        m_runHalfAttribute = m_buffer->curAttr();
        m_runHalf = CharData(m_runHalfAttribute, 0, 0, cell.payload(), cell.semanticContentCode());
    }
}

CharData Terminal::linkedAsciiCell() {
    return CharData(m_curAttr, 0, 1, resolveActiveHyperlink().value_or(TinyAtom()),
                    m_buffer->semanticContent.cellCode());
}

inline void Terminal::printCell(int32_t code, int width) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    prepareRunCells();
    CharData cell = m_runCell;
    cell.setValue(code, width);
    if (!buffer.putCell(cell, m_runHalf)) {
        buffer.insertCharacter(CharData(m_curAttr, code, width),
                               [this] { return resolveActiveHyperlink(); });
    }
    // The cursor moved past the new cell, so it is the cell the next character could join
    // (a dropped character moves nothing).
    m_plainBefore = buffer.x() != x || buffer.y() != y;
}

// ---- Joining --------------------------------------------------------------------------------

void Terminal::printScalar(char32_t scalar, int width) {
    const auto printNormally = [&] {
        printCell(scalar <= 0xFFFF ? int32_t(scalar) : internScalar(scalar), width);
        // A lone regional indicator may still become a flag.
        m_plainBefore = m_plainBefore && !isRegionalIndicator(scalar);
    };
    const bool plainBefore = m_plainBefore;
    m_plainBefore = false;
    // Combine with the target, or when the two are not one cluster, print the scalar on its own
    // (a zero-width one is dropped).
    const auto combineOrPrint = [&](const CellRef& target) {
        if (!combine(target, scalar) && width != 0) {
            printNormally();
        }
    };

    if (isJoiner(scalar) || width == 0) {
        if (auto target = combiningTarget(*m_buffer)) {
            combineOrPrint(target);
        } else if (width != 0) {
            printNormally();
        }
        return;
    }
    // A scalar with a width of its own has combining class 0 (every mark is zero-width), so it
    // attaches only after a joiner, or as the second letter of a flag.
    if (plainBefore && !isRegionalIndicator(scalar)) {
        // The cell before is a character this run printed, which neither ends in a joiner nor
        // is half a flag: nothing to join.
        printNormally();
        return;
    }
    const auto target = combiningTarget(*m_buffer);
    if (!target) {
        printNormally();
        return;
    }
    BufferLine& line = m_buffer->lines()[target.row];
    const int32_t base = line[target.col].code();
    char32_t last = 0;
    size_t scalars = 1;
    if (const InternedCluster* cluster = interned(base)) {
        last = cluster->lastScalar;
        scalars = cluster->scalarCount;
    } else {
        last = char32_t(base);
    }
    if (last == zeroWidthJoiner ||
        (isRegionalIndicator(scalar) && scalars == 1 && isRegionalIndicator(last))) {
        combineOrPrint(target);
    } else {
        printNormally();
    }
}

Terminal::CellRef Terminal::combiningTarget(Buffer& buffer) {
    const int x = buffer.x();
    if (x <= 0) {
        return {};
    }
    const int row = buffer.yBase() + buffer.y();
    const BufferLine& line = buffer.lines()[row];
    int col = x - 1;
    // Step left over the empty halves of wide characters to the character they belong to.
    while (col > 1 && line[col].width() == 0) {
        --col;
    }
    if (col == 1 && line[1].width() == 0) {
        col = 0;
    }
    const CharData& cell = line[col];
    if (cell.code() == 0 || cell.width() < 1) {
        return {};
    }
    return CellRef{row, col};
}

bool Terminal::combine(const CellRef& target, char32_t scalar) {
    Buffer& buffer = *m_buffer;
    BufferLine& line = buffer.lines()[target.row];
    if (line.count() == 0) {
        return false;
    }
    const int col = std::min(target.col, line.count() - 1);
    CharData cell = line[col];
    const int32_t base = cell.code();
    const int32_t joined = combinedCode(base, scalar);
    if (joined < 0) {
        return false;
    }
    const int cellWidth = cell.width();
    int newWidth = cellWidth;

    const auto widen = [&] {
        line.set(col + 1,
                 CharData(cell.attribute(), 0, 0, cell.payload(), cell.semanticContentCode()));
        buffer.setX(buffer.x() + 1);
        newWidth = 2;
    };

    if (scalar == textPresentationSelector || scalar == emojiPresentationSelector) {
        const InternedCluster* cluster = interned(base);
        const char32_t last = cluster ? cluster->lastScalar : char32_t(base);
        if (!isScalarValue(last) || !isEmojiVariationBase(last)) {
            // A selector after a character without a variation sequence is dropped.
            return true;
        }
        if (scalar == emojiPresentationSelector) {
            if (cellWidth != 2 && col + 1 < m_cols) {
                widen();
            }
        } else {
            newWidth = 1;
            if (cellWidth == 2 && buffer.x() >= 1) {
                buffer.setX(buffer.x() - 1);
            }
        }
    } else if (isRegionalIndicator(scalar) &&
               m_options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow &&
               cellWidth == 1 && col + 1 < m_cols) {
        widen();
    }
    cell.setValue(joined, newWidth);
    line.set(col, cell);
    updateRange(buffer, buffer.y());
    return true;
}

// ---- Cell codes -----------------------------------------------------------------------------

size_t Terminal::markClusters(ClusterTable& table) const {
    size_t cells = 0;
    forEachStoredLine([&](const BufferLine& line) {
        const int n = line.count();
        for (int i = 0; i < n; ++i) {
            table.mark(line[i].code());
        }
        cells += size_t(n);
    });
    return cells;
}

int32_t Terminal::code(std::u32string_view character) {
    if (character.empty()) {
        return 0;
    }
    if (character.size() == 1 && character[0] <= 0xFFFF) {
        return int32_t(character[0]);
    }
    if (character == U"\r\n") {
        return 10;
    }
    return m_clusterTable.intern(character);
}

std::u32string Terminal::character(int32_t code) const {
    if (code < CharData::firstInternedCode) {
        return isScalarValue(code) ? std::u32string(1, char32_t(code)) : std::u32string(U" ");
    }
    if (const InternedCluster* cluster = interned(code)) {
        return cluster->text;
    }
    return U" ";
}

CharData Terminal::makeCharData(const Attribute& attribute, int32_t code, int size) const {
    return CharData(attribute, code, size);
}

CharData Terminal::makeCharData(const Attribute& attribute, std::u32string_view character,
                                int size) {
    return CharData(attribute, code(character), size);
}

CharData Terminal::makeCharData(const Attribute& attribute, char32_t scalar, int size) const {
    return CharData(attribute, int32_t(scalar), size);
}

void Terminal::updateCharData(CharData& cell, std::u32string_view character, int size) {
    cell.setValue(code(character), size);
}

void Terminal::updateCharData(CharData& cell, int32_t code, int size) const {
    cell.setValue(code, size);
}

// ---- Hyperlink payloads ---------------------------------------------------------------------

std::optional<TinyAtom> Terminal::resolveHyperlinkPayload(ActiveHyperlink& link) {
    switch (link.kind) {
    case ActiveHyperlink::Kind::resolved:
        return link.resolved;
    case ActiveHyperlink::Kind::unavailable:
        return std::nullopt;
    case ActiveHyperlink::Kind::pending:
        break;
    }
    std::optional<TinyAtom> atom = TinyAtom::lookup(link.pending);
    if (!atom && TinyAtom::registry().reclaim() > 0) {
        // Every code was in use once; some of those released since are shown nowhere now.
        atom = TinyAtom::lookup(link.pending);
    }
    if (!atom) {
        link.kind = ActiveHyperlink::Kind::unavailable;
        return std::nullopt;
    }
    if (!m_payloadCodes.insert(atom->code).second) {
        // An identical link printed before shares the code; the terminal holds one use of it.
        atom->release();
    }
    link.kind = ActiveHyperlink::Kind::resolved;
    link.resolved = *atom;
    link.pending.clear();
    return atom;
}

} // namespace veldatron
