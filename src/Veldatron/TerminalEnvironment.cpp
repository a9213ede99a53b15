#include "TerminalEnvironment.h"

#include <array>
#include <cstring>

#include <locale.h>
#include <unistd.h>

namespace veldatron {

namespace {

// Copied in this order when the host sets them. The first six are the terminal's own list ("USER"
// twice, "LC_TYPE" as it stands); the rest keep a desktop session working for programs started
// in the terminal on X11 or Wayland (display authority, runtime directory, session bus, ssh agent).
constexpr std::array<std::string_view, 11> copiedVariables = {
    "LOGNAME",       "USER",       "DISPLAY",         "LC_TYPE",         "USER",
    "HOME",          "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
    "SSH_AUTH_SOCK",
};

// The host's value of `name`, read from the process environment (first entry of that name).
std::optional<std::string_view> hostValue(char** environment, std::string_view name) {
    if (environment == nullptr) {
        return std::nullopt;
    }
    for (char** entry = environment; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.size() > name.size() && text[name.size()] == '=' &&
            text.compare(0, name.size(), name) == 0) {
            return text.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

} // namespace

std::string_view TerminalEnvironment::utf8LocaleName() {
    // Debian installs only C.UTF-8 unless the administrator generates more; a LANG naming a
    // locale that does not exist leaves programs in the "C" locale, complaining.
    static const bool hasEnglishUtf8 = [] {
        locale_t locale = ::newlocale(LC_ALL_MASK, "en_US.UTF-8", locale_t(nullptr));
        if (locale == locale_t(nullptr)) {
            return false;
        }
        ::freelocale(locale);
        return true;
    }();
    return hasEnglishUtf8 ? "en_US.UTF-8" : "C.UTF-8";
}

std::vector<std::string>
TerminalEnvironment::getEnvironmentVariables(std::optional<std::string_view> termName,
                                             bool trueColor) {
    std::vector<std::string> result;
    result.reserve(3 + copiedVariables.size());
    result.push_back("TERM=" + std::string(termName.value_or(defaultTermName)));
    if (trueColor) {
        result.emplace_back("COLORTERM=truecolor");
    }
    result.push_back("LANG=" + std::string(utf8LocaleName()));
    char** environment = environ;
    for (std::string_view name : copiedVariables) {
        if (auto value = hostValue(environment, name)) {
            std::string entry(name);
            entry += '=';
            entry += *value;
            result.push_back(std::move(entry));
        }
    }
    return result;
}

} // namespace veldatron
