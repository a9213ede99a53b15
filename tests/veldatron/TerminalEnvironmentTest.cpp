#include "TerminalEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <locale.h>

namespace veldatron {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Clears every variable the environment copies (and LANG) for one test, restoring them after.
class TerminalEnvironmentTest : public ::testing::Test {
protected:
    static constexpr std::array<const char*, 13> touched = {
        "LOGNAME",
        "USER",
        "DISPLAY",
        "LC_TYPE",
        "HOME",
        "LANG",
        "user",
        "XAUTHORITY",
        "WAYLAND_DISPLAY",
        "XDG_RUNTIME_DIR",
        "DBUS_SESSION_BUS_ADDRESS",
        "SSH_AUTH_SOCK",
        "TERM",
    };

    void SetUp() override {
        for (const char* name : touched) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < touched.size(); ++i) {
            if (m_saved[i]) {
                ::setenv(touched[i], m_saved[i]->c_str(), 1);
            } else {
                ::unsetenv(touched[i]);
            }
        }
    }

    static std::string lang() {
        return "LANG=" + std::string(TerminalEnvironment::utf8LocaleName());
    }

private:
    std::vector<std::optional<std::string>> m_saved;
};

TEST_F(TerminalEnvironmentTest, CopiesTheIdentityVariablesInTableOrderWithUserTwice) {
    ::setenv("HOME", "/home/ada", 1);
    ::setenv("USER", "ada", 1);
    ::setenv("LOGNAME", "ada-login", 1);
    EXPECT_THAT(TerminalEnvironment::getEnvironmentVariables("xterm-256color", true),
                ElementsAre("TERM=xterm-256color", "COLORTERM=truecolor", lang(),
                            "LOGNAME=ada-login", "USER=ada", "USER=ada", "HOME=/home/ada"));
}

TEST_F(TerminalEnvironmentTest, FixedEntriesFollowTheArguments) {
    struct Case {
        const char* name;
        std::optional<std::string_view> termName;
        bool trueColor;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"absent name means xterm-256color",
         std::nullopt,
         true,
         {"TERM=xterm-256color", "COLORTERM=truecolor", lang()}},
        {"a name is taken as given", "vt100", true, {"TERM=vt100", "COLORTERM=truecolor", lang()}},
        {"an empty name stays empty", "", true, {"TERM=", "COLORTERM=truecolor", lang()}},
        {"no 24-bit colour, no COLORTERM", std::nullopt, false, {"TERM=xterm-256color", lang()}},
    };
    ::setenv("TERM", "dumb", 1); // the host's own terminal type never leaks through
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(TerminalEnvironment::getEnvironmentVariables(c.termName, c.trueColor),
                    ElementsAreArray(c.expected));
    }
}

TEST_F(TerminalEnvironmentTest, HostValuesAreMatchedExactlyAndCopiedUnchanged) {
    ::setenv("LANG", "fr_FR.ISO-8859-1", 1); // never copied: the child gets a UTF-8 locale
    ::setenv("user", "lower-case name", 1);  // not "USER"
    ::setenv("DISPLAY", ":0 = main; screen", 1);
    ::setenv("LC_TYPE", "UTF-8", 1);
    ::setenv("SSH_AUTH_SOCK", "/run/agent.sock", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    EXPECT_THAT(TerminalEnvironment::getEnvironmentVariables(std::nullopt, false),
                ElementsAre("TERM=xterm-256color", lang(), "DISPLAY=:0 = main; screen",
                            "LC_TYPE=UTF-8", "XDG_RUNTIME_DIR=/run/user/1000",
                            "SSH_AUTH_SOCK=/run/agent.sock"));
}

TEST_F(TerminalEnvironmentTest, EachCallReadsTheHostEnvironmentAfresh) {
    EXPECT_EQ(TerminalEnvironment::getEnvironmentVariables(std::nullopt, true).size(), 3u);
    ::setenv("HOME", "/home/grace", 1);
    EXPECT_EQ(TerminalEnvironment::getEnvironmentVariables(std::nullopt, true).back(),
              "HOME=/home/grace");
}

TEST(TerminalEnvironment, LangNamesALocaleThisSystemHas) {
    const std::string name(TerminalEnvironment::utf8LocaleName());
    locale_t locale = ::newlocale(LC_ALL_MASK, name.c_str(), locale_t(nullptr));
    EXPECT_NE(locale, locale_t(nullptr)) << name;
    if (locale != locale_t(nullptr)) {
        ::freelocale(locale);
    }
    locale_t english = ::newlocale(LC_ALL_MASK, "en_US.UTF-8", locale_t(nullptr));
    EXPECT_EQ(name, english != locale_t(nullptr) ? "en_US.UTF-8" : "C.UTF-8");
    if (english != locale_t(nullptr)) {
        ::freelocale(english);
    }
}

} // namespace
} // namespace veldatron
