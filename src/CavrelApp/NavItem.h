#pragma once

#include <QString>

#include <array>
#include <optional>

namespace cavrel {

// The screens of a window, in sidebar order. A case's raw value is its sidebar label and its
// identity.
enum class NavItem { terminals, sessions, rules, skills, memory };

inline constexpr std::array<NavItem, 5> allNavItems = {
    NavItem::terminals, NavItem::sessions, NavItem::rules, NavItem::skills, NavItem::memory};

QString rawValue(NavItem item);
// Exactly the five labels, compared case-sensitively.
std::optional<NavItem> navItemFromRawValue(const QString& rawValue);

} // namespace cavrel
