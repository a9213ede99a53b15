#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace veldatron {

enum class BidiDirection : uint8_t { leftToRight = 0, rightToLeft = 1 };

// implicit: the row is laid out with the Unicode bidirectional algorithm; explicit_ (`explicit`
// is reserved): the row keeps the order the program wrote, a right-to-left row drawn in reverse
// column order without reordering runs.
enum class BidiSupportMode : uint8_t { implicit = 0, explicit_ = 1 };

// What a BidiPresentationState amounts to for layout (box mirroring aside).
enum class BidiPresentationMode : uint8_t {
    implicitLeftToRight,
    implicitRightToLeft,
    implicitAutoLeftToRight,
    implicitAutoRightToLeft,
    explicitLeftToRight,
    explicitRightToLeft,
};

// A host view's choice: honour the terminal's bidirectional settings, or draw every row left to
// right as stored.
enum class BidiHostPolicy : uint8_t { respectTerminal = 0, legacyLeftToRight = 1 };

// How right-to-left text in a row is presented: four one-byte fields in one 4-byte value, carried
// by the terminal, each screen (for new blank rows), every row and the terminal options.
// A default-constructed state is Default.
struct BidiPresentationState {
    BidiSupportMode supportMode = BidiSupportMode::implicit;
    // Detect a paragraph's base direction from its text.
    bool autodetectDirection = true;
    // The base direction when detection is off or decides nothing.
    BidiDirection fallbackDirection = BidiDirection::leftToRight;
    // Mirror box-drawing characters in right-to-left rows.
    bool boxMirroring = false;

    // Implicit, autodetection on, left to right, no box mirroring.
    static const BidiPresentationState Default;

    constexpr BidiPresentationMode presentationMode() const {
        const bool rtl = fallbackDirection == BidiDirection::rightToLeft;
        if (supportMode == BidiSupportMode::explicit_) {
            return rtl ? BidiPresentationMode::explicitRightToLeft
                       : BidiPresentationMode::explicitLeftToRight;
        }
        if (autodetectDirection) {
            return rtl ? BidiPresentationMode::implicitAutoRightToLeft
                       : BidiPresentationMode::implicitAutoLeftToRight;
        }
        return rtl ? BidiPresentationMode::implicitRightToLeft
                   : BidiPresentationMode::implicitLeftToRight;
    }

    friend constexpr bool operator==(const BidiPresentationState&,
                                     const BidiPresentationState&) = default;
};

inline constexpr BidiPresentationState BidiPresentationState::Default = BidiPresentationState();

static_assert(sizeof(BidiPresentationState) == 4);

} // namespace veldatron

template <> struct std::hash<veldatron::BidiPresentationState> {
    size_t operator()(const veldatron::BidiPresentationState& state) const {
        const uint32_t packed =
            uint32_t(state.supportMode) | uint32_t(state.autodetectDirection) << 8 |
            uint32_t(state.fallbackDirection) << 16 | uint32_t(state.boxMirroring) << 24;
        return std::hash<uint32_t>()(packed);
    }
};
