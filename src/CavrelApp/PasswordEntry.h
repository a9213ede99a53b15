#pragma once

#include <QString>

#include <optional>

namespace cavrel {

// The current user's entry in the password database: where the environment does not say, the
// home folder and the login shell come from here.
struct PasswordEntry {
    QString home;
    QString shell;
};

std::optional<PasswordEntry> currentPasswordEntry();

} // namespace cavrel
