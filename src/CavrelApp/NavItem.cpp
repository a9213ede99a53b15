#include "NavItem.h"

namespace cavrel {

QString rawValue(NavItem item) {
    switch (item) {
    case NavItem::terminals:
        return QStringLiteral("Agents");
    case NavItem::sessions:
        return QStringLiteral("Sessions");
    case NavItem::rules:
        return QStringLiteral("Rules");
    case NavItem::skills:
        return QStringLiteral("Skills");
    case NavItem::memory:
        return QStringLiteral("Memory");
    }
    return {};
}

std::optional<NavItem> navItemFromRawValue(const QString& text) {
    for (NavItem item : allNavItems) {
        if (rawValue(item) == text) {
            return item;
        }
    }
    return std::nullopt;
}

} // namespace cavrel
