#pragma once

#include "DrawRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <vector>

namespace veldatron {

// Records compared float by float within a thousandth of a pixel (the builder and the test may
// round differently in the last place), with the index and field of the first difference.
template <typename Record>
void expectSameRecords(const std::vector<Record>& actual, const std::vector<Record>& expected,
                       const char* what)
{
    ASSERT_EQ(actual.size(), expected.size()) << what;
    static_assert(sizeof(Record) % sizeof(float) == 0);
    constexpr std::size_t n = sizeof(Record) / sizeof(float);
    for (std::size_t i = 0; i < actual.size(); ++i) {
        float a[n], e[n];
        std::memcpy(a, &actual[i], sizeof(Record));
        std::memcpy(e, &expected[i], sizeof(Record));
        for (std::size_t k = 0; k < n; ++k) {
            if (std::is_same_v<Record, ColorVertex> && (k == 2 || k == 3))
                continue;
            ASSERT_NEAR(a[k], e[k], 1e-3) << what << " record " << i << " float " << k;
        }
    }
}

inline void expectSameImageDraws(const std::vector<ImageDraw>& actual,
                                 const std::vector<ImageDraw>& expected, const char* what)
{
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].texture, expected[i].texture) << what << " " << i;
        expectSameRecords(actual[i].vertices, expected[i].vertices, what);
    }
}

inline void expectSameRow(const RowDrawData& actual, const RowDrawData& expected)
{
    expectSameRecords(actual.backgroundCells, expected.backgroundCells, "backgroundCells");
    expectSameRecords(actual.powerlineJoinCells, expected.powerlineJoinCells,
                      "powerlineJoinCells");
    expectSameRecords(actual.glyphCellsGray, expected.glyphCellsGray, "glyphCellsGray");
    expectSameRecords(actual.glyphCellsColor, expected.glyphCellsColor, "glyphCellsColor");
    expectSameRecords(actual.decorationCells, expected.decorationCells, "decorationCells");
    expectSameImageDraws(actual.underImageDraws, expected.underImageDraws, "underImageDraws");
    expectSameImageDraws(actual.placeholderImageDraws, expected.placeholderImageDraws,
                         "placeholderImageDraws");
    expectSameImageDraws(actual.overImageDraws, expected.overImageDraws, "overImageDraws");
    expectSameImageDraws(actual.otherImageDraws, expected.otherImageDraws, "otherImageDraws");
}

} // namespace veldatron
