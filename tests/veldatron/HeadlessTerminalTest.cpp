// HeadlessTerminal with real children on real pseudo-terminals, delivering on a LoopExecutor that
// the test thread runs. Every wait is for a condition, with a generous deadline.
#include "HeadlessTerminal.h"
#include "ChildProcessWaits.h"
#include "LoopExecutor.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace veldatron {
namespace {

using namespace std::chrono_literals;
using testing::dumpScreen;
using ::testing::ElementsAre;
using testing::eventually;
using ::testing::HasSubstr;
using testing::optionsFor;
using testing::patience;
using testing::processGone;
using testing::Rows;
using testing::TerminalSpec;
using Clock = std::chrono::steady_clock;

std::string screenText(Terminal& terminal) {
    std::string text;
    for (const std::string& row : dumpScreen(terminal)) {
        text += row + "\n";
    }
    return text;
}

class HeadlessTerminalTest : public ::testing::Test {
protected:
    void create(const TerminalSpec& spec = {.cols = 80, .rows = 25},
                LocalProcess::Delivery delivery = LocalProcess::Delivery::queued) {
        headless = std::make_unique<HeadlessTerminal>(
            loop, optionsFor(spec),
            [this](std::optional<std::int32_t> code) { ends.push_back(code); }, delivery);
    }
    void shell(const std::string& script) {
        const pid_t before = headless->process().shellPid();
        headless->process().startProcess("/bin/sh", {"-c", script});
        // A short child may have ended (and cleared `running`) before this line: only its new
        // process number reliably shows that it was started.
        ASSERT_NE(headless->process().shellPid(), before);
    }
    bool waitFor(const std::function<bool()>& done) {
        return loop.runUntil(done, Clock::now() + patience);
    }
    bool waitForScreen(std::string_view text) {
        return waitFor([&] { return screenText(terminal()).find(text) != std::string::npos; });
    }
    bool waitForEnd() {
        return waitFor([&] { return !ends.empty(); });
    }
    Terminal& terminal() { return headless->terminal(); }

    LoopExecutor loop;
    std::vector<std::optional<std::int32_t>> ends;
    std::unique_ptr<HeadlessTerminal> headless;
};

TEST_F(HeadlessTerminalTest, ShowsTheChildsOutputAndReportsItsEndOnce) {
    struct Case {
        const char* name;
        LocalProcess::Delivery delivery;
        std::string script;
        std::int32_t status; // raw wait status
        std::string firstRow;
    };
    const Case cases[] = {
        {"queued, success", LocalProcess::Delivery::queued, "printf word", 0, "word"},
        {"synchronous, success", LocalProcess::Delivery::synchronous, "printf word", 0, "word"},
        {"queued, exit code", LocalProcess::Delivery::queued, "printf bye; exit 3", 3 << 8, "bye"},
        {"synchronous, killed", LocalProcess::Delivery::synchronous, "printf gone; kill -9 $$", 9,
         "gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ends.clear();
        create({.cols = 80, .rows = 25}, c.delivery);
        shell(c.script);
        ASSERT_TRUE(waitForEnd());
        // A little longer: a second report would come from a task already queued.
        loop.runUntil(Clock::now() + 20ms);
        EXPECT_THAT(ends, ElementsAre(std::optional<std::int32_t>(c.status)));
        EXPECT_EQ(dumpScreen(terminal())[0], c.firstRow);
        EXPECT_FALSE(headless->process().running());
    }
}

TEST_F(HeadlessTerminalTest, KeepsAFloodInOrderAndReportsTheEndAfterIt) {
    create({.cols = 80, .rows = 5, .scrollback = 100});
    Rows screenAtEnd;
    headless->setOnEnd([&](std::optional<std::int32_t> code) {
        ends.push_back(code);
        screenAtEnd = dumpScreen(terminal());
    });
    shell("seq 1 200000");
    ASSERT_TRUE(waitForEnd());
    EXPECT_THAT(screenAtEnd, ElementsAre("199997", "199998", "199999", "200000", ""));
    const Rows scrollback = testing::dumpScrollback(terminal());
    ASSERT_EQ(scrollback.size(), 100u);
    EXPECT_EQ(scrollback.front(), "199897");
}

TEST_F(HeadlessTerminalTest, CreatesThePseudoTerminalWithTheTerminalsSize) {
    struct Case {
        int cols;
        int rows;
    };
    for (const Case c : {Case{80, 25}, Case{132, 43}}) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        create({.cols = c.cols, .rows = c.rows});
        const winsize size = headless->getWindowSize();
        EXPECT_EQ(size.ws_row, c.rows);
        EXPECT_EQ(size.ws_col, c.cols);
        EXPECT_EQ(size.ws_xpixel, 16);
        EXPECT_EQ(size.ws_ypixel, 16);
        shell("stty size");
        ASSERT_TRUE(waitForScreen(std::to_string(c.rows) + " " + std::to_string(c.cols)));
    }
}

// The child reads raw bytes and shows them in hex, so the test sees exactly what arrived.
constexpr const char* hexEcho = "stty raw -echo opost; echo ready; "
                                "od -An -tx1 -v -w8 -N 16; echo end";

TEST_F(HeadlessTerminalTest, SendsUserInputAndTerminalRepliesToTheChildInOrder) {
    create();
    shell(hexEcho);
    ASSERT_TRUE(waitForScreen("ready"));
    headless->send("ab");
    terminal().sendResponse("\x1b[0n"); // a reply, as the terminal would answer a status query
    headless->send(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("cd"), 2));
    terminal().sendResponse("\x1b[?62c");
    headless->send("!!");
    ASSERT_TRUE(waitForScreen("end"));
    EXPECT_THAT(screenText(terminal()),
                HasSubstr(" 61 62 1b 5b 30 6e 63 64\n 1b 5b 3f 36 32 63 21 21\nend"));
}

TEST_F(HeadlessTerminalTest, AnswersTheChildsQueryThroughTheTerminal) {
    // A query the terminal answers by itself, as it answers a status report or a colour query;
    // the answer leaves from inside the parsing of the child's output.
    create();
    terminal().registerOscHandler(5379, [this](std::span<const std::uint8_t> payload) {
        terminal().sendResponse("\x1b]5379;");
        terminal().sendResponse(payload);
        terminal().sendResponse("\x1b\\");
    });
    shell("stty raw -echo opost; printf '\\033]5379;hi\\033\\\\'; od -An -tx1 -v -N 10; echo end");
    ASSERT_TRUE(waitForScreen("end"));
    EXPECT_THAT(screenText(terminal()), HasSubstr(" 1b 5d 35 33 37 39 3b 68 69 1b"));
}

TEST_F(HeadlessTerminalTest, DropsInputAndRepliesWhileNoChildRuns) {
    create();
    headless->send("before");
    terminal().sendResponse("\x1b[0n");
    EXPECT_EQ(headless->process().sendCount(), 0u);
    shell("printf done");
    ASSERT_TRUE(waitForEnd());
    headless->send("after");
    terminal().sendResponse("\x1b[0n");
    EXPECT_EQ(headless->process().sendCount(), 0u);
}

TEST_F(HeadlessTerminalTest, NotesASubmittedCommandLineAfterTheBytesWentOut) {
    struct Case {
        const char* name;
        std::string input;
        SemanticInputState before;
        SemanticInputState after;
    };
    const Case cases[] = {
        {"return submits an armed line", "\r", SemanticInputState::armed,
         SemanticInputState::submitted},
        {"text alone does not", "ls -l", SemanticInputState::armed, SemanticInputState::armed},
        {"a return inside a paste does not", "\x1b[200~ls\r\x1b[201~", SemanticInputState::armed,
         SemanticInputState::armed},
        {"a line that is not armed stays", "\r", SemanticInputState::prompt,
         SemanticInputState::prompt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create();
        shell("cat >/dev/null");
        terminal().buffer().semanticInput = c.before;
        headless->send(c.input);
        // The bytes are on their way to the child before the check has run.
        EXPECT_EQ(headless->process().sendCount(), 1u);
        EXPECT_EQ(terminal().buffer().semanticInput, c.before);
        bool checked = false;
        loop.post([&] { checked = true; });
        ASSERT_TRUE(waitFor([&] { return checked; }));
        EXPECT_EQ(terminal().buffer().semanticInput, c.after);
        headless.reset();
    }
}

TEST_F(HeadlessTerminalTest, ASubmissionCheckAfterTheObjectEndedDoesNothing) {
    create();
    shell("cat >/dev/null");
    const pid_t pid = headless->process().shellPid();
    headless->send("\r");
    headless.reset(); // hangs up the child
    bool ran = false;
    loop.post([&] { ran = true; });
    ASSERT_TRUE(waitFor([&] { return ran; }));
    ASSERT_TRUE(eventually(loop, [&] { return processGone(pid); }));
    EXPECT_TRUE(ends.empty());
}

TEST_F(HeadlessTerminalTest, KeepsTheScreenWhenTheOwnerEndsTheChild) {
    create();
    shell("printf 'still here'; exec sleep 60");
    ASSERT_TRUE(waitForScreen("still here"));
    const pid_t pid = headless->process().shellPid();
    headless->process().terminate();
    ASSERT_TRUE(eventually(loop, [&] { return processGone(pid); }));
    loop.runUntil(Clock::now() + 20ms);
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(dumpScreen(terminal())[0], "still here");
}

TEST_F(HeadlessTerminalTest, ChangesTheNormalScreensScrollbackAndRedrawsAll) {
    struct Case {
        const char* name;
        std::optional<int> lines;
        int optionsScrollback;
        std::size_t kept;
    };
    const Case cases[] = {
        {"fewer lines", 3, 3, 3},
        {"none", std::nullopt, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create({.cols = 20, .rows = 4, .scrollback = 50});
        std::string output;
        for (int i = 1; i <= 20; ++i) {
            output += std::to_string(i) + "\r\n";
        }
        headless->dataReceived(
            std::span(reinterpret_cast<const std::uint8_t*>(output.data()), output.size()));
        ASSERT_EQ(testing::dumpScrollback(terminal()).size(), 17u);
        terminal().clearUpdateRange();

        headless->changeScrollback(c.lines);
        EXPECT_EQ(terminal().options().scrollback, c.optionsScrollback);
        EXPECT_EQ(testing::dumpScrollback(terminal()).size(), c.kept);
        EXPECT_THAT(dumpScreen(terminal()), ElementsAre("18", "19", "20", ""));
        EXPECT_EQ(terminal().getUpdateRange(), (Terminal::RowRange{0, 3}));
    }
}

TEST_F(HeadlessTerminalTest, RecordsTheDirectoryTheProgramReports) {
    create();
    const std::string report = "\x1b]7;file://localhost/tmp/project\x1b\\";
    headless->dataReceived(
        std::span(reinterpret_cast<const std::uint8_t*>(report.data()), report.size()));
    EXPECT_EQ(terminal().hostCurrentDirectory(), "file://localhost/tmp/project");
    EXPECT_EQ(headless->dir(), "file://localhost/tmp/project");
}

TEST_F(HeadlessTerminalTest, KeepsTheBitmapsTheTerminalProduces) {
    create();
    // A sixel picture two pixels wide and six high: colour 1 red, one column of each.
    const std::string sixel = "\x1bPq#1;2;100;0;0#1~~\x1b\\";
    headless->dataReceived(
        std::span(reinterpret_cast<const std::uint8_t*>(sixel.data()), sixel.size()));
    if (headless->images().empty()) {
        GTEST_SKIP() << "the terminal does not decode sixel pictures yet";
    }
    ASSERT_EQ(headless->images().size(), 1u);
    const HeadlessTerminal::Image& image = headless->images()[0];
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 6);
    ASSERT_EQ(image.bytes.size(), 2u * 6u * 4u);
    EXPECT_EQ(image.bytes[0], 255);
    EXPECT_EQ(image.bytes[1], 0);
    EXPECT_EQ(image.bytes[2], 0);
}

} // namespace
} // namespace veldatron
