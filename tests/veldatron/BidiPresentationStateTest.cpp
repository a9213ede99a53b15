#include "BidiPresentationState.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <unordered_set>

using namespace veldatron;

TEST(BidiPresentationState, FourOneByteFieldsInOrder) {
    static_assert(std::is_trivially_copyable_v<BidiPresentationState>);
    const BidiPresentationState state{BidiSupportMode::explicit_, false, BidiDirection::rightToLeft,
                                      true};
    uint8_t bytes[4];
    std::memcpy(bytes, &state, 4);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(uint8_t(BidiHostPolicy::legacyLeftToRight), 1);
}

TEST(BidiPresentationState, DefaultIsImplicitAutoLeftToRight) {
    const BidiPresentationState& d = BidiPresentationState::Default;
    EXPECT_EQ(d.supportMode, BidiSupportMode::implicit);
    EXPECT_TRUE(d.autodetectDirection);
    EXPECT_EQ(d.fallbackDirection, BidiDirection::leftToRight);
    EXPECT_FALSE(d.boxMirroring);
    EXPECT_EQ(d.presentationMode(), BidiPresentationMode::implicitAutoLeftToRight);
    EXPECT_EQ(BidiPresentationState(), d);
}

TEST(BidiPresentationState, PresentationModeOfEveryState) {
    using M = BidiPresentationMode;
    std::unordered_set<BidiPresentationState> all;
    for (auto support : {BidiSupportMode::implicit, BidiSupportMode::explicit_}) {
        for (bool autodetect : {false, true}) {
            for (auto direction : {BidiDirection::leftToRight, BidiDirection::rightToLeft}) {
                const bool rtl = direction == BidiDirection::rightToLeft;
                M expected;
                if (support == BidiSupportMode::explicit_) {
                    expected = rtl ? M::explicitRightToLeft : M::explicitLeftToRight;
                } else if (autodetect) {
                    expected = rtl ? M::implicitAutoRightToLeft : M::implicitAutoLeftToRight;
                } else {
                    expected = rtl ? M::implicitRightToLeft : M::implicitLeftToRight;
                }
                for (bool mirroring : {false, true}) {
                    const BidiPresentationState state{support, autodetect, direction, mirroring};
                    EXPECT_EQ(state.presentationMode(), expected);
                    EXPECT_TRUE(all.insert(state).second) << "states that differ are unequal";
                }
            }
        }
    }
    EXPECT_EQ(all.size(), 16u);
    const BidiPresentationState mirrored{BidiSupportMode::implicit, true,
                                         BidiDirection::leftToRight, true};
    EXPECT_NE(mirrored, BidiPresentationState::Default);
    EXPECT_EQ(mirrored.presentationMode(), BidiPresentationState::Default.presentationMode());
}
