// The headless-host tool with real programs: its exit status, the size and environment it gives
// them, the input it types, the window it reports, and programs that query their terminal or
// take over the screen running to their end unattended.
//
// Each query case first asks an in-process terminal with the same host: that answer must be the
// one written down, and the program running inside the tool must receive it whole.
#include "HeadlessHost.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace veldatron::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Every run ends long before this; a run that does not is a failure, not a hang.
constexpr const char* patienceSeconds = "60";

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "headless-host-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

private:
    std::string m_path;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct HostRun {
    int status = -1; // the tool's exit status
    Rows screen;     // with --dump
    std::string cursor;
};

// Runs the tool with `options`, then "--" and `command`, typing `input`; always with --dump and a
// time limit.
HostRun runHost(const std::vector<std::string>& options, const std::vector<std::string>& command,
                std::string_view input = {}) {
    TempDir dir;
    const std::string in = dir.file("in");
    const std::string out = dir.file("out");
    writeFile(in, input);
    std::vector<std::string> args{HEADLESS_HOST_PATH, "--dump", "--timeout", patienceSeconds};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("--");
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    HostRun run;
    if (error != 0) {
        ADD_FAILURE() << "cannot run " << argv[0] << ": " << std::strerror(error);
        return run;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::istringstream lines(readFile(out));
    for (std::string line; std::getline(lines, line);) {
        run.screen.push_back(line);
    }
    if (!run.screen.empty() && run.screen.back().rfind("cursor ", 0) == 0) {
        run.cursor = run.screen.back().substr(7);
        run.screen.pop_back();
    }
    return run;
}

std::vector<std::string> shell(const std::string& script) {
    return {"sh", "-c", script};
}

TEST(HeadlessHost, ExitsWithTheProgramsStatusAndLeavesItsScreen) {
    struct Case {
        const char* name;
        std::vector<std::string> command;
        std::vector<std::string> options;
        int status;
        std::string firstRow;
    };
    const Case cases[] = {
        {"success", shell("printf 'hello\\r\\nworld'"), {}, 0, "hello"},
        {"exit code", shell("printf bye; exit 3"), {}, 3, "bye"},
        {"killed by a signal", shell("printf gone; kill -9 $$"), {}, 128 + 9, "gone"},
        {"not executable", {"/nonexistent/program"}, {}, 127, ""},
        {"still running at the time limit",
         shell("printf slow; exec sleep 30"),
         {"--timeout", "1"},
         124,
         "slow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HostRun run = runHost(c.options, c.command);
        EXPECT_EQ(run.status, c.status);
        ASSERT_EQ(run.screen.size(), 25u);
        EXPECT_EQ(run.screen[0], c.firstRow);
    }
}

TEST(HeadlessHost, GivesTheProgramATerminalOfTheAskedSize) {
    struct Case {
        std::vector<std::string> options;
        std::string size; // rows, then columns
    };
    const Case cases[] = {{{}, "25 80"}, {{"--cols", "132", "--rows", "43"}, "43 132"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const HostRun run = runHost(c.options, shell("stty size; echo $(tput lines) $(tput cols)"));
        EXPECT_EQ(run.status, 0);
        ASSERT_GE(run.screen.size(), 2u);
        EXPECT_EQ(run.screen[0], c.size);
        EXPECT_EQ(run.screen[1], c.size);
    }
}

TEST(HeadlessHost, RunsTheProgramInTheTerminalsEnvironment) {
    const HostRun run = runHost({}, shell("echo \"$TERM $COLORTERM\"; tput colors; "
                                          "[ -t 0 ] && [ -t 1 ] && tty"));
    EXPECT_EQ(run.status, 0);
    ASSERT_GE(run.screen.size(), 3u);
    EXPECT_EQ(run.screen[0], "xterm-256color truecolor");
    EXPECT_EQ(run.screen[1], "256");
    EXPECT_THAT(run.screen[2], ::testing::StartsWith("/dev/pts/"));
}

TEST(HeadlessHost, TypesItsInputIntoTheProgram) {
    // The program answers each typed line; ^D at the start of a line ends its input.
    const HostRun run =
        runHost({"--rows", "5"}, shell("while read line; do echo \"got $line\"; done; echo done"),
                "first\nsecond\n\x04");
    EXPECT_EQ(run.status, 0);
    // The echo of a line may come before or after the answer to an earlier one.
    Rows answers;
    for (const std::string& row : run.screen) {
        if (row.rfind("got ", 0) == 0 || row == "done") {
            answers.push_back(row);
        }
    }
    EXPECT_THAT(answers, ElementsAre("got first", "got second", "done"));
}

TEST(HeadlessHost, RunsAPagerDrivenByTypedKeys) {
    TempDir dir;
    const std::string file = dir.file("lines.txt");
    std::string text;
    for (int i = 1; i <= 100; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    writeFile(file, text);
    // -X keeps the pager on the screen it found, so its last page stays readable after it quits.
    // "G" goes to the end of the file, "q" quits.
    const HostRun run = runHost({"--rows", "6"}, {"less", "-X", file}, "Gq");
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.screen.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_THAT(run.screen[size_t(i)], EndsWith("line " + std::to_string(96 + i)));
    }
}

TEST(HeadlessHost, RunsAnEditorDrivenByTypedKeys) {
    TempDir dir;
    const std::string file = dir.file("typed.txt");
    // With its defaults the editor asks the terminal about itself at start-up.
    const HostRun run =
        runHost({"--rows", "10"}, {"vim", "-N", "-u", "DEFAULTS", "-i", "NONE", "-n", file},
                "ihello from the editor\x1b:wq\r");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(file), "hello from the editor\n");
}

TEST(HeadlessHost, ResizesTheTerminalAndThePseudoTerminalAsTheProgramAsks) {
    struct Case {
        const char* name;
        std::string request;
        std::string size; // rows, then columns
    };
    const Case cases[] = {
        {"in cells", "\x1b[8;40;100t", "40 100"},
        {"in pixels", "\x1b[4;300;500t", "15 50"},
        {"zero: the screen's size", "\x1b[8;0;0t", "54 192"},
        {"maximized", "\x1b[9;1t", "54 192"},
        {"maximized and back", "\x1b[9;1t\x1b[9;0t", "25 80"},
        {"full screen", "\x1b[10;1t", "54 192"},
    };
    // The program asks, then reads the size its terminal reports and the size of its
    // pseudo-terminal.
    const std::string script =
        "stty raw -echo; printf '%s' \"$2\"; "
        "IFS= read -r -d t -t 30 reply; status=$?; stty sane; "
        "printf '%s\\n' \"$reply\" > \"$1\"; stty size >> \"$1\"; exit $status";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string answer = dir.file("answer");
        const HostRun run =
            runHost({}, {"bash", "-c", script, "resize", answer, c.request + "\x1b[18t"});
        EXPECT_EQ(run.status, 0) << "the program's read timed out";
        std::string rows = c.size.substr(0, c.size.find(' '));
        std::string cols = c.size.substr(c.size.find(' ') + 1);
        EXPECT_EQ(escaped(readFile(answer)),
                  escaped("\x1b[8;" + rows + ";" + cols + "\n" + c.size + "\n"));
        EXPECT_EQ(run.screen.size(), size_t(std::stoi(rows))) << "the final screen's rows";
    }
}

// ---- Queries ------------------------------------------------------------------------------

// The tool's host around an in-process terminal, recording the replies.
using ProbeHost = WindowedHost<RecordingDelegate>;

struct Query {
    const char* name;
    std::string before; // printed ahead of the query
    std::string query;
    std::string reply; // what the tool's host answers; the program must read it whole
};

void PrintTo(const Query& query, std::ostream* os) {
    *os << query.name;
}

class HeadlessHostQuery : public ::testing::TestWithParam<Query> {};

// The program switches its terminal to raw mode, prints, asks, reads the answer up to its last
// byte and saves it: it would wait for ever (here: time out) if the answer did not arrive whole.
TEST_P(HeadlessHostQuery, ReachesTheProgramThatAsked) {
    const Query& q = GetParam();
    ProbeHost probe;
    Terminal terminal(&probe, optionsFor(TerminalSpec{}));
    terminal.feed(q.before + q.query);
    const std::string expected = probe.replies;
    ASSERT_FALSE(expected.empty()) << "no answer to " << escaped(q.query);
    EXPECT_EQ(escaped(expected), escaped(q.reply));

    TempDir dir;
    const std::string answer = dir.file("answer");
    const std::string script = "stty raw -echo; printf '%s' \"$3\"; "
                               "IFS= read -r -d \"$2\" -t 30 reply; status=$?; stty sane; "
                               "printf '%s' \"$reply\" > \"$1\"; exit $status";
    const HostRun run = runHost({}, {"bash", "-c", script, "query", answer,
                                     expected.substr(expected.size() - 1), q.before + q.query});
    EXPECT_EQ(run.status, 0) << "the program's read timed out";
    EXPECT_EQ(escaped(readFile(answer)), escaped(expected.substr(0, expected.size() - 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HeadlessHostQuery,
    ::testing::Values(
        Query{"CursorPosition", "hello", "\x1b[6n", "\x1b[1;6R"},
        Query{"ExtendedCursorPosition", "\r\nab", "\x1b[?6n", "\x1b[?2;3;1R"},
        Query{"OperatingStatus", "", "\x1b[5n", "\x1b[0n"},
        Query{"PrimaryDeviceAttributes", "", "\x1b[c", "\x1b[?65;4;1;2;6;21;22;17;28c"},
        Query{"SecondaryDeviceAttributes", "", "\x1b[>c", "\x1b[>65;20;1c"},
        Query{"PrivateModeState", "", "\x1b[?25$p", "\x1b[?25;1$y"},
        Query{"AnsiModeState", "\x1b[4h", "\x1b[4$p", "\x1b[4;1$y"},
        Query{"StatusString", "\x1b[1m", "\x1bP$qm\x1b\\", "\x1bP1$r0;1m\x1b\\"},
        Query{"ScrollRegionStatus", "\x1b[3;10r", "\x1bP$qr\x1b\\", "\x1bP1$r3;10r\x1b\\"},
        Query{"RectangleChecksum", "AB", "\x1b[7;1;1;1;1;3*y", "\x1bP7!~00a3\x1b\\"},
        Query{"KeyboardFlags", "\x1b[>5u", "\x1b[?u", "\x1b[?5u"},
        Query{"ForegroundColor", "", "\x1b]10;?\x1b\\", "\x1b]10;rgb:8a3d/8a3d/8a3d\x1b\\"},
        Query{"BackgroundColor", "", "\x1b]11;?\x07", "\x1b]11;rgb:0000/0000/0000\x1b\\"},
        Query{"CursorColor", "\x1b]12;#00ff00\x07", "\x1b]12;?\x07", "\x1b]12;rgb:0000/ffff/0000\x1b\\"},
        Query{"PaletteColor", "", "\x1b]4;1;?\x1b\\", "\x1b]4;1;rgb:c2c2/3636/2121\x1b\\"},
        Query{"TextAreaCharacters", "", "\x1b[18t", "\x1b[8;25;80t"},
        Query{"TextAreaPixels", "", "\x1b[14t", "\x1b[4;500;800t"},
        Query{"CellPixels", "", "\x1b[16t", "\x1b[6;20;10t"},
        Query{"ScreenCharacters", "", "\x1b[19t", "\x1b[9;54;192t"},
        Query{"WindowTitle", "\x1b]2;build\x07", "\x1b[21t", "\x1b]l\x1b\\"},
        Query{"IconTitle", "\x1b]1;bld\x07", "\x1b[20t", "\x1b]L\x1b\\"}),
    [](const ::testing::TestParamInfo<Query>& info) { return std::string(info.param.name); });

// ---- The modelled window --------------------------------------------------------------------

TEST(HeadlessHostWindow, ReportsTheModelledWindowAndFollowsItsMoves) {
    using Kind = WindowManipulationCommand::Kind;
    struct Step {
        WindowManipulationCommand command;
        std::string reply; // escaped; "none" for no reply
    };
    // In order, on one window around a 100 x 30 terminal.
    const Step steps[] = {
        {{Kind::reportTextAreaCharacters}, "\\x1b[8;30;100t"},
        {{Kind::reportTextAreaPixelDimension}, "\\x1b[4;600;1000t"},
        {{Kind::reportTerminalWindowPixelDimension}, "\\x1b[4;608;1008t"},
        {{Kind::reportCellSizeInPixels}, "\\x1b[6;20;10t"},
        {{Kind::reportSizeOfScreenInPixels}, "\\x1b[5;1080;1920t"},
        {{Kind::reportScreenSizeCharacters}, "\\x1b[9;54;192t"},
        {{Kind::reportTerminalState}, "\\x1b[1t"},
        {{Kind::moveWindowTo, 200, 100}, "none"},
        {{Kind::iconifyWindow}, "none"},
        {{Kind::reportTerminalPosition}, "\\x1b[3;200;100t"},
        {{Kind::reportTextAreaPosition}, "\\x1b[3;204;104t"},
        {{Kind::reportTerminalState}, "\\x1b[2t"},
        {{Kind::deiconifyWindow}, "none"},
        {{Kind::reportTerminalState}, "\\x1b[1t"},
        // A resize shows in the reports at once, before the host applies it.
        {{Kind::resizeTerminal, 40, 10}, "none"},
        {{Kind::reportTextAreaCharacters}, "\\x1b[8;10;40t"},
        {{Kind::reportTextAreaPixelDimension}, "\\x1b[4;200;400t"},
        {{Kind::reportTerminalWindowPixelDimension}, "\\x1b[4;208;408t"},
    };
    TerminalFixture t({.cols = 100, .rows = 30});
    WindowModel window;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        const auto reply = window.windowCommand(t.terminal, step.command);
        EXPECT_EQ(reply ? escaped(std::string(reply->begin(), reply->end())) : "none", step.reply);
    }
}

TEST(HeadlessHostWindow, ResizesAsTheProgramAsks) {
    using Kind = WindowManipulationCommand::Kind;
    struct Step {
        WindowManipulationCommand command;
        std::string size; // the text area after it: "rows;cols"
    };
    // In order, on one window around a 100 x 30 terminal, on a screen of 192 x 54 cells.
    const Step steps[] = {
        {{Kind::resizeTerminal, 100, 40}, "40;100"},
        {{Kind::resizeTerminal, 0, 0}, "54;192"},
        {{Kind::resizeTerminal, 500, 300}, "54;192"},
        {{Kind::resizeTerminal, 1, 0}, "54;2"},
        {{Kind::resizeWindowTo, 500, 300}, "15;50"},
        {{Kind::resizeWindowTo, 5, 5}, "1;2"},
        {{Kind::resizeWindowTo, 0, 100}, "5;192"},
        {{Kind::resizeTerminal, 80, 24}, "24;80"},
        {{Kind::maximizeWindowVertically}, "54;80"},
        {{Kind::restoreMaximizedWindow}, "24;80"},
        {{Kind::maximizeWindowHorizontally}, "24;192"},
        {{Kind::maximizeWindow}, "54;192"},
        {{Kind::restoreMaximizedWindow}, "24;80"},
        {{Kind::restoreMaximizedWindow}, "24;80"},
        {{Kind::toggleFullScreen}, "54;192"},
        {{Kind::restoreMaximizedWindow}, "54;192"},
        {{Kind::toggleFullScreen}, "24;80"},
        {{Kind::switchToFullScreen}, "54;192"},
        {{Kind::undoFullScreen}, "24;80"},
        {{Kind::undoFullScreen}, "24;80"},
    };
    TerminalFixture t({.cols = 100, .rows = 30});
    WindowModel window;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        EXPECT_EQ(window.windowCommand(t.terminal, step.command), std::nullopt);
        const auto reply = window.windowCommand(t.terminal, {Kind::reportTextAreaCharacters});
        ASSERT_TRUE(reply);
        EXPECT_EQ(std::string(reply->begin(), reply->end()), "\x1b[8;" + step.size + "t");
    }
}

TEST(HeadlessHostWindow, ReportsTheTitlesTheProgramSet) {
    using Kind = WindowManipulationCommand::Kind;
    TerminalFixture t;
    t.feed("\x1b]2;editor \xe2\x80\x94 notes.txt\x07\x1b]1;notes\x07");
    ASSERT_EQ(t.terminal.terminalTitle(), "editor \xe2\x80\x94 notes.txt");
    WindowModel window;
    const auto title = window.windowCommand(t.terminal, {Kind::reportWindowTitle, 0, 0});
    const auto icon = window.windowCommand(t.terminal, {Kind::reportIconLabel, 0, 0});
    ASSERT_TRUE(title && icon);
    EXPECT_EQ(std::string(title->begin(), title->end()),
              "\x1b]leditor \xe2\x80\x94 notes.txt\x1b\\");
    EXPECT_EQ(std::string(icon->begin(), icon->end()), "\x1b]Lnotes\x1b\\");
}

} // namespace
} // namespace veldatron::testing
