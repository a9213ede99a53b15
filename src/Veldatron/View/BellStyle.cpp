#include "BellStyle.h"

namespace veldatron {

QString tagName(BellStyle style) {
    switch (style) {
    case BellStyle::none:
        return QStringLiteral("none");
    case BellStyle::sound:
        return QStringLiteral("sound");
    case BellStyle::visual:
        return QStringLiteral("visual");
    case BellStyle::soundAndVisual:
        return QStringLiteral("soundAndVisual");
    }
    return {};
}

QString displayName(BellStyle style) {
    switch (style) {
    case BellStyle::none:
        return QStringLiteral("None");
    case BellStyle::sound:
        return QStringLiteral("Sound");
    case BellStyle::visual:
        return QStringLiteral("Visual");
    case BellStyle::soundAndVisual:
        return QStringLiteral("Sound and Visual");
    }
    return {};
}

std::optional<BellStyle> bellStyleFromTagName(const QString& tag) {
    for (BellStyle style : allBellStyles) {
        if (tagName(style) == tag) {
            return style;
        }
    }
    return std::nullopt;
}

} // namespace veldatron
