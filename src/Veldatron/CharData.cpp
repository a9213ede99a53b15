#include "CharData.h"

#include <cstring>

#include "UnicodeUtil.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace veldatron {

std::string CharData::debugDescription() const {
    std::string out = "CharData: " + std::to_string(code()) + " ";
    const int32_t c = code();
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        out += "?";
    } else {
        UnicodeUtil::appendUtf8(out, char32_t(c));
    }
    return out;
}

#if defined(__x86_64__)

namespace {

// A cell is two 64-bit words, low then high; four cells fill a 64-byte vector as the lanes
// (low | code0, high, low | code1, high, ...). Codes are zero-extended bytes placed in the even
// lanes.

// One cell, for the ends of a run that whole vectors do not cover.
inline void storeCell(CharData* cell, uint64_t low, uint64_t high) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell), _mm_set_epi64x(int64_t(high), int64_t(low)));
}

// Eight codes, the first in the lowest byte, as eight 64-bit lanes.
__attribute__((target("avx512f"))) inline __m512i widenCodes(uint64_t eight) {
    return _mm512_maskz_cvtepu8_epi64(0xFF, _mm_cvtsi64_si128(int64_t(eight)));
}

// Four cells of the template with the codes the permutation picks into their low words.
__attribute__((target("avx512f"))) inline __m512i fourCells(__m512i templ, __m512i permutation,
                                                            __m512i codes) {
    return _mm512_or_si512(templ, _mm512_maskz_permutexvar_epi64(0x55, permutation, codes));
}

__attribute__((target("avx512f"))) void fillCodesAvx512(CharData* cells, const uint8_t* codes,
                                                        size_t count, uint64_t low, uint64_t high) {
    const __m512i templ =
        _mm512_set_epi64(int64_t(high), int64_t(low), int64_t(high), int64_t(low), int64_t(high),
                         int64_t(low), int64_t(high), int64_t(low));
    const __m512i first = _mm512_set_epi64(0, 3, 0, 2, 0, 1, 0, 0);
    const __m512i second = _mm512_set_epi64(0, 7, 0, 6, 0, 5, 0, 4);
    // Whole-line stores only: a 64-byte store that straddles two cache lines costs two, and the
    // lines of a row scrolled in from the scrollback are usually not in the caches. The cells
    // before the first whole line and after the last go in one masked store each rather than
    // one store per cell; a run is at least wideFillMinimum cells, so the eight codes next to
    // either end can always be read.
    static_assert(CharData::wideFillMinimum >= 8);
    const uintptr_t address = reinterpret_cast<uintptr_t>(cells);
    size_t i = 0;
    if ((address & 15) == 0 && (address & 63) != 0) {
        // 1 to 3 cells of the line lie before the run: their lanes are masked off.
        const size_t before = (address & 63) / sizeof(CharData);
        uint64_t eight;
        std::memcpy(&eight, codes, 8);
        auto* const line = reinterpret_cast<__m512i*>(address & ~uintptr_t(63));
        _mm512_mask_store_epi64(line, __mmask8(0xFF << (2 * before)),
                                fourCells(templ, first, widenCodes(eight << (8 * before))));
        i = 4 - before;
    }
    for (; i < count && (reinterpret_cast<uintptr_t>(cells + i) & 63) != 0; ++i) {
        storeCell(cells + i, low | codes[i], high);
    }
    auto* out = reinterpret_cast<__m512i*>(cells + i);
    for (; i + 8 <= count; i += 8, out += 2) {
        uint64_t eight;
        std::memcpy(&eight, codes + i, 8);
        const __m512i bytes = widenCodes(eight);
        _mm512_store_si512(out, fourCells(templ, first, bytes));
        _mm512_store_si512(out + 1, fourCells(templ, second, bytes));
    }
    if (i < count) {
        // 1 to 7 cells from the start of a line: the run's last eight codes, shifted down.
        const size_t left = count - i;
        uint64_t eight;
        std::memcpy(&eight, codes + count - 8, 8);
        const __m512i bytes = widenCodes(eight >> (8 * (8 - left)));
        _mm512_mask_store_epi64(out, __mmask8(left >= 4 ? 0xFF : (1u << (2 * left)) - 1),
                                fourCells(templ, first, bytes));
        if (left > 4) {
            _mm512_mask_store_epi64(out + 1, __mmask8((1u << (2 * (left - 4))) - 1),
                                    fourCells(templ, second, bytes));
        }
    }
}

__attribute__((target("avx2"))) void fillCodesAvx2(CharData* cells, const uint8_t* codes,
                                                   size_t count, uint64_t low, uint64_t high) {
    const __m256i templ =
        _mm256_set_epi64x(int64_t(high), int64_t(low), int64_t(high), int64_t(low));
    const __m256i evens = _mm256_set_epi64x(0, -1, 0, -1);
    size_t i = 0;
    for (; i < count && (reinterpret_cast<uintptr_t>(cells + i) & 31) != 0; ++i) {
        storeCell(cells + i, low | codes[i], high);
    }
    auto* out = reinterpret_cast<__m256i*>(cells + i);
    for (; i + 4 <= count; i += 4, out += 2) {
        uint32_t four;
        std::memcpy(&four, codes + i, 4);
        const __m256i bytes = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(int(four)));
        const __m256i pair0 = _mm256_permute4x64_epi64(bytes, 0x50); // c0 c0 c1 c1
        const __m256i pair1 = _mm256_permute4x64_epi64(bytes, 0xFA); // c2 c2 c3 c3
        _mm256_store_si256(out, _mm256_or_si256(templ, _mm256_and_si256(pair0, evens)));
        _mm256_store_si256(out + 1, _mm256_or_si256(templ, _mm256_and_si256(pair1, evens)));
    }
    for (; i < count; ++i) {
        storeCell(cells + i, low | codes[i], high);
    }
}

using FillFunction = void (*)(CharData*, const uint8_t*, size_t, uint64_t, uint64_t);

void fillCodesPortable(CharData* cells, const uint8_t* codes, size_t count, uint64_t low,
                       uint64_t high) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t words[2] = {low | codes[i], high};
        std::memcpy(static_cast<void*>(cells + i), words, sizeof words);
    }
}

FillFunction chooseFill() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        return fillCodesAvx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return fillCodesAvx2;
    }
    return fillCodesPortable;
}

const FillFunction wideFill = chooseFill();

} // namespace

void CharData::fillCodesWide(CharData* cells, const uint8_t* codes, size_t count,
                             const CharData& templ) {
    wideFill(cells, codes, count, templ.m_low & ~codeMask, templ.m_high);
}

#else

void CharData::fillCodesWide(CharData* cells, const uint8_t* codes, size_t count,
                             const CharData& templ) {
    fillCodesScalar(cells, codes, count, templ);
}

#endif

} // namespace veldatron
