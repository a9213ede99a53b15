// The scan of user input for a submitted command line: which keys submit, and state carried
// across sends.
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veldatron {
namespace {

using testing::TerminalFixture;

bool scan(Terminal& terminal, std::string_view input) {
    return terminal.scanUserInputForSubmission(
        std::span(reinterpret_cast<const uint8_t*>(input.data()), input.size()));
}

TEST(TerminalUserInput, FindsTheKeysThatSubmitTheLine) {
    struct Case {
        const char* name;
        std::vector<std::string> sends; // in order, to one terminal
        std::vector<bool> submits;      // one per send
    };
    const Case cases[] = {
        {"return and line feed", {"ls", "\r", "pwd\n"}, {false, true, true}},
        {"keypad enter", {"\x1bOM", "\x1bOA", "\x1b[A"}, {true, false, false}},
        {"a return inside a bracketed paste", {"\x1b[200~ls\r\x1b[201~", "\r"}, {false, true}},
        {"a paste left open holds back returns",
         {"\x1b[200~a\r", "b\n", "\x1b[201~\r"},
         {false, false, true}},
        {"kitty enter press, repeat and release",
         {"\x1b[13u", "\x1b[13;5u", "\x1b[13;1:2u", "\x1b[13;1:3u", "\x1b[13:13;1u"},
         {true, true, true, false, true}},
        {"other kitty keys", {"\x1b[97u", "\x1b[130u", "\x1b[;13u"}, {false, false, false}},
        {"a sequence split across sends",
         {"\x1b", "O", "M", "\x1b[1", "3u"},
         {false, false, true, false, true}},
        {"escape restarts a sequence", {"\x1b\x1bOM", "\x1b[1\x1bOM"}, {true, true}},
        {"a control byte ends a sequence", {"\x1b[1\x01M"}, {false}},
        {"long parameters are cut, not kept", {"\x1b[" + std::string(40, '1') + "u"}, {false}},
        {"a return ends a sequence and submits", {"\x1b[1\r", "3u"}, {true, false}},
        {"nothing", {""}, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        ASSERT_EQ(c.sends.size(), c.submits.size());
        for (size_t i = 0; i < c.sends.size(); ++i) {
            SCOPED_TRACE(testing::escaped(c.sends[i]));
            EXPECT_EQ(scan(t.terminal, c.sends[i]), c.submits[i]);
        }
    }
}

} // namespace
} // namespace veldatron
