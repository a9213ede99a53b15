// OSC 133 shell integration in the terminal: the marks and cell contents a shell's prompt, input
// and output leave, the command line's state, and the rows found again by identity after they
// move.
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veldatron {
namespace {

using ::testing::ElementsAre;
using testing::TerminalFixture;
using Kind = SemanticPromptKind;

std::string osc133(std::string_view payload) {
    return "\x1b]133;" + std::string(payload) + "\x07";
}

// A prompt "$ " followed by the start of the command line.
const std::string promptAndInput = osc133("A") + "$ " + osc133("B");

// Every mark of the active screen as "row:col:kind:group".
std::vector<std::string> marks(Terminal& terminal) {
    std::vector<std::string> out;
    CircularBufferLineList& lines = terminal.buffer().lines();
    for (int row = 0; row < lines.count(); ++row) {
        for (const SemanticMark& mark : lines[row].semanticMarks()) {
            out.push_back(std::to_string(row) + ":" + std::to_string(mark.column) + ":" +
                          std::string(description(mark.kind())) + ":" + std::to_string(mark.group));
        }
    }
    return out;
}

// The cells of a ring row up to its last character as content letters: p prompt, i input,
// o output, . none.
std::string contents(Terminal& terminal, int row) {
    const BufferLine& line = terminal.buffer().lines()[row];
    std::string out;
    for (int col = 0; col < line.getTrimmedLength(); ++col) {
        static constexpr char letters[] = {'p', '.', 'i', 'o'};
        out += letters[size_t(line[col].semanticContent().kind())];
    }
    return out;
}

void sendUserInput(Terminal& terminal, std::string_view text) {
    terminal.sendUserInput(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

TEST(TerminalSemanticPrompt, ACommandLeavesPromptInputAndOutputInItsCells) {
    TerminalFixture t({.cols = 20, .rows = 6});
    Buffer& buffer = t.terminal.buffer();
    t.feed(promptAndInput);
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::armed);
    t.feed("ls");
    sendUserInput(t.terminal, "\r");
    EXPECT_EQ(t.takeReplies(), "\\x0d") << "the keys reach the program unchanged";
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::submitted);
    t.feed("\r\n" + osc133("C") + "a.txt\r\nb.txt\r\n" + osc133("D;0") + promptAndInput);

    EXPECT_THAT(marks(t.terminal), ElementsAre("0:0:initial:1", "3:0:initial:2"));
    EXPECT_EQ(contents(t.terminal, 0), "ppii");
    EXPECT_EQ(contents(t.terminal, 1), "ooooo");
    EXPECT_EQ(contents(t.terminal, 3), "pp");
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::armed);
    EXPECT_EQ(t.terminal.semanticContent(Position{2, 0}), SemanticContent::input);
    EXPECT_EQ(t.terminal.semanticContent(Position{15, 1}), SemanticContent::none)
        << "never printed";
    EXPECT_EQ(t.terminal.semanticContent(Position{20, 0}), std::nullopt);
    EXPECT_EQ(t.terminal.semanticContent(Position{0, 6}), std::nullopt);
    EXPECT_EQ(t.terminal.semanticRowKind(0), Kind::initial);
    EXPECT_EQ(t.terminal.semanticRowKind(1), std::nullopt);
    EXPECT_THAT(t.terminal.semanticPromptMarks(3),
                ElementsAre(SemanticPromptAnchor{Position{0, 3}, Kind::initial}));
    EXPECT_EQ(t.terminal.activeSemanticPromptOrigin(),
              (SemanticPromptAnchor{Position{0, 3}, Kind::initial}));
}

TEST(TerminalSemanticPrompt, CommandLettersAndOptions) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string cursor;
        std::vector<std::string> marks;
        SemanticInputState input;
        SemanticContent content;
    };
    const SemanticContent initialPrompt = SemanticContent::prompt(Kind::initial);
    const Case cases[] = {
        {"A in column 5 starts a fresh line first",
         "hello" + osc133("A"),
         "0,1",
         {"1:0:initial:1"},
         SemanticInputState::prompt,
         initialPrompt},
        {"A at the start of a row stays there",
         "\r\n" + osc133("A"),
         "0,1",
         {"1:0:initial:1"},
         SemanticInputState::prompt,
         initialPrompt},
        {"A with k=r marks a right prompt at the cursor, nothing else",
         promptAndInput + "ls\x1b[1;15H" + osc133("A;k=r"),
         "14,0",
         {"0:0:initial:1", "0:14:right:1"},
         SemanticInputState::armed,
         SemanticContent::input},
        {"an invalid option value voids the whole command",
         "hello" + osc133("A;cl=x"),
         "5,0",
         {},
         SemanticInputState::idle,
         SemanticContent::none},
        {"unknown options are skipped",
         osc133("A;foo=bar;k=s"),
         "0,0",
         {"0:0:secondary:1"},
         SemanticInputState::prompt,
         SemanticContent::prompt(Kind::secondary)},
        {"A with k=c marks nothing and keeps the group",
         promptAndInput + "\r\n" + osc133("A;k=c"),
         "0,1",
         {"0:0:initial:1"},
         SemanticInputState::prompt,
         SemanticContent::prompt(Kind::continuation)},
        {"A with k=s keeps an active prompt's group",
         promptAndInput + "\r\n" + osc133("A;k=s") + "> ",
         "2,1",
         {"0:0:initial:1", "1:0:secondary:1"},
         SemanticInputState::prompt,
         SemanticContent::prompt(Kind::secondary)},
        {"N always starts a new group",
         promptAndInput + "\r" + osc133("N"),
         "0,0",
         {"0:0:initial:2"},
         SemanticInputState::prompt,
         initialPrompt},
        {"P marks prompt text where the cursor is, without a fresh line",
         "ab" + osc133("P;k=i"),
         "2,0",
         {"0:2:initial:1"},
         SemanticInputState::idle,
         initialPrompt},
        {"L is a fresh line only",
         "ab" + osc133("L"),
         "0,1",
         {},
         SemanticInputState::idle,
         SemanticContent::none},
        {"B arms the command line",
         osc133("B"),
         "0,0",
         {},
         SemanticInputState::armed,
         SemanticContent::input},
        {"I arms it too",
         osc133("I"),
         "0,0",
         {},
         SemanticInputState::armed,
         SemanticContent::input},
        {"D ends it with output",
         promptAndInput + osc133("D;1"),
         "2,0",
         {"0:0:initial:1"},
         SemanticInputState::submitted,
         SemanticContent::output},
        {"other letters do nothing",
         osc133("Z") + osc133("AB") + osc133("") + osc133(";k=s"),
         "0,0",
         {},
         SemanticInputState::idle,
         SemanticContent::none},
        {"text that is not UTF-8 does nothing",
         "\x1b]133;A;k=\xff\x07",
         "0,0",
         {},
         SemanticInputState::idle,
         SemanticContent::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 20, .rows = 4});
        t.feed(c.bytes);
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_EQ(marks(t.terminal), c.marks);
        EXPECT_EQ(t.terminal.buffer().semanticInput, c.input);
        EXPECT_EQ(t.terminal.buffer().semanticContent, c.content);
    }
}

TEST(TerminalSemanticPrompt, ARedrawnPromptStaysInItsCommandLinesGroup) {
    TerminalFixture t({.cols = 20, .rows = 4});
    Buffer& buffer = t.terminal.buffer();
    t.feed(promptAndInput + "ls");
    // The shell redraws its prompt on the same row, now asking for clicks.
    t.feed("\r\x1b[K" + osc133("A;cl=m;special_key=1") + "$ " + osc133("B") + "ls");
    EXPECT_EQ(buffer.activeSemanticGroupID(), 1u);
    EXPECT_EQ(buffer.semanticClickMode,
              SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple));
    EXPECT_TRUE(buffer.semanticUsesSpecialCursorKeys);
    // A new prompt after the command ran is a new command line.
    t.feed("\r\n" + osc133("C") + osc133("D;0") + osc133("A;click_events=1"));
    EXPECT_EQ(buffer.activeSemanticGroupID(), 2u);
    EXPECT_EQ(buffer.semanticClickMode, SemanticPromptClickMode::clickEventsAbsolute);
    EXPECT_FALSE(buffer.semanticUsesSpecialCursorKeys);
}

TEST(TerminalSemanticPrompt, OnlyTheUsersEnterSubmitsAnArmedCommandLine) {
    struct Case {
        const char* name;
        std::string output; // what the shell wrote before
        std::vector<std::string> keys;
        SemanticInputState after;
    };
    const Case cases[] = {
        {"typing keeps it armed", promptAndInput, {"ls", "\x1b[D"}, SemanticInputState::armed},
        {"Enter submits", promptAndInput, {"ls", "\r"}, SemanticInputState::submitted},
        {"Enter inside a paste does not",
         promptAndInput,
         {"\x1b[200~a\rb\x1b[201~"},
         SemanticInputState::armed},
        {"a kitty Enter release does not",
         promptAndInput,
         {"\x1b[13;1:3u"},
         SemanticInputState::armed},
        {"a kitty Enter press does", promptAndInput, {"\x1b[13;5u"}, SemanticInputState::submitted},
        {"Enter while the prompt is still drawn changes nothing",
         osc133("A") + "$ ",
         {"\r"},
         SemanticInputState::prompt},
        {"Enter without a prompt changes nothing", "", {"\r"}, SemanticInputState::idle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        t.feed(c.output);
        std::string sent;
        for (const std::string& key : c.keys) {
            sendUserInput(t.terminal, key);
            sent += key;
        }
        EXPECT_EQ(t.terminal.buffer().semanticInput, c.after);
        EXPECT_EQ(t.host.replies, sent);
    }
}

TEST(TerminalSemanticPrompt, TheAlternateScreenEndsTheCommandLineAndTakesNoMarks) {
    TerminalFixture t({.cols = 20, .rows = 4});
    t.feed(promptAndInput + "vim\r\n");
    t.feed("\x1b[?1049h");
    for (Buffer* screen : {&t.terminal.normalBuffer(), &t.terminal.altBuffer()}) {
        EXPECT_EQ(screen->semanticInput, SemanticInputState::submitted);
    }
    EXPECT_EQ(t.terminal.normalBuffer().semanticContent, SemanticContent::output);
    EXPECT_EQ(t.terminal.altBuffer().semanticContent, SemanticContent::none)
        << "nothing was marked there";
    t.feed(osc133("A") + "~" + osc133("B"));
    EXPECT_THAT(marks(t.terminal), ElementsAre());
    EXPECT_EQ(t.terminal.buffer().semanticInput, SemanticInputState::submitted);
    EXPECT_EQ(t.cell(0, 1).semanticContent(), SemanticContent::none);
    t.feed("\x1b[?1049l");
    EXPECT_THAT(marks(t.terminal), ElementsAre("0:0:initial:1"));
    EXPECT_EQ(t.terminal.buffer().semanticInput, SemanticInputState::submitted);
}

TEST(TerminalSemanticPrompt, OutputEndsTheContinuationOfTheCommandLine) {
    TerminalFixture t({.cols = 20, .rows = 5});
    // A multi-line command: each Enter the editor echoes joins the next row to the prompt group.
    t.feed(promptAndInput + "echo one \\\r\n" + osc133("A;k=c") + "> " + osc133("B") + "two");
    EXPECT_EQ(t.terminal.semanticRowKind(1), Kind::continuation);
    EXPECT_EQ(contents(t.terminal, 1), "ppiii");
    t.feed("\r\n");
    EXPECT_EQ(t.line(2).semanticHardContinuationGroup(), 1u);
    const uint64_t before = t.line(2).generation();
    t.feed(osc133("C"));
    EXPECT_EQ(t.line(2).semanticHardContinuationGroup(), std::nullopt);
    EXPECT_EQ(t.line(2).generation(), before + 1);
    EXPECT_EQ(t.terminal.semanticRowKind(2), std::nullopt);
    EXPECT_EQ(t.terminal.semanticRowKind(1), Kind::continuation);
}

TEST(TerminalSemanticPrompt, ResetsAndErasuresLeaveNoPrompt) {
    struct Case {
        const char* name;
        std::string bytes;
        SemanticInputState input;
    };
    const Case cases[] = {
        {"full reset",
         "\x1b"
         "c",
         SemanticInputState::idle},
        {"soft reset", "\x1b[!p", SemanticInputState::idle},
        // clear: the prompts erased with the screen are gone; the shell draws a new one.
        {"erase the display", "\x1b[H\x1b[2J", SemanticInputState::armed},
        {"erase below the cursor", "\x1b[H\x1b[J", SemanticInputState::armed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 20, .rows = 5});
        t.feed("\r\n" + promptAndInput + "echo a \\\r\n" + osc133("A;k=c") + "> " + osc133("B") +
               "b");
        ASSERT_EQ(t.line(2).semanticHardContinuationGroup(), 1u);
        t.feed(c.bytes);
        EXPECT_THAT(marks(t.terminal), ElementsAre());
        EXPECT_EQ(t.line(2).semanticHardContinuationGroup(), std::nullopt);
        EXPECT_EQ(t.terminal.buffer().semanticInput, c.input);
        EXPECT_EQ(t.terminal.activeSemanticPromptOrigin(), std::nullopt);
    }
}

TEST(TerminalSemanticPrompt, ThePromptRowIsFoundByIdentityWhileRowsMove) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 4});
    t.feed("x\r\n" + promptAndInput + "ls\r\n" + osc133("C"));
    const BufferLinePtr promptRow = t.terminal.bufferLine(1);
    ASSERT_TRUE(promptRow);
    const uint64_t generation = promptRow->recycleGeneration();
    const auto origin = [&] { return t.terminal.activeSemanticPromptOrigin(); };

    // The ring grows: the row keeps its index.
    t.feed("1\r\n2\r\n3\r\n4\r\n");
    ASSERT_TRUE(t.terminal.buffer().lines().isFull());
    EXPECT_EQ(t.terminal.semanticRow(*promptRow, generation), 1);
    // The ring is full: each further line drops the oldest row, and the prompt row moves up.
    t.feed("5\r\n");
    EXPECT_EQ(t.terminal.semanticRow(*promptRow, generation), 0);
    EXPECT_EQ(origin(), (SemanticPromptAnchor{Position{0, 0}, Kind::initial}));
    // Then it is recycled for new output.
    t.feed("6\r\n");
    EXPECT_EQ(origin(), std::nullopt);
    EXPECT_EQ(t.terminal.semanticRow(*promptRow, generation), std::nullopt);

    // Reflow keeps the row object; a reset replaces the screen.
    TerminalFixture r({.cols = 10, .rows = 3, .scrollback = 10});
    r.feed("0123456789abc\r\n" + promptAndInput + "ls\r\n" + osc133("C") + "out\r\n");
    const BufferLinePtr row = r.terminal.bufferLine(2);
    ASSERT_EQ(r.terminal.activeSemanticPromptOrigin(),
              (SemanticPromptAnchor{Position{0, 2}, Kind::initial}));
    r.terminal.resize(13, 3);
    EXPECT_EQ(r.terminal.semanticRow(*row, row->recycleGeneration()), 1);
    EXPECT_EQ(r.terminal.activeSemanticPromptOrigin(),
              (SemanticPromptAnchor{Position{0, 1}, Kind::initial}));
    r.terminal.resize(5, 3);
    EXPECT_EQ(r.terminal.semanticRow(*row, row->recycleGeneration()), 3);
    EXPECT_EQ(r.terminal.bufferLine(3), row);
    r.feed("\x1b"
           "c");
    EXPECT_EQ(r.terminal.semanticRow(*row, row->recycleGeneration()), std::nullopt);
    EXPECT_EQ(r.terminal.bufferLine(-1), nullptr);
    EXPECT_EQ(r.terminal.bufferLine(3), nullptr);
}

} // namespace
} // namespace veldatron
