#pragma once

#include "Attribute.h"
#include "SemanticPrompt.h"
#include "TinyAtom.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veldatron {

// One screen cell: a 16-byte value without references, copied, compared and hashed as two
// 64-bit words. Rows hold cells in one contiguous block and move them with plain memory moves;
// every hot loop over cells (fills, copies, scans, the renderers) is memory-bound, so the size is
// what matters, and keeping the cell as two words lets the compiler build and change cells in
// registers (a cell assembled field by field in memory and then copied stalls on
// store-forwarding at every cell).
//
//   low word   bits  0-25  code
//              bits 26-28  width, as the 3-bit two's complement of width ^ 1
//              bits 29-31  semanticContentCode
//              bits 32-47  payload (TinyAtom code: the cell's hyperlink)
//              bits 48-63  attribute fg word, bits 0-15
//   high word  bits  0-15  attribute fg word, bits 16-31
//              bits 16-47  attribute bg word
//              bits 48-55  attribute style
//              bits 56-63  attribute underline byte          (Attribute describes these words)
//
// Every field is stored so that CharData::Null (code 0, width 1, no payload, no content, plain
// default attribute) is two zero words: clearing a row is a zero fill and a freshly zeroed block
// is already blank.
//
// Stored ranges: code 0...maxCode (scalars, and interned clusters from 0x400001 up; the terminal
// stops interning at maxCode), width -4...3 (cells only ever hold 0, 1 or 2), content code 0...7
// (every code above 6 reads as none). Values outside are clamped: a code outside its range
// becomes U+FFFD, a width or content code the nearest end.
class CharData {
public:
    // Largest storable code: the interned clusters run from 0x400001 to here.
    static constexpr int32_t maxCode = (1 << 26) - 1;
    // First code of an interned grapheme cluster; codes below are Unicode scalar values.
    static constexpr int32_t firstInternedCode = 0x400001;

    // The blank cell. Declared here, defined below the class.
    static const CharData Null;

    // CharData::Null.
    constexpr CharData() = default;
    constexpr CharData(const Attribute& attribute, int32_t code, int width,
                       TinyAtom payload = TinyAtom(), uint8_t semanticContentCode = 0)
        : m_low(packCode(code) | packWidth(width) | packSemantic(semanticContentCode) |
                uint64_t(payload.code) << payloadShift),
          m_high(0) {
        setAttribute(attribute);
    }

    constexpr int32_t code() const { return int32_t(m_low & codeMask); }
    constexpr int width() const {
        // Sign-extend the 3-bit field, then undo the XOR that makes width 1 store as 0.
        return (int32_t(uint32_t(m_low) << (32 - widthShift - widthBits)) >> (32 - widthBits)) ^ 1;
    }
    constexpr TinyAtom payload() const { return TinyAtom{uint16_t(m_low >> payloadShift)}; }
    constexpr uint8_t semanticContentCode() const { return uint8_t((m_low >> semanticShift) & 7); }
    constexpr Attribute attribute() const {
        return Attribute::fromPacked(m_low >> 48 | m_high << 16, uint16_t(m_high >> 48));
    }

    constexpr void setCode(int32_t code) { m_low = (m_low & ~codeMask) | packCode(code); }
    constexpr void setWidth(int width) { m_low = (m_low & ~widthMask) | packWidth(width); }
    // Sets code and width together.
    constexpr void setValue(int32_t code, int size) {
        m_low = (m_low & ~(codeMask | widthMask)) | packCode(code) | packWidth(size);
    }
    constexpr void setPayload(TinyAtom atom) {
        m_low = (m_low & ~(uint64_t(0xFFFF) << payloadShift)) | uint64_t(atom.code) << payloadShift;
    }
    constexpr void setSemanticContentCode(uint8_t code) {
        m_low = (m_low & ~semanticMask) | packSemantic(code);
    }
    constexpr void setAttribute(const Attribute& attribute) {
        const uint64_t colors = attribute.packedColors();
        m_low = (m_low & 0x0000FFFFFFFFFFFFull) | colors << 48;
        m_high = colors >> 16 | uint64_t(attribute.packedRest()) << 48;
    }

    // This cell with another code and everything else kept: the print path's way of turning a
    // prepared template cell (attribute, width 1, payload, content) into an ASCII cell. The code
    // must lie in 0...maxCode.
    constexpr CharData withCode(int32_t code) const {
        CharData cell = *this;
        cell.m_low = (m_low & ~codeMask) | uint32_t(code);
        return cell;
    }

    // The cells of a print run, which share everything but code and width: the shared fields
    // kept with code and width cleared, so that a loop making one cell per character puts both
    // in with two ORs and no branch on the width (text mixing narrow and wide characters would
    // mispredict one).
    class Stamp {
    public:
        explicit constexpr Stamp(const CharData& cell)
            : m_low(cell.m_low & ~(codeMask | widthMask)), m_high(cell.m_high) {}
        // The cell with a code (0...maxCode) and a width (0, 1 or 2).
        constexpr CharData operator()(int32_t code, int width) const {
            CharData cell;
            cell.m_low =
                m_low | uint32_t(code) | uint64_t((uint32_t(width) ^ 1u) & 7u) << widthShift;
            cell.m_high = m_high;
            return cell;
        }

    private:
        uint64_t m_low;
        uint64_t m_high;
    };

    // Sets `count` cells at `cells` to `cell`. Blank rows are the common case (clears, erases,
    // scrolled-in lines): CharData::Null is all zero bits and becomes a memset, which the C
    // library runs with the widest stores the processor has.
    static void fill(CharData* cells, size_t count, const CharData& cell) {
        if (cell == Null) {
            std::memset(static_cast<void*>(cells), 0, count * sizeof(CharData));
            return;
        }
        // One 16-byte copy per cell (a plain assignment compiles to two 8-byte stores, half the
        // speed).
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(static_cast<void*>(cells + i), &cell, sizeof(CharData));
        }
    }

    // Writes `count` cells at `cells`, each `templ` with the code of one byte: the inner loop of
    // printing an ASCII run. Long runs take the widest stores the processor has: a row scrolled
    // in from a large scrollback is usually out of the caches, and one store per cache line keeps
    // four times as many of its lines in flight as one store per cell.
    static void fillCodes(CharData* cells, const uint8_t* codes, size_t count,
                          const CharData& templ) {
        if (count >= wideFillMinimum) {
            fillCodesWide(cells, codes, count, templ);
            return;
        }
        fillCodesShort(cells, codes, count, templ);
    }
    // fillCodes for runs shorter than wideFillMinimum.
    static void fillCodesShort(CharData* cells, const uint8_t* codes, size_t count,
                               const CharData& templ) {
        if (count == 1) {
            // A character after a cursor move, the commonest run of all: two word stores, with no
            // trip of the template through a vector register.
            cells[0].m_low = (templ.m_low & ~codeMask) | codes[0];
            cells[0].m_high = templ.m_high;
            return;
        }
        if (count != 0) {
            fillCodesInGroups(cells, codes, count, templ);
        }
    }
    // fillCodes for the text of whole lines (a log scrolling past), at least one cell. Line
    // lengths vary from line to line far more than the words between cursor moves do: a lone
    // character in a class of its own mispredicts on most lines, so every line up to 8 cells
    // takes the same 8 stores.
    static void fillLineCodes(CharData* cells, const uint8_t* codes, size_t count,
                              const CharData& templ) {
        if (count >= wideFillMinimum) {
            fillCodesWide(cells, codes, count, templ);
            return;
        }
        fillCodesInGroups(cells, codes, count, templ);
    }
    // 1 to wideFillMinimum - 1 cells. Words of random length would mispredict the exit of a loop
    // over the cells, so the cells go in a fixed number of stores for each of two classes of
    // length (up to 8, 9 to 15): two groups, one from either end of the run, that overlap for the
    // shorter runs of the class (a cell stored twice gets the same value twice). Splitting the
    // first class in two measured slower on words of 3 to 8 letters. Only codes within the run
    // are read: the run may end at the end of the input.
    static void fillCodesInGroups(CharData* cells, const uint8_t* codes, size_t count,
                                  const CharData& templ) {
        const ShortFill fill(templ);
        if (count > 8) {
            const size_t tail = count - 8;
            for (size_t i = 0; i < 8; ++i) {
                fill.put(cells, codes, i);
                fill.put(cells, codes, tail + i);
            }
            return;
        }
        // Four cells from the front and four ending at the last, their indices clamped into the
        // run.
        const size_t last = count - 1;
        for (size_t i = 0; i < 4; ++i) {
            fill.put(cells, codes, std::min(i, last));
            fill.put(cells, codes, last - std::min(3 - i, last));
        }
    }
    static void fillCodesScalar(CharData* cells, const uint8_t* codes, size_t count,
                                const CharData& templ) {
        const uint64_t low = templ.m_low & ~codeMask;
        const uint64_t high = templ.m_high;
        for (size_t i = 0; i < count; ++i) {
            cells[i].m_low = low | codes[i];
            cells[i].m_high = high;
        }
    }
    // fillCodes for runs of at least wideFillMinimum cells, with vector stores where available.
    static void fillCodesWide(CharData* cells, const uint8_t* codes, size_t count,
                              const CharData& templ);
    static constexpr size_t wideFillMinimum = 16;

    // The character of a plain scalar code; a code above U+10FFFF (interned clusters included:
    // the terminal resolves those) or a surrogate gives a space.
    constexpr char32_t getCharacter() const {
        const int32_t c = code();
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return U' ';
        }
        return char32_t(c);
    }
    constexpr bool isSimpleRune() const { return code() < 0x400000; }
    constexpr bool hasPayload() const { return payload().code != 0; }
    // The payload value from the process-wide registry; none for no payload or a released one.
    std::optional<std::string> getPayload() const { return payload().target(); }
    constexpr SemanticContent semanticContent() const {
        return SemanticContent::fromCellCode(semanticContentCode());
    }

    // "CharData: 65 A"; "?" in place of the character when the code is not a valid scalar.
    std::string debugDescription() const;

    friend constexpr bool operator==(const CharData&, const CharData&) = default;

    size_t hash() const { return detail::hashWords(m_low, m_high); }

private:
    static constexpr uint64_t codeMask = (1u << 26) - 1;
    static constexpr int widthShift = 26;
    static constexpr int widthBits = 3;
    static constexpr uint64_t widthMask = uint64_t(7) << widthShift;
    static constexpr int semanticShift = 29;
    static constexpr uint64_t semanticMask = uint64_t(7) << semanticShift;
    static constexpr int payloadShift = 32;

    // The template of fillCodesShort, kept as one 16-byte value where the processor has them, so
    // that each cell is one store.
    class ShortFill {
    public:
        explicit ShortFill(const CharData& templ)
#if defined(__SSE2__)
            : m_templ(_mm_set_epi64x(int64_t(templ.m_high), int64_t(templ.m_low & ~codeMask)))
#else
            : m_low(templ.m_low & ~codeMask), m_high(templ.m_high)
#endif
        {
        }
        void put(CharData* cells, const uint8_t* codes, size_t i) const {
#if defined(__SSE2__)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i),
                             _mm_or_si128(m_templ, _mm_cvtsi32_si128(codes[i])));
#else
            cells[i].m_low = m_low | codes[i];
            cells[i].m_high = m_high;
#endif
        }

    private:
#if defined(__SSE2__)
        __m128i m_templ;
#else
        uint64_t m_low;
        uint64_t m_high;
#endif
    };

    static constexpr uint64_t packCode(int32_t code) {
        return code >= 0 && code <= maxCode ? uint64_t(code) : 0xFFFDu;
    }
    static constexpr uint64_t packWidth(int width) {
        const int clamped = width < -4 ? -4 : (width > 3 ? 3 : width);
        return uint64_t((uint32_t(clamped) ^ 1u) & 7u) << widthShift;
    }
    static constexpr uint64_t packSemantic(uint8_t code) {
        return uint64_t(code > 7 ? 7 : code) << semanticShift;
    }

    uint64_t m_low = 0;
    uint64_t m_high = 0;
};

inline constexpr CharData CharData::Null = CharData();

static_assert(sizeof(CharData) == 16, "a cell is 16 bytes");
static_assert(std::is_trivially_copyable_v<CharData>);
static_assert(std::has_unique_object_representations_v<CharData>,
              "no padding: equal cells have equal bytes");

} // namespace veldatron

template <> struct std::hash<veldatron::CharData> {
    size_t operator()(const veldatron::CharData& cell) const { return cell.hash(); }
};
