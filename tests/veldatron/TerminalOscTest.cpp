#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"
#include "TextDecoding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string osc(const std::string& body) {
    return "\x1b]" + body + "\x1b\\";
}

constexpr const char* use8bit = "\x1b[65;2\"p";

// ---- Titles ---------------------------------------------------------------------------------

TEST(TerminalOsc, TitlesReachTheHost) {
    TerminalFixture t;
    t.takeCalls();
    t.feed("\x1b]2;one\x07\x1b]1;icon\x1b\\\x1b]0;zwei \xc3\xa4\x07");
    EXPECT_EQ(t.terminal.terminalTitle(), "zwei \xc3\xa4");
    EXPECT_EQ(t.terminal.iconTitle(), "icon") << "OSC 0 leaves the icon title";
    t.feed("\x1b]2;bad \xc3\x07\x1b]2;same\x07\x1b]2;same\x07");
    EXPECT_THAT(t.takeCalls(), ElementsAre("setTerminalTitle one", "setTerminalIconTitle icon",
                                           "setTerminalTitle zwei \xc3\xa4", "setTerminalTitle ",
                                           "setTerminalTitle same", "setTerminalTitle same"))
        << "text that is not UTF-8 is the empty title; an unchanged title is still told";
}

// ---- Directory and document -----------------------------------------------------------------

TEST(TerminalOsc, DirectoryAndDocumentNeedATrustedProcess) {
    TerminalFixture t;
    t.takeCalls();
    t.host.trusted = false;
    t.feed(osc("7;file://host/tmp"));
    EXPECT_FALSE(t.terminal.hostCurrentDirectory());
    EXPECT_THAT(t.takeCalls(), IsEmpty());
    t.host.trusted = true;
    t.feed(osc("7;file://host/tmp") + osc("6;file:///doc.txt") + osc("7;\xff"));
    EXPECT_EQ(t.terminal.hostCurrentDirectory(), "file://host/tmp");
    EXPECT_EQ(t.terminal.hostCurrentDocument(), "file:///doc.txt");
    EXPECT_THAT(t.takeCalls(), ElementsAre("hostCurrentDirectoryUpdated file://host/tmp",
                                           "hostCurrentDocumentUpdated file:///doc.txt"));
}

TEST(TerminalOsc, WithoutAHostNothingIsStored) {
    Terminal terminal(nullptr);
    terminal.feed(osc("7;file:///x") + osc("10;?") + osc("52;c;?") + "\x1b[18t\x1b[?u");
    EXPECT_FALSE(terminal.hostCurrentDirectory());
}

// ---- Replies to colour and clipboard queries, in both framings ------------------------------

struct ReplyCase {
    const char* name;
    std::string setup;
    std::string query;
    std::string reply; // 7-bit
};

const ReplyCase replyCases[] = {
    {"OSC 11 answers the background", osc("11;#000000"), osc("11;?"),
     "\x1b]11;rgb:0000/0000/0000\x1b\\"},
    {"OSC 10 sets the foreground, then answers the background", osc("11;#0000ff"),
     osc("10;#ff0000;?"), "\x1b]11;rgb:0000/0000/ffff\x1b\\"},
    {"OSC 10 answers the foreground", osc("10;rgb:12/34/56"), osc("10;?"),
     "\x1b]10;rgb:1212/3434/5656\x1b\\"},
    {"OSC 12 answers the foreground while there is no cursor colour", osc("10;#102030"),
     osc("12;?"), "\x1b]12;rgb:1010/2020/3030\x1b\\"},
    {"OSC 12 answers the cursor colour", osc("12;#00ff00"), osc("12;?"),
     "\x1b]12;rgb:0000/ffff/0000\x1b\\"},
    {"OSC 10 with three queries answers foreground, background and cursor",
     osc("10;#010203") + osc("11;#040506"), osc("10;?;?;?"),
     "\x1b]10;rgb:0101/0202/0303\x1b\\\x1b]11;rgb:0404/0505/0606\x1b\\"
     "\x1b]12;rgb:0101/0202/0303\x1b\\"},
    {"fields past the cursor colour are ignored", "", osc("12;?;?"),
     "\x1b]12;rgb:8a3d/8a3d/8a3d\x1b\\"},
    {"OSC 4 answers each entry asked for", osc("4;1;#abcdef"), osc("4;1;?;2;#123;2;?"),
     "\x1b]4;1;rgb:abab/cdcd/efef\x1b\\\x1b]4;2;rgb:1010/2020/3030\x1b\\"},
    {"OSC 4 stops at an index out of range", "", osc("4;256;?") + osc("4;x;?") + osc("4;-1;?"), ""},
    {"OSC 4 stops at a malformed index and keeps what came before", "", osc("4;3;#ff0000;x;?;4;?"),
     ""},
    {"OSC 52 answers a read with the clipboard in Base64", "", osc("52;c;?"),
     "\x1b]52;c;aGVsbG8=\x1b\\"},
    {"OSC 52 with no selection names the clipboard", "", osc("52;;?"), "\x1b]52;c;aGVsbG8=\x1b\\"},
};

TEST(TerminalOsc, RepliesIn7And8BitForm) {
    for (bool eight : {false, true}) {
        for (const ReplyCase& c : replyCases) {
            SCOPED_TRACE(std::string(c.name) + (eight ? " (8-bit)" : " (7-bit)"));
            TerminalFixture t;
            t.host.clipboard = std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'};
            if (eight) {
                t.feed(use8bit);
            }
            t.feed(c.setup);
            t.takeReplies();
            t.feed(c.query);
            EXPECT_EQ(t.takeReplies(), escaped(eight ? eightBit(c.reply) : c.reply));
        }
    }
}

TEST(TerminalOsc, PaletteEntriesChangeAndReset) {
    TerminalFixture t;
    Terminal& terminal = t.terminal;
    t.takeCalls();
    t.feed(osc("4;1;?;2;rgb:ffff/0000/0000"));
    EXPECT_EQ(t.takeReplies(),
              "\\x1b]4;1;" + terminal.ansiColors()[1].formatAsXcolor() + "\\x1b\\\\");
    EXPECT_EQ(terminal.ansiColors()[2], Color(0xffff, 0, 0));
    EXPECT_NE(terminal.defaultAnsiColors()[2], Color(0xffff, 0, 0));
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged 2"));

    t.feed(osc("4;3") + osc("4;5;nonsense"));
    EXPECT_THAT(t.takeCalls(), IsEmpty()) << "no spec, or one that is no colour, changes nothing";

    t.feed(osc("4;0;#111111;1;#222222;255;#333333"));
    t.takeCalls();
    t.feed(osc("104;1;x;300;-1"));
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged 1", "colorChanged 0"))
        << "a field that is no number means entry 0; numbers out of range are skipped";
    EXPECT_EQ(terminal.ansiColors()[0], terminal.defaultAnsiColors()[0]);
    EXPECT_EQ(terminal.ansiColors()[255], Color::parseColor("#333333"));
    t.feed("\x1b]104\x07");
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged all"));
    EXPECT_EQ(terminal.ansiColors(), terminal.defaultAnsiColors());
}

TEST(TerminalOsc, DefaultColoursGoThroughTheHost) {
    TerminalFixture t;
    t.takeCalls();
    t.feed(osc("11;#000000") + osc("12;#ff0000") + osc("10;not a colour"));
    EXPECT_EQ(t.terminal.backgroundColor(), Color(0, 0, 0));
    EXPECT_EQ(t.terminal.cursorColor(), Color(0xffff, 0, 0));
    const auto calls = t.takeCalls();
    EXPECT_THAT(calls, ::testing::Contains("setBackgroundColor"));
    EXPECT_THAT(calls, ::testing::Contains("setCursorColor rgb:ffff/0000/0000"));
    t.feed(osc("112"));
    EXPECT_EQ(t.terminal.cursorColor(), std::nullopt);
    EXPECT_THAT(t.takeCalls(), ::testing::Contains("setCursorColor none"));
}

// ---- Clipboard ------------------------------------------------------------------------------

TEST(TerminalOsc, ClipboardWritesAreDecodedStrictly) {
    TerminalFixture t;
    t.takeCalls();
    t.feed(osc("52;c;aGk=") + osc("52;c;aGk") + osc("52;c;a Gk=") + osc("52;c;aGk=aGk=") +
           osc("52;p;") + osc("52cnosemicolon"));
    EXPECT_THAT(t.takeCalls(), ElementsAre("clipboardCopy hi", "clipboardCopy "));
}

TEST(TerminalOsc, ClipboardRepliesNameOnlyValidSelections) {
    struct Case {
        std::string selection;
        std::string named;
    };
    const Case cases[] = {
        {"c", "c"},   {"ps07", "ps07"},           {"$(id)", "c"},
        {"x9s", "s"}, {"cccccccccc", "cccccccc"}, {"\xff\xfe", "c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(c.selection));
        TerminalFixture t;
        t.host.clipboard = std::vector<uint8_t>{'x'};
        t.terminal.feed(osc("52;" + c.selection + ";?"));
        EXPECT_EQ(t.takeReplies(), "\\x1b]52;" + c.named + ";eA==\\x1b\\\\");
    }
}

TEST(TerminalOsc, AClipboardReadTheHostRefusesIsNotAnswered) {
    TerminalFixture t;
    t.takeCalls();
    t.feed(osc("52;c;?"));
    EXPECT_EQ(t.takeReplies(), "");
    EXPECT_THAT(t.takeCalls(), ElementsAre("clipboardRead"));
    t.host.clipboard = std::vector<uint8_t>{};
    t.feed(osc("52;c;?"));
    EXPECT_EQ(t.takeReplies(), "\\x1b]52;c;\\x1b\\\\") << "empty data is still data";
}

// ---- Notifications, inline images and other content ----------------------------------------

TEST(TerminalOsc, Notifications) {
    TerminalFixture t;
    t.takeCalls();
    t.feed(osc("777;notify;Title") + osc("777;notify;T;a;b") + osc("777;other;T;b") +
           osc("777;notify;\xc3;x"));
    EXPECT_THAT(t.takeCalls(), ElementsAre("notify T|a;b"));
}

TEST(TerminalOsc, InlineImagesAndOtherContent) {
    TerminalFixture t;
    t.takeCalls();
    t.feed(osc("1337;File=name=eA==;inline=1;width=50%;height=auto:aGVsbG8="));
    ASSERT_EQ(t.host.images.size(), 1u);
    EXPECT_EQ(t.host.images[0].data, "hello");
    EXPECT_EQ(t.host.images[0].width, ImageSizeRequest::percent(50));
    EXPECT_EQ(t.host.images[0].height, ImageSizeRequest::automatic());
    EXPECT_TRUE(t.host.images[0].preserveAspectRatio);
    t.feed(osc("1337;File=inline=1;preserveAspectRatio=0:aGk="));
    ASSERT_EQ(t.host.images.size(), 2u);
    EXPECT_FALSE(t.host.images[1].preserveAspectRatio);

    t.takeCalls();
    t.feed(osc("1337;File=inline=0:aGk=") + osc("1337;SetMark=1") + osc("1337;no equals") +
           osc("1337;File=inline=1") + osc("1337;File=inline=1:not base64!") +
           osc("1337;File=:aGk="));
    EXPECT_THAT(t.takeCalls(), ElementsAre("iTermContent File=inline=0:aGk=",
                                           "iTermContent SetMark=1", "iTermContent File=:aGk="));
}

TEST(TerminalOsc, ImageDimensions) {
    struct Case {
        std::string value;
        ImageSizeRequest expected;
    };
    const Case cases[] = {
        {"auto", ImageSizeRequest::automatic()},   {"0", ImageSizeRequest::automatic()},
        {"200", ImageSizeRequest::automatic()},    {"-5", ImageSizeRequest::automatic()},
        {"+5", ImageSizeRequest::cells(5)},        {"199", ImageSizeRequest::cells(199)},
        {"5000px", ImageSizeRequest::automatic()}, {"4095px", ImageSizeRequest::pixels(4095)},
        {"100%", ImageSizeRequest::percent(100)},  {"101%", ImageSizeRequest::automatic()},
        {"%", ImageSizeRequest::automatic()},      {"px", ImageSizeRequest::automatic()},
        {"", ImageSizeRequest::automatic()},       {"12cm", ImageSizeRequest::automatic()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        TerminalFixture t;
        t.feed(osc("1337;File=inline=1;width=" + c.value + ":aGk="));
        ASSERT_EQ(t.host.images.size(), 1u);
        EXPECT_EQ(t.host.images[0].width, c.expected);
    }
}

// ---- Progress -------------------------------------------------------------------------------

TEST(TerminalOsc, ProgressReports) {
    using State = ProgressReportState;
    struct Case {
        std::string payload;
        std::optional<ProgressReport> expected;
    };
    const Case cases[] = {
        {"4;1;150", ProgressReport{State::set, 100}},
        {"4;1;-5", ProgressReport{State::set, 0}},
        {"4;1;+42", ProgressReport{State::set, 42}},
        {"4;1", ProgressReport{State::set, 0}},
        {"4;1;", ProgressReport{State::set, 0}},
        {"4;2", ProgressReport{State::error, std::nullopt}},
        {"4;2;30", ProgressReport{State::error, 30}},
        {"4;3", ProgressReport{State::indeterminate, std::nullopt}},
        {"4;4;7;extra", ProgressReport{State::pause, 7}},
        {"4;0;50", ProgressReport{State::remove, std::nullopt}},
        {"4;0;x", std::nullopt},
        {"4;5", std::nullopt},
        {"4;12", std::nullopt},
        {"4;1;x", std::nullopt},
        {"1;2", std::nullopt},
        {"4", std::nullopt},
        {"4;1;99999999999999999999", std::nullopt},
        {"4;1;\xc3\xa4", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(c.payload));
        EXPECT_EQ(Terminal::parseProgressReport(TextDecoding::bytesOf(c.payload)), c.expected);
    }
}

TEST(TerminalOsc, ProgressReachesTheHostAndOtherOsc9GoesToTheFallback) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.takeCalls();
    t.feed(osc("9;4;1;40") + osc("9;hello"));
    EXPECT_THAT(t.takeCalls(), ElementsAre("progressReport"));
    ASSERT_EQ(t.host.progressReports.size(), 1u);
    EXPECT_EQ(t.host.progressReports[0], (ProgressReport{ProgressReportState::set, 40}));
    EXPECT_THAT(capture.captured(), ElementsAre("Info: Veldatron: Unknown OSC code: 9"));
}

// ---- Hyperlinks -----------------------------------------------------------------------------

// Payloads unique to one test: the registry is process-wide.
std::string link(const std::string& tag) {
    return "id=" + tag + ";https://example.com/" + tag;
}

TEST(TerminalOsc, CellsOfOneLinkShareOneHandle) {
    TerminalFixture t;
    const std::string payload = link("share");
    t.feed(osc("8;" + payload) + "ab" + osc("8;;") + "c");
    const TinyAtom handle = t.cell(0, 0).payload();
    ASSERT_NE(handle.code, 0);
    EXPECT_EQ(t.cell(1, 0).payload(), handle);
    EXPECT_EQ(t.cell(2, 0).payload().code, 0) << "a lone semicolon ends the link";
    EXPECT_EQ(handle.target(), payload);
    EXPECT_EQ(Terminal::parseHyperlinkPayload(*handle.target()), "https://example.com/share");
    EXPECT_EQ(t.terminal.payloadCodes(), (std::set<uint16_t>{handle.code}));
}

TEST(TerminalOsc, ALinkWithNothingPrintedRegistersNothing) {
    TerminalFixture t;
    const uint16_t before = TinyAtom::registry().lastUsed();
    t.feed(osc("8;" + link("empty")) + osc("8;;"));
    EXPECT_TRUE(t.terminal.payloadCodes().empty());
    EXPECT_EQ(TinyAtom::registry().lastUsed(), before);
}

TEST(TerminalOsc, IdenticalLinksReuseTheirLiveHandle) {
    TerminalFixture t;
    TerminalFixture other;
    const std::string payload = link("again");
    t.feed(osc("8;" + payload) + "a" + osc("8;;") + " " + osc("8;" + payload) + "b" + osc("8;;"));
    const TinyAtom handle = t.cell(0, 0).payload();
    EXPECT_EQ(t.cell(2, 0).payload(), handle);
    EXPECT_EQ(t.terminal.payloadCodes().size(), 1u) << "the terminal holds the code once";
    other.feed(osc("8;" + payload) + "z");
    EXPECT_EQ(other.cell(0, 0).payload(), handle) << "another terminal shares it too";

    // Each terminal gives up its own use; the code stays registered while one is left.
    t.feed("\x1b[2J");
    t.terminal.garbageCollectPayload();
    EXPECT_TRUE(t.terminal.payloadCodes().empty());
    EXPECT_EQ(handle.target(), payload);
    other.feed("\x1b[2J" + osc("8;;"));
    other.terminal.garbageCollectPayload();
    EXPECT_EQ(handle.target(), std::nullopt);
}

TEST(TerminalOsc, GarbageCollectionKeepsTheActiveLinkAndRowsInTheScrollback) {
    TerminalFixture t({.cols = 10, .rows = 2, .scrollback = 5});
    const std::string active = link("active");
    const std::string scrolled = link("scrolled");
    t.feed(osc("8;" + scrolled) + "s" + osc("8;;") + "\r\n\r\n\r\n");
    t.feed(osc("8;" + active) + "a\x1b[2K");
    const std::set<uint16_t> held = t.terminal.payloadCodes();
    ASSERT_EQ(held.size(), 2u);
    t.terminal.garbageCollectPayload();
    EXPECT_EQ(t.terminal.payloadCodes(), held)
        << "one link is in the scrollback, the other is still the active one";
    t.feed(osc("8;;"));
    t.terminal.garbageCollectPayload();
    EXPECT_EQ(t.terminal.payloadCodes().size(), 1u);
}

TEST(TerminalOsc, AnOversizedLinkMakesNoLink) {
    TerminalFixture t;
    const std::string longest = "id=x;https://e.com/" + std::string(4096 - 19, 'a');
    t.feed(osc("8;" + longest + "b") + "x" + osc("8;" + longest) + "y");
    EXPECT_EQ(t.cell(0, 0).payload().code, 0);
    EXPECT_NE(t.cell(1, 0).payload().code, 0) << "4096 bytes are still a link";
}

TEST(TerminalOsc, AResetReleasesTheLinksOfTheOldScreen) {
    TerminalFixture t;
    t.feed(osc("8;" + link("reset")) + "x" + osc("8;;"));
    const TinyAtom handle = t.cell(0, 0).payload();
    t.feed("\x1b"
           "c");
    EXPECT_TRUE(t.terminal.payloadCodes().empty());
    EXPECT_EQ(handle.target(), std::nullopt);
}

TEST(TerminalOsc, AnEndedTerminalReleasesItsHandles) {
    TinyAtom handle;
    {
        TerminalFixture t;
        t.feed(osc("8;" + link("ended")) + "x");
        handle = t.cell(0, 0).payload();
        ASSERT_TRUE(handle.target());
    }
    EXPECT_EQ(handle.target(), std::nullopt);
}

TEST(TerminalOsc, HyperlinkPayloadUri) {
    EXPECT_EQ(Terminal::parseHyperlinkPayload("id=1;http://a/b;c"), "http://a/b;c");
    EXPECT_EQ(Terminal::parseHyperlinkPayload(";http://a"), "http://a");
    EXPECT_EQ(Terminal::parseHyperlinkPayload("id=1;"), "");
    EXPECT_EQ(Terminal::parseHyperlinkPayload("http://a"), std::nullopt);
}

} // namespace

namespace {

// Spends every code of the process registry that was never handed out; returns them.
std::vector<uint16_t> spendFreshCodes(const std::string& tag) {
    std::vector<uint16_t> codes;
    for (int i = 0; TinyAtom::registry().lastUsed() < TinyAtomRegistry::lastCode; ++i) {
        codes.push_back(TinyAtom::lookup(tag + std::to_string(i))->code);
    }
    return codes;
}

TEST(TerminalOsc, WhenNoHandleIsLeftReleasedHandlesShownNowhereAreReused) {
    TerminalFixture shown;
    shown.feed(osc("8;" + link("still-shown")) + "s" + osc("8;;"));
    const TinyAtom stillShown = shown.cell(0, 0).payload();
    // Released although a cell shows it (a host that released it early): it must not come back
    // as another link while that cell exists.
    stillShown.release();

    std::vector<uint16_t> filler = spendFreshCodes("filler");
    // Every code is taken: once the filler is released, only a mark makes room.
    TinyAtom::release(filler);

    TerminalFixture t;
    for (int i = 0; i < 3; ++i) {
        t.feed(osc("8;" + link("after" + std::to_string(i))) + "x" + osc("8;;"));
        const TinyAtom handle = t.cell(i, 0).payload();
        ASSERT_NE(handle.code, 0);
        EXPECT_NE(handle, stillShown);
        EXPECT_EQ(handle.target(), link("after" + std::to_string(i)));
    }

    // Drain what is free, checking the shown code never comes back; then give it all back for
    // the other tests of the process.
    std::vector<uint16_t> drained;
    while (const auto code =
               TinyAtom::registry().lookup("drain" + std::to_string(drained.size()))) {
        EXPECT_NE(*code, stillShown.code);
        drained.push_back(*code);
    }
    TinyAtom::release(drained);
    TinyAtom::registry().reclaim();
}

} // namespace

namespace {

// ---- Shell-integration options (OSC 133) ----------------------------------------------------

TEST(TerminalOsc, ShellIntegrationOptions) {
    using Options = Terminal::SemanticPromptOptions;
    struct Case {
        std::vector<std::string_view> fields;
        std::optional<Options> expected;
    };
    const Case cases[] = {
        {{}, Options{}},
        {{"k=s", "cl=m", "special_key=1"},
         Options{SemanticPromptKind::secondary, std::nullopt,
                 SemanticPromptCursorClickMode::multiple, true}},
        {{"k=s", "cl=m", "click_events=2"},
         Options{SemanticPromptKind::secondary, SemanticPromptClickMode::clickEventsRelative,
                 SemanticPromptCursorClickMode::multiple, false}},
        {{"click_events=1", "click_events=0"}, Options{}},
        {{"k=r", "k=c"},
         Options{SemanticPromptKind::continuation, std::nullopt, std::nullopt, false}},
        {{"foo=bar", "k", "k=s"},
         Options{SemanticPromptKind::secondary, std::nullopt, std::nullopt, false}},
        {{"cl=w", "cl=v"},
         Options{SemanticPromptKind::initial, std::nullopt,
                 SemanticPromptCursorClickMode::conservativeVertical, false}},
        {{"k=x"}, std::nullopt},
        {{"cl=x", "k=s"}, std::nullopt},
        {{"special_key=2"}, std::nullopt},
        {{"click_events="}, std::nullopt},
        {{"K=s"}, Options{}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (std::string_view field : c.fields) {
            trace += std::string(field) + " ";
        }
        SCOPED_TRACE(trace);
        EXPECT_EQ(Terminal::parseSemanticPromptOptions(c.fields), c.expected);
    }
}

} // namespace
