#include "EscapeSequenceParser.h"
#include "ParserRecorder.h"
#include "ParserScan.h"
#include "Profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace veldatron::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string params(int count, const std::string& value) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += (i ? ";" : "") + value;
    }
    return out;
}

struct ParseCase {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> events; // merged log
};

// Each row starts from a fresh parser; chunks are fed one parse call each.
const ParseCase parseCases[] = {
    {"a CSI split after every byte dispatches once", {"\x1b", "[", "3", "1", "m"}, {"csi [m] 31"}},
    {"C1 bytes in ground are printed text",
     {"\x9b"
      "31m"},
     {"print \"\\x9B31m\""}},
    {"after ESC, 0x9B introduces a CSI",
     {"\x1b\x9b"
      "31m"},
     {"csi [m] 31"}},
    {"24 parameters dispatch", {"\x1b[" + params(24, "1") + "m"}, {"csi [m] " + params(24, "1")}},
    {"a 25th parameter voids the sequence", {"\x1b[" + params(25, "1") + "mA"}, {"print \"A\""}},
    {"the limit holds across chunks",
     {"\x1b[" + params(20, "1"), ";2;3;4;5", ";6m", "A"},
     {"print \"A\""}},
    {"values saturate at 65535",
     {"\x1b[99999;65535;65534;0065536m"},
     {"csi [m] 65535;65535;65534;65535"}},
    {"saturation holds across chunks", {"\x1b[6553", "6;7m"}, {"csi [m] 65535;7"}},
    {"omitted parameters stay apart from 0", {"\x1b[;0;;H"}, {"csi [H] ;0;;"}},
    {"colons mark sub-parameters", {"\x1b[38:2::10:20:30;4:3m"}, {"csi [m] 38:2::10:20:30;4:3"}},
    {"private marker and intermediates are collected",
     {"\x1b[?2026h\x1b[2 q\x1b[>0;2t"},
     {"csi [?h] 2026", "csi [ q] 2", "csi [>t] 0;2"}},
    {"a colon right after CSI is an error and the rest prints",
     {"\x1b[:1m"},
     {"error csiEntry 3A", "print \"1m\""}},
    {"a marker after parameters makes the sequence ignored", {"\x1b[1?2hA"}, {"print \"A\""}},
    {"CAN inside a CSI executes and the sequence goes on",
     {"\x1b[1\x18"
      "2m"},
     {"exec 18", "csi [m] 12"}},
    {"SUB inside a CSI abandons it",
     {"\x1b[1\x1a"
      "2m"},
     {"exec 1A", "print \"2m\""}},
    {"LF inside a CSI executes and the sequence goes on",
     {"\x1b[2\n;3H"},
     {"exec 0A", "csi [H] 2;3"}},
    {"ESC inside a CSI starts over", {"\x1b[1\x1b[2m"}, {"csi [m] 2"}},
    {"escape sequences with intermediates",
     {"\x1b(0\x1b#8\x1b"
      "7"},
     {"esc [(0]", "esc [#8]", "esc [7]"}},
    {"four intermediates dispatch",
     {"\x1b[?!\"#p\x1b  !\"0"},
     {"csi [?!\\x22#p] ", "esc [  !\\x220]"}},
    {"a fifth collected byte voids a CSI", {"\x1b[?!\"#$pA"}, {"print \"A\""}},
    {"a fifth intermediate voids an ESC", {"\x1b!!!!!0A"}, {"print \"A\""}},
    {"OSC ended by BEL", {"\x1b]2;title\x07"}, {"osc 2 \"title\""}},
    {"OSC ended by ESC backslash", {"\x1b]2;title\x1b\\"}, {"osc 2 \"title\"", "esc [\\x5C]"}},
    {"OSC ended by ST in a later chunk", {"\x1b]2;title", "\x9c"}, {"osc 2 \"title\""}},
    {"OSC ended by ST in the same chunk",
     {"\x1b]2;title\x9cX"},
     {"osc 2 \"title\"", "print \"X\""}},
    {"0x9C inside a UTF-8 character is title text",
     {"\x1b]2;\xd0\x9c\xd0\xb8\x9c"},
     {"osc 2 \"\\xD0\\x9C\\xD0\\xB8\""}},
    {"0x9C inside a UTF-8 character at a chunk start is title text",
     {"\x1b]2;\xd0", "\x9c\xd0\xb8", "\x9c"},
     {"osc 2 \"\\xD0\\x9C\\xD0\\xB8\""}},
    {"C1 bytes inside an OSC are text wherever the chunk starts",
     {"\x1b]0;a", "\x85\x90\x9b"
                  "b\x07"},
     {"osc 0 \"a\\x85\\x90\\x9Bb\""}},
    {"a control byte inside an OSC is dropped",
     {"\x1b]2;ti\ntle", "\r\x19!\x07"},
     {"osc 2 \"title!\""}},
    {"an OSC without a numeric code is dropped", {"\x1b];x\x07\x1b]abc\x07\x1b]1x;y\x07"}, {}},
    {"an OSC with only a code has empty data", {"\x1b]104\x07"}, {"osc 104 \"\""}},
    {"CAN and SUB abort an OSC",
     {"\x1b]2;a\x18"
      "b",
      "\x1b]2;a",
      "\x1a"
      "c"},
     {"print \"bc\""}},
    {"APC G goes to kitty graphics",
     {"\x1b_Ga=T,f=100;QUJD\x1b\\"},
     {"kitty \"a=T,f=100;QUJD\"", "esc [\\x5C]"}},
    {"APC with another command goes to the fallback", {"\x1b_Xyz\x9c"}, {"apc X \"yz\""}},
    {"an empty APC does nothing", {"\x1b_\x1b\\"}, {"esc [\\x5C]"}},
    {"APC introduced by the C1 byte after ESC", {"\x1b\x9fGm=1\x07"}, {"kitty \"m=1\""}},
    {"SOS and PM strings are skipped",
     {"\x1bXsos\x1b\\\x1b^pm\x9c"
      "A"},
     {"esc [\\x5C]", "print \"A\""}},
    {"DECRQSS hooks, puts and unhooks once",
     {"\x1bP$qm\x1b\\"},
     {"hook decrqss [$q] ", "put decrqss \"m\"", "unhook decrqss", "esc [\\x5C]"}},
    {"DECRQSS split before the terminator",
     {"\x1bP$qm", "\x1b\\"},
     {"hook decrqss [$q] ", "put decrqss \"m\"", "unhook decrqss", "esc [\\x5C]"}},
    {"a DCS without a handler is consumed", {"\x1bP100$x\x1b\\A"}, {"esc [\\x5C]", "print \"A\""}},
    {"sixel data reaches its handler",
     {"\x1bP0;1q#0;2;0;0;0~~-\x9c"},
     {"hook sixel [q] 0;1", "put sixel \"#0;2;0;0;0~~-\"", "unhook sixel"}},
    {"DEL inside DCS data is dropped",
     {"\x1bPq~\x7f~\x9c"},
     {"hook sixel [q] ", "put sixel \"~~\"", "unhook sixel"}},
    {"UTF-8 inside DCS data is data",
     {"\x1bPq\xc3\xa9\x9c"},
     {"hook sixel [q] ", "put sixel \"\\xC3\\xA9\"", "unhook sixel"}},
    {"SUB aborts a DCS without unhooking",
     {"\x1bPq~~\x1a"
      "A"},
     {"hook sixel [q] ", "put sixel \"~~\"", "exec 1A", "print \"A\""}},
    {"a void DCS after an aborted one reaches no handler",
     {"\x1bPq~\x1a", "\x1bP" + params(25, "1") + "q~~\x1b\\"},
     {"hook sixel [q] ", "put sixel \"~\"", "exec 1A", "esc [\\x5C]"}},
    {"a private marker is not a plain sixel DCS", {"\x1bP?q~\x1b\\"}, {"esc [\\x5C]"}},
    {"EM in text reaches the error handler and printing goes on",
     {"ab\x19"
      "cd"},
     {"print \"ab\"", "error ground 19", "print \"cd\""}},
    {"C0 controls cut print runs",
     {"ab\r\ncd\x07"},
     {"print \"ab\"", "exec 0D", "exec 0A", "print \"cd\"", "exec 07"}},
    {"lines after a CR LF reach the sink as text, CR and LF up to the first line that is not plain",
     {"a\r\nbc\r\n\r\nd\xc3\xa9\r\ne\r\nf\x1b[31mg\r\nh\r"},
     {"print \"a\"",  "exec 0D",     "exec 0A",
      "print \"bc\"", "exec 0D",     "exec 0A",
      "exec 0D",      "exec 0A",     "print \"d\\xC3\\xA9\"",
      "exec 0D",      "exec 0A",     "print \"e\"",
      "exec 0D",      "exec 0A",     "print \"f\"",
      "csi [m] 31",   "print \"g\"", "exec 0D",
      "exec 0A",      "print \"h\"", "exec 0D"}},
    {"lines ended by LF CR reach the sink as LF, CR and the text after them, whatever it holds",
     {"a\n\rbc\x1b[2Sd\n\re\xc3\xa9\n\r\n\r\x7fx\n\r\x1b[1;1Hf\n\r\rg\n\r"},
     {"print \"a\"",  "exec 0A",          "exec 0D",
      "print \"bc\"", "csi [S] 2",        "print \"d\"",
      "exec 0A",      "exec 0D",          "print \"e\\xC3\\xA9\"",
      "exec 0A",      "exec 0D",          "exec 0A",
      "exec 0D",      "print \"\\x7Fx\"", "exec 0A",
      "exec 0D",      "csi [H] 1;1",      "print \"f\"",
      "exec 0A",      "exec 0D",          "exec 0D",
      "print \"g\"",  "exec 0A",          "exec 0D"}},
    {"C0 controls execute in the escape state", {"\x1b\n7"}, {"exec 0A", "esc [7]"}},
    {"DEL and high bytes in ground are text",
     {"a\x7f\xc3\xa9\xff"},
     {"print \"a\\x7F\\xC3\\xA9\\xFF\""}},
    {"a high byte after ESC is an error, then text",
     {"\x1b\xc3\xa9"},
     {"error escape C3", "print \"\\xA9\""}},
    {"C1 controls outside ground execute",
     {"\x1b[1\x84"
      "A"},
     {"exec 84", "print \"A\""}},
};

TEST(EscapeSequenceParser, ParsesSequencesAsTheProtocolDefines) {
    for (const ParseCase& c : parseCases) {
        SCOPED_TRACE(c.name);
        ParserRecorder r;
        r.feed(c.chunks);
        EXPECT_THAT(r.merged(), ElementsAreArray(c.events));
        EXPECT_FALSE(r.printHintMismatch);
    }
}

// Streams that exercise every state, split at every byte boundary and byte by byte, must give the
// same calls as when they arrive whole.
const std::vector<std::string> splitCorpus = [] {
    std::vector<std::string> corpus;
    for (const ParseCase& c : parseCases) {
        std::string whole;
        for (const std::string& chunk : c.chunks) {
            whole += chunk;
        }
        corpus.push_back(whole);
    }
    corpus.push_back("\x1b[?1049h\x1b[1;1H\x1b[2J\x1b[38;5;208;48;2;1;2;3mhello\x1b[0m\r\n"
                     "\x1b[?2026h\x1b[5;10r\x1b[10;1H\n\n\x1b[3M\x1b[?2026l\x1b[?25h");
    // A screen drawn a cell or two at a time: sequences apart by short text, by nothing, by text
    // of fifteen bytes and more, by DEL and by a character beyond ASCII.
    corpus.push_back("\x1b[31;42Hg\x1b[7Dq\x1b[2C}\x1b[A<\x1b[12;29Hhi\x1b[105G\x1b[m\x1b[1;2H"
                     "abc\x1b[38;2;10;20;30mfifteen-bytes-x\x1b[Kxy\x7f\x1b[Bz\xc3\xa9\x1b[1X"
                     "\x1b[?25l!\x1b[1;1H\x1b" "7\x1b[5;5Hq\x1b" "8sixteen-bytes-xy\x1b[0K");
    // One byte between two sequences: a character, DEL, a byte beyond ASCII, a control, and a
    // character before an ESC that starts no control sequence.
    corpus.push_back("\x1b[2Cq\x1b[3D\x7f\x1b[4G\xc3\x1b[5H\a\x1b[1;2Hz\x1b"
                     "7\x1b[Aw\x1b[Bx\x1b[?5hy\x1b[Cv\x1b[D");
    corpus.push_back(
        "\xe4\xbd\xa0\xe5\xa5\xbd \xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9 e\xcc\x81"
        "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\r\n");
    corpus.push_back("\x1b]8;id=1;https://example.com/\xd0\x9c\x1b\\link\x1b]8;;\x1b\\"
                     "\x1b]133;A\x07$ \x1b]133;B\x07ls\r\n\x1b]133;C\x07\x1b]133;D;0\x07");
    corpus.push_back(
        "\x1b_Gf=100,m=1;iVBORw0KGgo\x1b\\\x1b_Gm=0;AAAA\x1b\\\x1bPq\"1;1;4;4#0;2;100;0;0"
        "#0!4~-\x85"
        "!4~\x1b\\\x90$qm\x9c\x1bP1$r0m\x1b\\");
    corpus.push_back("\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25H"
                     "\x1b[" +
                     params(30, "") + "m\x1b]52;c;" + std::string(300, 'A') +
                     "\x07"
                     "\x9d"
                     "0;\xe2\x9c\x93\x9c\x9b"
                     "2J\x98sos\x9c\x9e\x9c\x9f\x9c\x19\x1a\x18");
    return corpus;
}();

std::vector<std::string> parseWhole(const std::string& input) {
    ParserRecorder r;
    r.feed(input);
    // The fast paths see whole chunks only; the flag they pass with a run must hold too.
    EXPECT_FALSE(r.printHintMismatch);
    return r.merged();
}

TEST(EscapeSequenceParser, SplittingTheInputAnywhereChangesNothing) {
    for (const std::string& input : splitCorpus) {
        SCOPED_TRACE(escapeBytes(asBytes(input)));
        const std::vector<std::string> whole = parseWhole(input);
        for (std::size_t at = 1; at < input.size(); ++at) {
            ParserRecorder r;
            r.feed({input.substr(0, at), input.substr(at)});
            ASSERT_EQ(r.merged(), whole) << "split at " << at;
        }
        ParserRecorder bytewise;
        for (char c : input) {
            bytewise.feed(std::string(1, c));
        }
        EXPECT_EQ(bytewise.merged(), whole);
        EXPECT_FALSE(bytewise.printHintMismatch);
    }
}

TEST(EscapeSequenceParser, RandomSplitsOfRandomStreamsChangeNothing) {
    // Random streams biased towards the bytes that change states.
    const std::string alphabet = std::string("\x1b\x1b[]P_X^\\;:?$ 0123456789mqGh\x07\x18\x1a\x19"
                                             "\n\x7f\x9c\x9b\x9d\x90\x9f\x85\xd0\xc3\xe2\xa9\x80") +
                                 std::string(1, '\0');
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        std::string input;
        const int length = 1 + static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            input +=
                random() % 3 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
        }
        SCOPED_TRACE(escapeBytes(asBytes(input)));
        const std::vector<std::string> whole = parseWhole(input);
        ParserRecorder r;
        for (std::size_t at = 0; at < input.size();) {
            const std::size_t n = 1 + random() % 8;
            r.feed(input.substr(at, n));
            at += n;
        }
        ASSERT_EQ(r.merged(), whole);
        ASSERT_FALSE(r.printHintMismatch);
    }
}

TEST(EscapeSequenceParser, StringsOverTheLimitAreDroppedAtTheirTerminator) {
    ParserRecorder r;
    r.parser.maxStringLength = 8;
    r.feed({"\x1b]2;123456\x07", "\x1b]2;1234567\x07", "\x1b_G1234567\x1b\\", "\x1b_G123456",
            "78\x1b\\", "\x1bPq1234567\x1b\\", "\x1bPq12345", "6789\x1b\\", "\x1b]2;ok\x07"});
    EXPECT_THAT(r.merged(), ElementsAre("osc 2 \"123456\"", "kitty \"1234567\"", "esc [\\x5C]",
                                        "esc [\\x5C]", "hook sixel [q] ", "put sixel \"1234567\"",
                                        "unhook sixel", "esc [\\x5C]", "hook sixel [q] ",
                                        "put sixel \"12345678\"", "esc [\\x5C]", "osc 2 \"ok\""));
    EXPECT_THAT(r.parser.osc(), IsEmpty());
}

TEST(EscapeSequenceParser, PrintStateIsResetAtIntroducersAndStringEndsOnly) {
    ParserRecorder r;
    r.feed("\xe2\x80\r\n");
    EXPECT_EQ(r.printStateResets, 0);
    r.feed("\x1b[m");
    EXPECT_EQ(r.printStateResets, 1); // ESC [ at once
    r.feed("\x1b]0;x\x07");
    EXPECT_EQ(r.printStateResets, 3); // ESC, and the end of the string
    r.feed("\x1bPq~\x1b\\");
    EXPECT_EQ(r.printStateResets, 6); // ESC, P, and the unhook at the final ESC
}

TEST(EscapeSequenceParser, AnAbortingErrorHandlerDropsTheRestOfTheChunk) {
    ParserRecorder r;
    r.parser.errorHandler = [&](ParsingState state) {
        r.log.push_back("error at " + std::to_string(state.position));
        state.abort = true;
        return state;
    };
    r.feed("ab\x1b[1;2\x19"
           "cd");
    r.feed("ef");
    EXPECT_THAT(r.merged(), ElementsAre("print \"ab\"", "error at 7", "print \"ef\""));
    EXPECT_EQ(r.parser.currentState(), ParserState::ground);
}

TEST(EscapeSequenceParser, ResetReturnsToTheInitialState) {
    ParserRecorder r;
    r.feed("\x1bPq~~");
    ASSERT_EQ(r.parser.activeDcsHandler(), &r.sixel);
    r.parser.reset();
    EXPECT_EQ(r.parser.activeDcsHandler(), nullptr);
    EXPECT_EQ(r.parser.currentState(), ParserState::ground);
    EXPECT_EQ(r.printStateResets, 3); // ESC, P and the reset
    r.feed("~\x1b\\");
    EXPECT_THAT(r.merged(),
                ElementsAre("hook sixel [q] ", "put sixel \"~~\"", "print \"~\"", "esc [\\x5C]"));

    // A handler may reset the parser from inside a dispatch (a full reset does).
    ParserRecorder inside;
    inside.parser.escHandler = [&](const SequenceId& s) {
        inside.log.push_back("esc " + std::string(1, static_cast<char>(s.final)));
        inside.parser.reset();
    };
    inside.feed("\x1b"
                "cA\x1b[1m");
    EXPECT_THAT(inside.merged(), ElementsAre("esc c", "print \"A\"", "csi [m] 1"));
}

TEST(EscapeSequenceParser, DispatchPrefersRegisteredHandlersToFallbacks) {
    ParserRecorder r;
    r.parser.oscHandlers[2] = [&](std::span<const std::uint8_t> data) {
        r.log.push_back("registered \"" + escapeBytes(data) + "\"");
    };
    std::vector<std::uint32_t> ids;
    r.parser.csiHandler = [&](const SequenceId& s, const ParserParams& p) {
        ids.push_back(s.id);
        EXPECT_EQ(&p, &r.parser.params());
    };
    r.feed("\x1b]2;a\x07\x1b]1;b\x07\x1b[?2026h\x1b[2 q\x1b[H");
    EXPECT_THAT(r.merged(), ElementsAre("registered \"a\"", "osc 1 \"b\""));
    EXPECT_THAT(ids, ElementsAre(sequenceId("?", 'h'), sequenceId(" ", 'q'), sequenceId("", 'H')));
}

TEST(EscapeSequenceParser, SequenceIdsAreDistinct) {
    const std::string collectable = " !\"#$%&'()*+,-./<=>?";
    std::vector<std::string> collects = {""};
    for (char a : collectable) {
        collects.push_back(std::string(1, a));
        for (char b : collectable) {
            collects.push_back(std::string{a, b});
        }
    }
    std::set<std::uint32_t> seen;
    for (const std::string& c : collects) {
        for (int final = 0x30; final <= 0x7E; ++final) {
            const std::uint32_t id = sequenceId(c, static_cast<char>(final));
            ASSERT_NE(id, invalidSequenceId);
            ASSERT_TRUE(seen.insert(id).second) << c << static_cast<char>(final);
        }
    }
    EXPECT_EQ(sequenceId("?!\"#$", 'p'), invalidSequenceId);
    EXPECT_EQ(sequenceId("1", 'p'), invalidSequenceId);
}

TEST(EscapeSequenceParser, ParseDecimalAcceptsOnlyDigitsInRange) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    } cases[] = {
        {"", std::nullopt},
        {"0", 0},
        {"0104", 104},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"1a", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EscapeSequenceParser::parseDecimal(asBytes(c.text)), c.value);
    }
}

// An encoding of the transition rows written independently of the table builder: the action and
// next state for each (state, byte), bytes from 0xA0 up as 0xA0.
std::pair<ParserAction, ParserState> expectedTransition(ParserState s, int b) {
    using A = ParserAction;
    using S = ParserState;
    const bool executable = b <= 0x18 || (b >= 0x1C && b <= 0x1F);
    const bool stringState = s == S::oscString || s == S::apcString;
    auto in = [b](int from, int to) { return b >= from && b <= to; };

    if (stringState) {
        if (b == 0x07 || b == 0x18 || b == 0x1A || b == 0x1B || b == 0x9C) {
            return {A::oscEnd, S::ground};
        }
        if (b < 0x20) {
            return {A::ignore, s};
        }
        return {A::oscPut, s};
    }
    switch (s) {
    case S::ground:
        if (executable)
            return {A::execute, s};
        if (in(0x20, 0x7E))
            return {A::print, s};
        break;
    case S::escape:
        if (executable)
            return {A::execute, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, S::escapeIntermediate};
        if (b == 'P')
            return {A::clear, S::dcsEntry};
        if (b == 'X' || b == '^')
            return {A::ignore, S::sosPmApcString};
        if (b == '[')
            return {A::clear, S::csiEntry};
        if (b == ']')
            return {A::oscStart, S::oscString};
        if (b == '_')
            return {A::oscStart, S::apcString};
        if (in(0x30, 0x7E))
            return {A::escDispatch, S::ground};
        break;
    case S::escapeIntermediate:
        if (executable)
            return {A::execute, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, s};
        if (in(0x30, 0x7E))
            return {A::escDispatch, S::ground};
        break;
    case S::csiEntry:
        if (executable)
            return {A::execute, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, S::csiIntermediate};
        if (in('0', '9') || b == ';')
            return {A::param, S::csiParam};
        if (in('<', '?'))
            return {A::collect, S::csiParam};
        if (in(0x40, 0x7E))
            return {A::csiDispatch, S::ground};
        break;
    case S::csiParam:
        if (executable)
            return {A::execute, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (in('0', '9') || b == ':' || b == ';')
            return {A::param, s};
        if (in('<', '?'))
            return {A::ignore, S::csiIgnore};
        if (in(0x20, 0x2F))
            return {A::collect, S::csiIntermediate};
        if (in(0x40, 0x7E))
            return {A::csiDispatch, S::ground};
        break;
    case S::csiIntermediate:
        if (executable)
            return {A::execute, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, s};
        if (in(0x30, 0x3F))
            return {A::ignore, S::csiIgnore};
        if (in(0x40, 0x7E))
            return {A::csiDispatch, S::ground};
        break;
    case S::csiIgnore:
        if (executable)
            return {A::execute, s};
        if (in(0x20, 0x3F) || b == 0x7F)
            return {A::ignore, s};
        if (in(0x40, 0x7E))
            return {A::ignore, S::ground};
        break;
    case S::sosPmApcString:
        if (executable || in(0x20, 0x7F))
            return {A::ignore, s};
        break;
    case S::dcsEntry:
        if (executable || b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, S::dcsIntermediate};
        if (in('0', '9') || b == ';')
            return {A::param, S::dcsParam};
        if (b == ':')
            return {A::ignore, S::dcsIgnore};
        if (in('<', '?'))
            return {A::collect, S::dcsParam};
        if (in(0x40, 0x7E))
            return {A::dcsHook, S::dcsPassthrough};
        break;
    case S::dcsParam:
        if (executable || b == 0x7F)
            return {A::ignore, s};
        if (in('0', '9') || b == ';')
            return {A::param, s};
        if (b == ':' || in('<', '?'))
            return {A::ignore, S::dcsIgnore};
        if (in(0x20, 0x2F))
            return {A::collect, S::dcsIntermediate};
        if (in(0x40, 0x7E))
            return {A::dcsHook, S::dcsPassthrough};
        break;
    case S::dcsIgnore:
        if (executable || in(0x20, 0x7F))
            return {A::ignore, s};
        break;
    case S::dcsIntermediate:
        if (executable || b == 0x7F)
            return {A::ignore, s};
        if (in(0x20, 0x2F))
            return {A::collect, s};
        if (in(0x30, 0x3F))
            return {A::ignore, S::dcsIgnore};
        if (in(0x40, 0x7E))
            return {A::dcsHook, S::dcsPassthrough};
        break;
    case S::dcsPassthrough:
        if (executable || in(0x1C, 0x7E))
            return {A::dcsPut, s};
        if (b == 0x7F)
            return {A::ignore, s};
        if (b == 0x1B || b == 0x9C)
            return {A::dcsUnhook, S::ground};
        break;
    default:
        break;
    }
    // Bytes that act the same in every state.
    if (b == 0x18 || b == 0x1A || in(0x80, 0x8F) || in(0x91, 0x97) || b == 0x99 || b == 0x9A) {
        return {A::execute, S::ground};
    }
    if (b == 0x9C)
        return {A::ignore, S::ground};
    if (b == 0x1B)
        return {A::clear, S::escape};
    if (b == 0x9D)
        return {A::oscStart, S::oscString};
    if (b == 0x98 || b == 0x9E)
        return {A::ignore, S::sosPmApcString};
    if (b == 0x9F)
        return {A::oscStart, S::apcString};
    if (b == 0x9B)
        return {A::clear, S::csiEntry};
    if (b == 0x90)
        return {A::clear, S::dcsEntry};
    return {A::error, S::ground};
}

TEST(EscapeSequenceParser, TransitionTableMatchesTheTransitionRows) {
    const TransitionTable& table = TransitionTable::sharedVt500Table();
    for (int s = 0; s <= static_cast<int>(ParserState::dcsPassthrough); ++s) {
        const auto state = static_cast<ParserState>(s);
        for (int b = 0; b <= 0xFF; ++b) {
            const auto [action, next] = expectedTransition(state, b < 0xA0 ? b : 0xA0);
            SCOPED_TRACE(testing::Message() << "state " << s << " byte " << b);
            ASSERT_EQ(table.action(state, static_cast<std::uint8_t>(b)), action);
            ASSERT_EQ(table.next(state, static_cast<std::uint8_t>(b)), next);
        }
    }
}

TEST(ParserScan, VectorScannersAgreeWithTheByteLoops) {
    std::mt19937 random(99);
    std::vector<std::uint8_t> data(300);
    for (int round = 0; round < 3000; ++round) {
        // Mostly one class of bytes with a few others, so that stops land everywhere.
        const int mode = round % 3;
        for (auto& b : data) {
            const unsigned r = random();
            b = mode == 0   ? static_cast<std::uint8_t>(0x20 + r % 0x5F)
                : mode == 1 ? static_cast<std::uint8_t>(0x20 + r % 0xE0)
                            : static_cast<std::uint8_t>(r);
            if (r % 97 == 0) {
                b = static_cast<std::uint8_t>(r >> 8);
            }
        }
        const std::size_t from = random() % 40;
        const std::size_t to = from + random() % (data.size() - from);
        const std::uint8_t* begin = data.data() + from;
        const std::uint8_t* end = data.data() + to;

        bool asciiScalar = true, asciiSwar = true, asciiFast = true;
        const std::uint8_t* stop = scan::groundScalar(begin, end, asciiScalar);
        ASSERT_EQ(scan::groundSwar(begin, end, asciiSwar), stop);
        ASSERT_EQ(scan::ground(begin, end, asciiFast), stop);
        ASSERT_EQ(asciiSwar, asciiScalar);
        ASSERT_EQ(asciiFast, asciiScalar);
        ASSERT_EQ(scan::printable(begin, end), scan::printableScalar(begin, end));
        ASSERT_EQ(scan::printableScalar(begin, end) == stop, asciiScalar);
        ASSERT_EQ(scan::string(begin, end), scan::stringScalar(begin, end));
        ASSERT_EQ(scan::dcs(begin, end), scan::dcsScalar(begin, end));
        if (end - begin >= scan::shortTextLimit) {
            const int text = scan::shortTextScalar(begin);
            ASSERT_EQ(scan::shortText(begin), text);
            ASSERT_EQ(text, std::min<std::ptrdiff_t>(scan::printableScalar(begin, end) - begin,
                                                     scan::shortTextLimit));
        }
    }
}

TEST(ParserScan, ShortParametersReadAsTheParameterReaderReadsThem) {
    // Lists of every shape near the limits: values of up to six digits, empty ones, one to three
    // separators of either kind, markers, then a final or more list.
    const std::string alphabet = "0123456789999;;:?H";
    std::mt19937 random(21);
    for (int round = 0; round < 20000; ++round) {
        std::string input;
        const size_t length = random() % 19;
        for (size_t i = 0; i < length; ++i) {
            input += alphabet[random() % alphabet.size()];
        }
        input += std::string(24, 'H');
        SCOPED_TRACE(input);
        const auto* p = reinterpret_cast<const std::uint8_t*>(input.data());
        const scan::ShortParameters shape = scan::shortParametersScalar(p);
        const scan::ShortParameters fast = scan::shortParameters(p);
        ASSERT_EQ(fast.length, shape.length);
        if (shape.length < 0) {
            continue;
        }
        ASSERT_EQ(fast.separator, shape.separator);
        if (p[shape.length] == ':') {
            continue; // a sub-parameter: not a final, which the caller finds out
        }
        ParserParams params;
        params.reset();
        ASSERT_EQ(params.addParameterBytes(p, p + input.size()) - p, shape.length);
        const bool two = shape.separator < shape.length;
        ASSERT_EQ(params.size(), two ? 2 : 1);
        ASSERT_EQ(params[0], int(ParserParams::shortValue(p, unsigned(shape.separator))));
        if (two) {
            ASSERT_EQ(params.separatorBefore(1), ';');
            ASSERT_EQ(params[1],
                      int(ParserParams::shortValue(p + shape.separator + 1,
                                                   unsigned(shape.length - shape.separator - 1))));
        }
    }
}

// Reads `input` with addParameterBytes into a list that already holds `prefix` (as when a read
// splits a sequence) and checks stop, values, omissions and separators against addDigit and
// addSeparator one byte at a time.
void expectRunReadsAsBytes(const std::string& prefix, const std::string& input) {
    SCOPED_TRACE(prefix + " | " + input);
    ParserParams run;
    ParserParams bytewise;
    for (ParserParams* params : {&run, &bytewise}) {
        params->reset();
        for (char c : prefix) {
            if (c == ';' || c == ':') {
                if (!params->addSeparator(static_cast<std::uint8_t>(c))) {
                    break;
                }
            } else if (c >= '0' && c <= '9') {
                params->addDigit(static_cast<std::uint8_t>(c - '0'));
            } else {
                break;
            }
        }
    }
    const std::span<const std::uint8_t> bytes = asBytes(input);
    const std::uint8_t* const stop =
        run.addParameterBytes(bytes.data(), bytes.data() + bytes.size());
    const std::uint8_t* expectedStop = bytes.data();
    for (; expectedStop != bytes.data() + bytes.size(); ++expectedStop) {
        const std::uint8_t c = *expectedStop;
        if (c >= '0' && c <= '9') {
            bytewise.addDigit(static_cast<std::uint8_t>(c - '0'));
        } else if ((c != ';' && c != ':') || !bytewise.addSeparator(c)) {
            break;
        }
    }
    ASSERT_EQ(stop - bytes.data(), expectedStop - bytes.data());
    ASSERT_EQ(run.size(), bytewise.size());
    for (int i = 0; i < bytewise.size(); ++i) {
        ASSERT_EQ(run[i], bytewise[i]) << i;
        ASSERT_EQ(run.isOmitted(i), bytewise.isOmitted(i)) << i;
        ASSERT_EQ(run.separatorBefore(i), bytewise.separatorBefore(i)) << i;
    }
}

TEST(ParserParams, ReadingARunAgreesWithOneByteAtATime) {
    // Long digit runs (saturation), lists past the limit and runs that stop at another byte, each
    // resumed from a list already holding a few parameters, as when a read splits a sequence.
    const std::string alphabet = "0123456789;:;:9m";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        const int length = static_cast<int>(random() % 80);
        for (int i = 0; i < length; ++i) {
            input += random() % 4 ? alphabet[random() % alphabet.size()] : '9';
        }
        expectRunReadsAsBytes(input.substr(0, random() % (input.size() + 1)), input);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(ParserParams, AFreshListReadsAsOneByteAtATime) {
    // Lists of short values as programs write them, ending anywhere around 16 bytes, some with a
    // value of five or more digits or leading zeros, followed by a final byte and more data.
    std::mt19937 random(11);
    const std::string finals = "mH\x1b?$ 9;";
    for (int round = 0; round < 5000; ++round) {
        std::string input;
        const int count = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                input += random() % 5 ? ';' : ':';
            }
            const int digits = static_cast<int>(random() % 7 == 0 ? random() % 8 : random() % 4);
            for (int d = 0; d < digits; ++d) {
                input += static_cast<char>('0' + random() % 10);
            }
        }
        input += finals[random() % finals.size()];
        const char filler = random() % 2 ? '7' : 'x';
        input += std::string(random() % 24, filler);
        expectRunReadsAsBytes("", input);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(ParserParams, ValuesAtTheEdges) {
    // Each input is followed by a final byte and enough data for every way of reading it.
    const std::string tail = "mxxxxxxxxxxxxxxxxxxxxxxxx";
    struct Case {
        std::string text;
        std::vector<std::int32_t> values;
        std::vector<bool> omitted;
    };
    const Case cases[] = {
        {"", {0}, {true}},
        {"0", {0}, {false}},
        {"0000", {0}, {false}},
        {"0009", {9}, {false}},
        {"9999", {9999}, {false}},
        {"00001", {1}, {false}},
        {"65535", {65535}, {false}},
        {"65536", {65535}, {false}},
        {"99999999999999999999", {65535}, {false}},
        {"000000000000000000001", {1}, {false}},
        {";", {0, 0}, {true, true}},
        {"1;;2", {1, 0, 2}, {false, true, false}},
        {"7;", {7, 0}, {false, true}},
        {"0;0009;9999;0", {0, 9, 9999, 0}, {false, false, false, false}},
        {"1;2;00000", {1, 2, 0}, {false, false, false}},
        {"38:2::10:20:30", {38, 2, 0, 10, 20, 30}, {false, false, true, false, false, false}},
        {"1;70000;3", {1, 65535, 3}, {false, false, false}},
        {"1;2;3;4;5;6;7;8", {1, 2, 3, 4, 5, 6, 7, 8}, std::vector<bool>(8, false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ParserParams params;
        params.reset();
        const std::string input = c.text + tail;
        const std::span<const std::uint8_t> bytes = asBytes(input);
        EXPECT_EQ(params.addParameterBytes(bytes.data(), bytes.data() + bytes.size()) -
                      bytes.data(),
                  static_cast<std::ptrdiff_t>(c.text.size()));
        ASSERT_EQ(params.size(), static_cast<int>(c.values.size()));
        for (int i = 0; i < params.size(); ++i) {
            EXPECT_EQ(params[i], c.values[static_cast<std::size_t>(i)]) << i;
            EXPECT_EQ(params.isOmitted(i), c.omitted[static_cast<std::size_t>(i)]) << i;
        }
    }
    // At the limit a list stops in front of the separator that has no room, keeping the rest.
    std::string full;
    for (int i = 0; i < ParserParams::maxCount; ++i) {
        full += i == 0 ? "1" : ";1";
    }
    for (const std::string& past : {full + ";2m", full + ":2m", full + "2;3m"}) {
        SCOPED_TRACE(past);
        expectRunReadsAsBytes("", past + tail);
    }
}

TEST(Profile, OnlyTheValueOneTurnsMarkersOn) {
    EXPECT_TRUE(profile::isEnabledValue("1"));
    for (const char* off : {"0", "", "11", "true", " 1"}) {
        SCOPED_TRACE(off);
        EXPECT_FALSE(profile::isEnabledValue(off));
    }
    EXPECT_FALSE(profile::isEnabledValue(nullptr));
}

} // namespace
} // namespace veldatron::test
