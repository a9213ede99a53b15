#pragma once

#include "BidiPresentationState.h"
#include "CharData.h"
#include "FunctionRef.h"
#include "RefPtr.h"
#include "SemanticPrompt.h"
#include "TerminalImage.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veldatron {

class Buffer;
class BufferLine;

// Rows are shared by identity: a screen's ring, its prompt tracking, the reflow and the
// renderers' row caches hold the same object, and a dropped row stays alive while anyone holds it.
using BufferLinePtr = RefPtr<BufferLine>;

// One row of a screen: a block of cells with the row's flags (soft wrap, bidirectional state,
// double-width or double-height mode), its shell-integration marks, the images anchored in it and
// a change counter.
//
// `generation` never decreases while the object lives and changes with every change of cells,
// flags, marks or images; renderers and layout caches compare it for inequality only. The
// increments per operation are exact (tests pin them). `serial` is unique in the process and never
// changes, except when a dropped row is reused for a different line (copyReusing): caches key on
// (serial, generation), so a reused object can never be mistaken for the line it was.
//
// Cells live in one block whose capacity may exceed `count`: shrinking keeps the block, so
// narrowing and widening again (window resizes, reflow) reallocates nothing. Cells past `count`
// are never read; every operation that grows `count` writes the cells it uncovers.
//
// The end of a row is often one repeated cell (a blank row, the rest of an erased line), and
// most rows that scroll away are never read again: the block holds the cells up to an internal
// mark, and every cell from the mark to `count` is one stored tail cell until something reads the
// block directly (cells()) or writes there. Clearing a row, or a line erased to its end, so costs
// nothing per cell, and a recycled row's cells are written once, by what is printed into it.
//
// Created through the static create functions only, held by BufferLinePtr. Owned by the thread
// that owns the terminal; no locks.
class BufferLine final : public RefCounted<BufferLine> {
public:
    // The DEC double-width line and the top and bottom halves of a double-height line.
    enum class RenderLineMode : uint8_t {
        single = 0,
        doubleWidth = 1,
        doubledTop = 2,
        doubledDown = 3
    };
    using Images = std::vector<std::shared_ptr<TerminalImage>>;
    // The text of one cell, for codes the row cannot resolve itself (interned clusters).
    using CharacterProvider = FunctionRef<std::u32string(const CharData&)>;

    // `cols` copies of `fillData`, which becomes the row's fill character.
    static BufferLinePtr create(int cols, const CharData& fillData = CharData::Null,
                                bool isWrapped = false,
                                BidiPresentationState bidiState = BidiPresentationState::Default);
    // A copy of `from`: cells, fill character, flags, render mode, marks, hard-continuation group
    // and images; no owning buffer, both counters 0.
    static BufferLinePtr create(const BufferLine& from);
    // The same as create(from), made in `spare` when nobody else holds it (its cell block is
    // reused and it gets a new serial), else a new object. Scrolling a region drops one row and
    // needs one new row per line; this makes that free of allocation.
    static BufferLinePtr copyReusing(const BufferLine& from, BufferLinePtr spare);
    // Becomes what copyReusing(from, <this row>) returns when nobody but the caller's one
    // reference holds the row (and it is not `from`), keeping its owning buffer: the ring resets
    // rows that scroll out of a region this way, in place. False (nothing changed) otherwise.
    bool reuseAsCopyOf(const BufferLine& from) {
        if (refCount() != 1 || this == &from) {
            return false;
        }
        assignFrom(from);
        m_serial = nextSerial();
        return true;
    }

    ~BufferLine();
    // Rows come from row memory, as their cells do (RowMemory.h).
    static void* operator new(size_t bytes);
    static void operator delete(void* row, size_t bytes);

    uint64_t serial() const { return m_serial; }
    uint64_t generation() const { return m_generation; }
    // For callers whose change the row cannot see itself (a template line made ready to copy).
    void bumpGeneration(uint64_t by = 1) { m_generation += by; }
    // How often the object has been cleared for reuse as another line.
    uint64_t recycleGeneration() const { return m_recycleGeneration; }

    // Flags; every setter raises the generation, also when the value does not change.
    bool isWrapped() const { return m_isWrapped; }
    void setIsWrapped(bool wrapped) {
        m_isWrapped = wrapped;
        ++m_generation;
    }
    BidiPresentationState bidiState() const { return m_bidiState; }
    void setBidiState(BidiPresentationState state) {
        m_bidiState = state;
        ++m_generation;
    }
    RenderLineMode renderMode() const { return m_renderMode; }
    void setRenderMode(RenderLineMode mode) {
        m_renderMode = mode;
        ++m_generation;
    }

    // Cells.
    int count() const { return m_count; }
    int capacity() const { return m_capacity; }
    std::span<const CharData> cells() const {
        materialize(m_count);
        return {m_data, size_t(m_count)};
    }
    // The cell at `index`; past the end the last cell, before the start the first, and Null for a
    // row without cells.
    const CharData& operator[](int index) const {
        if (unsigned(index) < unsigned(m_valid)) {
            return m_data[index];
        }
        if (unsigned(index) < unsigned(m_count)) {
            return m_tail;
        }
        if (m_count == 0) {
            return CharData::Null;
        }
        return index < 0 ? (*this)[0] : (*this)[m_count - 1];
    }
    // Stores a cell. An index out of range writes the nearest cell instead and prints a
    // diagnostic line; a row without cells ignores the write.
    void set(int index, const CharData& cell);
    int getWidth(int index) const { return (*this)[index].width(); }
    std::vector<CharData> getData() const {
        const std::span<const CharData> all = cells();
        return {all.begin(), all.end()};
    }
    const CharData& fillCharacter() const { return m_fillCharacter; }

    // The column after the last cell whose code is not 0 (that cell's column plus its width).
    int getTrimmedLength() const;
    // Whether the cell has a code or an attribute other than the plain default.
    bool hasContent(int index) const;
    bool hasAnyContent() const;

    // Cells start..<min(end, count) become `fillData`.
    void replaceCells(int start, int end, const CharData& fillData);
    // Every cell becomes `cell`.
    void fill(const CharData& cell);
    // `len` cells from `atCol` become `cell` (clipped to the row).
    void fill(const CharData& cell, int atCol, int len);
    // New width; grown cells become `fillData`; shrinking clamps the marks into the new width.
    void resize(int cols, const CharData& fillData);
    // Inserts `n` cells of `fillData` at `pos`, pushing the cells up to `rightMargin` right (those
    // pushed past it are lost); cells right of the margin stay. Marks in the region shift too.
    void insertCells(int pos, int n, int rightMargin, const CharData& fillData);
    // Deletes `n` cells at `pos`; the cells up to `rightMargin` move left and `fillData` enters
    // at the margin.
    void deleteCells(int pos, int n, int rightMargin, const CharData& fillData);
    // Copies `len` cells of `src` (which may be this row; overlapping ranges move as a block) from
    // `srcCol` to `dstCol`, with the shell-integration marks of that range. Ranges are clipped to
    // both rows.
    void copyFrom(BufferLine& src, int srcCol, int dstCol, int len);
    // Makes this row a copy of `line`: cells, wrap flag, marks, hard-continuation group and
    // bidirectional state. Render mode, images and fill character stay.
    void copyFrom(const BufferLine& line);
    // Copies `len` cells of `src` (which may be this row; overlapping ranges move as a block) from
    // `srcCol` to `dstCol`, the cells alone: no marks. Both ranges lie within their rows. The
    // generation rises once per cell, as storing each with set() raises it.
    void copyCellsFrom(const BufferLine& src, int srcCol, int dstCol, int len);
    // Cells start..<end (within the row) take the code and the width and keep everything else.
    // The generation rises once per cell, as with set().
    void setValues(int start, int end, int32_t code, int width);
    // Every cell becomes a blank (code 0, width 1) with the attribute; images go. Used when the
    // object is reused for another line.
    void clear(const Attribute& attribute);

    // The text of columns startCol..<endCol (-1: to the end). `trimRight` stops at the trimmed
    // length; `skipNullCellsFollowingWide` leaves out the empty half of a wide character. Without
    // a provider a cell gives its code as a character (U+0000 for an empty cell, a blank for a
    // code that is not a scalar).
    std::u32string translateToString(bool trimRight = false, int startCol = 0, int endCol = -1,
                                     bool skipNullCellsFollowingWide = false,
                                     CharacterProvider characterProvider = {}) const;
    // The characters of all cells, UTF-8.
    std::string debugDescription() const;

    // Shell-integration marks: at most one per kind, sorted by column.
    const std::vector<SemanticMark>& semanticMarks() const { return m_semanticMarks; }
    // Replaces the mark of that kind.
    void setSemanticMark(SemanticPromptKind kind, int64_t column, uint64_t group);
    // Moves the marks in from...rightMargin by `by` columns, clamped into that range.
    void marksShift(int64_t from, int64_t by, int64_t rightMargin);
    // Clamps the marks into 0...width-1; a width of 0 or less removes them.
    void marksClampTo(int64_t width);
    // Removes the marks and the hard-continuation group.
    void destroySemanticState();
    // The prompt group this row continues without a soft wrap. Setting it does not raise the
    // generation; callers that change it say so with bumpGeneration.
    std::optional<uint64_t> semanticHardContinuationGroup() const { return m_hardGroup; }
    void setSemanticHardContinuationGroup(std::optional<uint64_t> group) { m_hardGroup = group; }

    // Images anchored in the row; absent differs from an empty list. setImages does not raise the
    // generation.
    const std::optional<Images>& images() const { return m_images; }
    bool hasImages() const { return m_images.has_value(); }
    void setImages(std::optional<Images> images) { m_images = std::move(images); }
    void attach(std::shared_ptr<TerminalImage> image);

    // The screen that holds the row (weak: rows outlive screens in caches).
    std::shared_ptr<Buffer> owningBuffer() const { return m_owningBuffer.lock(); }
    void setOwningBuffer(std::weak_ptr<Buffer> buffer) { m_owningBuffer = std::move(buffer); }

private:
    friend class Buffer;
    friend class CircularBufferLineList;

    BufferLine(int cols, const CharData& fillData, bool isWrapped, BidiPresentationState bidiState);
    BufferLine(const BufferLine& from);

    // Stores the tail cell into the block up to `end` (at most count), so that those cells can be
    // read or written in place.
    void materialize(int end) const {
        if (end > m_valid) {
            materializeSlow(end);
        }
    }
    void materializeSlow(int end) const;
    // The block's cells start..<end for the caller to write, every one of them (the print path's
    // run writer). 0 <= start <= end <= count.
    CharData* cellsForWrite(int start, int end) {
        materialize(start);
        if (end > m_valid) {
            m_valid = end;
        }
        return m_data + start;
    }
    // Cells from `start` to the end of the row become `cell` without touching the block.
    void setTail(int start, const CharData& cell);
    // Cells start..<end (within the row, start < end) become `cell`.
    void fillRange(int start, int end, const CharData& cell);

    // A row that held a line shorter than this is not prefetched: for a line or two of cache,
    // asking ahead measured slower than letting the next write miss.
    static constexpr int prefetchThreshold = 16;
    // Loads the cells the row holds, for writing.
    void prefetchCells() const;
    // The row object itself, for writing.
    void prefetchHeader() const {
        const char* const bytes = reinterpret_cast<const char*>(this);
        for (size_t at = 0; at < sizeof(BufferLine); at += 64) {
            __builtin_prefetch(bytes + at, 1, 3);
        }
    }
    // The cells of a row about to be recycled: most likely it gets a line as long as the one
    // it held.
    void prefetchRecycledCells() const {
        if (m_valid > prefetchThreshold) {
            prefetchCells();
        }
    }
    // What the ring does to its oldest row to make it the newest: clear(attribute), then
    // destroySemanticState(), then setIsWrapped(false), and the render mode back to single, with
    // the same effects in one step (this runs once per line of output that scrolls into a full
    // scrollback). Returns whether the row had images.
    bool recycleAsBlank(const Attribute& attribute) {
        return recycleAsBlank(CharData(attribute, 0, 1));
    }
    // The same with the blank cell made by the caller, once for many rows.
    bool recycleAsBlank(const CharData& blank) {
        const bool hadImages = m_images.has_value();
        // The ring asked for this row's memory a few lines ago. The blank row itself is only a
        // tail: clearing the cells would store most of them twice.
        m_valid = 0;
        m_tail = blank;
        if (hadImages) {
            m_images.reset();
        }
        ++m_recycleGeneration;
        m_semanticMarks.clear();
        m_isWrapped = false;
        // A double-width or double-height line (a banner) that scrolled away must not make the
        // line reusing its row double too.
        m_renderMode = RenderLineMode::single;
        // clear +2, destroySemanticState +1 (+1 more for a group), setIsWrapped +1.
        m_generation += m_hardGroup ? 5 : 4;
        m_hardGroup.reset();
        return hadImages;
    }

    // A serial no row has had yet.
    static uint64_t nextSerial();
    // Inserts (by > 0) or deletes (by < 0) |by| cells at `pos` within pos...rightMargin.
    void shiftCells(int pos, int64_t by, int rightMargin, const CharData& fillData);
    // Makes the block hold at least `cells` cells; the first `keep` cells survive.
    void reserve(int cells, int keep);
    // Everything a copy takes from `from` (not the owning buffer), on an existing object. Inline:
    // a scroll region resets a row this way for every line it scrolls, from a blank row whose
    // cells all read as its tail (nothing to copy).
    void assignFrom(const BufferLine& from) {
        if (from.m_count > m_capacity) {
            reserve(from.m_count, 0);
        }
        if (from.m_valid > 0) {
            std::memmove(static_cast<void*>(m_data), from.m_data,
                        size_t(from.m_valid) * sizeof(CharData));
        }
        m_count = from.m_count;
        m_valid = from.m_valid;
        m_tail = from.m_tail;
        m_fillCharacter = from.m_fillCharacter;
        m_isWrapped = from.m_isWrapped;
        m_bidiState = from.m_bidiState;
        m_renderMode = from.m_renderMode;
        // Copies of the blank row have no marks and no images: clearing is cheaper than copying
        // nothing.
        if (from.m_semanticMarks.empty()) {
            m_semanticMarks.clear();
        } else {
            m_semanticMarks = from.m_semanticMarks;
        }
        m_hardGroup = from.m_hardGroup;
        if (from.m_images) {
            m_images = from.m_images;
        } else {
            m_images.reset();
        }
        m_recycleGeneration = 0;
        m_generation = 0;
    }
    // The out-of-range report of set().
    static void reportIndexOutOfRange();

    bool m_isWrapped = false;
    BidiPresentationState m_bidiState;
    RenderLineMode m_renderMode = RenderLineMode::single;
    std::vector<SemanticMark> m_semanticMarks;
    std::optional<uint64_t> m_hardGroup;
    std::weak_ptr<Buffer> m_owningBuffer;
    uint64_t m_recycleGeneration = 0;
    CharData* m_data = nullptr;
    int m_capacity = 0;
    int m_count = 0;
    // Cells 0..<m_valid are in the block; m_valid..<m_count all read as m_tail.
    mutable int m_valid = 0;
    CharData m_tail;
    CharData m_fillCharacter;
    std::optional<Images> m_images;
    uint64_t m_generation = 0;
    uint64_t m_serial;
};

} // namespace veldatron
