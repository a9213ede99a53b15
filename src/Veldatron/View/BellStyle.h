#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace veldatron {

/// What the terminal's bell (BEL) does in a view.
enum class BellStyle : uint8_t {
    none,           // nothing
    sound,          // the host's bell
    visual,         // a flash of the view
    soundAndVisual, // the host's bell, then the flash
};

inline constexpr std::array<BellStyle, 4> allBellStyles = {
    BellStyle::none, BellStyle::sound, BellStyle::visual, BellStyle::soundAndVisual};

/// "none", "sound", "visual", "soundAndVisual": the names settings store.
QString tagName(BellStyle style);
/// "None", "Sound", "Visual", "Sound and Visual": the names a user reads.
QString displayName(BellStyle style);
/// The style whose tag name is exactly `tag` (case included), none for any other text.
std::optional<BellStyle> bellStyleFromTagName(const QString& tag);

} // namespace veldatron
