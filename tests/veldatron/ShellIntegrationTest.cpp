// Real shells whose prompts mark themselves with OSC 133, run in a terminal without a view: the
// marks the terminal records (prompt rows, what each cell is) must match the commands typed, and
// each command's end must arrive on the row after its output with the command's exit status.
#include "ChildProcessWaits.h"
#include "HeadlessTerminal.h"
#include "LoopExecutor.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace veldatron {
namespace {

using testing::patience;
using Clock = std::chrono::steady_clock;

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "shell-integration-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }
    void write(std::string_view name, std::string_view text) const {
        std::ofstream(m_path + "/" + std::string(name)) << text;
    }

private:
    std::string m_path;
};

// One OSC 133 sequence as it arrived: its payload and where the cursor stood right after it
// (ring row and column).
struct Arrival {
    std::string payload;
    int row;
    int col;
};

// Feeds the shell's output a byte at a time, noting where each OSC 133 sequence (ended by BEL,
// as the prompts below write them) leaves the cursor.
class RecordingHeadlessTerminal : public HeadlessTerminal {
public:
    using HeadlessTerminal::HeadlessTerminal;

    std::vector<Arrival> arrivals;

    void dataReceived(std::span<const std::uint8_t> slice) override {
        for (const std::uint8_t byte : slice) {
            HeadlessTerminal::dataReceived(std::span(&byte, 1));
            if (byte == 0x1b) {
                m_sequence = "\x1b";
            } else if (!m_sequence.empty()) {
                m_sequence.push_back(char(byte));
                if (byte == 0x07) {
                    if (m_sequence.starts_with("\x1b]133;")) {
                        const Buffer& buffer = terminal().buffer();
                        arrivals.push_back({m_sequence.substr(6, m_sequence.size() - 7),
                                            buffer.yBase() + buffer.y(), buffer.x()});
                    }
                    m_sequence.clear();
                }
            }
        }
    }

    // The commands' ends ("D;<status>") that arrived so far.
    std::vector<Arrival> ends() const {
        std::vector<Arrival> out;
        for (const Arrival& a : arrivals) {
            if (a.payload.starts_with("D")) {
                out.push_back(a);
            }
        }
        return out;
    }

private:
    std::string m_sequence;
};

struct Shell {
    const char* name;
    const char* executable;
    // Files written into the shell's home (and ZDOTDIR), and the arguments.
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
};

void PrintTo(const Shell& shell, std::ostream* out) {
    *out << shell.name;
}

// Each prompt: A before it (a fresh line and a new prompt group), B after it (the command line
// starts); C before a command runs; D with the exit status once it has finished.
const Shell shells[] = {
    {"bash",
     "/bin/bash",
     {{"bashrc", "HISTFILE=/dev/null\n"
                 "PS1='\\[\\e]133;A\\a\\]$ \\[\\e]133;B\\a\\]'\n"
                 "PS0=$'\\e]133;C\\a'\n"
                 "PROMPT_COMMAND='printf \"\\e]133;D;%s\\a\" \"$?\"'\n"}},
     {"--noprofile", "--rcfile", "bashrc", "-i"}},
    {"zsh",
     "/bin/zsh",
     {{".zshenv", "setopt no_global_rcs\n"},
      {".zshrc", "unset HISTFILE\n"
                 "precmd() { local s=$?; print -n \"\\e]133;D;$s\\a\"; }\n"
                 "preexec() { print -n \"\\e]133;C\\a\"; }\n"
                 "PS1=$'%{\\e]133;A\\a%}$ %{\\e]133;B\\a%}'\n"}},
     {"-i"}},
};

class ShellIntegrationTest : public ::testing::TestWithParam<Shell> {
protected:
    void start() {
        const Shell& shell = GetParam();
        if (::access(shell.executable, X_OK) != 0) {
            GTEST_SKIP() << shell.executable << " is not installed (scripts/setup installs it)";
        }
        for (const auto& [name, text] : shell.files) {
            home.write(name, text);
        }
        terminal = std::make_unique<RecordingHeadlessTerminal>(
            loop, testing::optionsFor({.cols = 40, .rows = 12, .scrollback = 100}),
            [this](std::optional<std::int32_t>) { ended = true; });
        std::vector<std::string> args = shell.args;
        for (std::string& arg : args) {
            if (arg == "bashrc") {
                arg = home.path() + "/bashrc";
            }
        }
        terminal->process().startProcess(shell.executable, args,
                                         std::vector<std::string>{
                                             "TERM=xterm-256color",
                                             "LANG=C.UTF-8",
                                             "PATH=/usr/bin:/bin",
                                             "HOME=" + home.path(),
                                             "ZDOTDIR=" + home.path(),
                                         },
                                         std::nullopt, home.path());
    }
    // Types a command and waits until the shell reports its end and shows the next prompt.
    void run(const std::string& command) {
        const size_t endsBefore = terminal->ends().size();
        const size_t arrivalsBefore = terminal->arrivals.size();
        terminal->send(command + "\r");
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return terminal->ends().size() > endsBefore && !terminal->arrivals.empty() &&
                       terminal->arrivals.size() > arrivalsBefore &&
                       terminal->arrivals.back().payload == "B";
            },
            Clock::now() + patience))
            << command;
    }
    void waitForFirstPrompt() {
        ASSERT_TRUE(loop.runUntil(
            [&] { return !terminal->arrivals.empty() && terminal->arrivals.back().payload == "B"; },
            Clock::now() + patience));
    }
    // The prompt marks of every ring row, as "row:col:kind".
    std::vector<std::string> marks() {
        std::vector<std::string> out;
        Terminal& t = terminal->terminal();
        for (int row = 0; row < t.buffer().lines().count(); ++row) {
            for (const SemanticPromptAnchor& a : t.semanticPromptMarks(row)) {
                out.push_back(std::to_string(a.position.row) + ":" +
                              std::to_string(a.position.col) + ":" +
                              std::string(description(a.kind)));
            }
        }
        return out;
    }
    // The cells of a ring row as content letters: p prompt, i input, o output, . none (up to the
    // row's last character).
    std::string contentOf(int row) {
        Terminal& t = terminal->terminal();
        const BufferLine& line = t.buffer().lines()[row];
        std::string out;
        for (int col = 0; col < line.getTrimmedLength(); ++col) {
            switch (line[col].semanticContent().kind()) {
            case SemanticContent::Case::prompt:
                out += 'p';
                break;
            case SemanticContent::Case::input:
                out += 'i';
                break;
            case SemanticContent::Case::output:
                out += 'o';
                break;
            case SemanticContent::Case::none:
                out += '.';
                break;
            }
        }
        return out;
    }

    TempDir home;
    LoopExecutor loop;
    std::unique_ptr<RecordingHeadlessTerminal> terminal;
    bool ended = false;
};

TEST_P(ShellIntegrationTest, MarksPromptsInputAndOutputOfTheCommandsTyped) {
    start();
    if (IsSkipped()) {
        return;
    }
    waitForFirstPrompt();
    Terminal& t = terminal->terminal();
    const int first = t.buffer().yBase() + t.buffer().y();

    run("echo ok");
    run("false");
    run("printf 'one\\ntwo\\nthree\\n'");

    // Prompt rows: each command's row, then its output, then the next prompt.
    const int second = first + 2;
    const int third = second + 1;
    const int fourth = third + 4;
    EXPECT_THAT(marks(), ::testing::ElementsAre(std::to_string(first) + ":0:initial",
                                                std::to_string(second) + ":0:initial",
                                                std::to_string(third) + ":0:initial",
                                                std::to_string(fourth) + ":0:initial"));
    EXPECT_EQ(testing::rowText(t, first), "$ echo ok");
    EXPECT_EQ(contentOf(first), "ppiiiiiii");
    EXPECT_EQ(contentOf(first + 1), "oo");
    EXPECT_EQ(contentOf(second), "ppiiiii");
    EXPECT_EQ(testing::rowText(t, third + 3), "three");
    for (int row = third + 1; row <= third + 3; ++row) {
        EXPECT_THAT(contentOf(row), ::testing::MatchesRegex("o+")) << row;
        EXPECT_EQ(t.semanticRowKind(row), std::nullopt) << row;
    }
    EXPECT_EQ(t.semanticRowKind(third), SemanticPromptKind::initial);
    EXPECT_EQ(t.activeSemanticPromptOrigin(),
              (SemanticPromptAnchor{Position{0, fourth}, SemanticPromptKind::initial}));

    // Each command ends, with its status, on the row its output left the cursor on: where the
    // next prompt starts.
    std::vector<std::string> ends;
    for (const Arrival& end : terminal->ends()) {
        if (end.row > first || end.col > 0) {
            ends.push_back(end.payload + "@" + std::to_string(end.row));
        }
    }
    EXPECT_THAT(ends, ::testing::ElementsAre("D;0@" + std::to_string(second),
                                             "D;1@" + std::to_string(third),
                                             "D;0@" + std::to_string(fourth)));
    EXPECT_EQ(t.buffer().semanticInput, SemanticInputState::armed);

    // clear empties the screen and the scrollback: the new prompt is the only one left.
    run("clear");
    const int top = t.buffer().yBase();
    EXPECT_EQ(t.buffer().y(), 0);
    EXPECT_THAT(marks(), ::testing::ElementsAre(std::to_string(top) + ":0:initial"));
    EXPECT_EQ(terminal->ends().back().payload, "D;0");
    EXPECT_EQ(contentOf(top), "pp");

    // Typing a command (before its echo comes back) submits the command line.
    terminal->send("exit\r");
    ASSERT_TRUE(loop.runUntil([&] { return ended; }, Clock::now() + patience));
    EXPECT_EQ(t.buffer().semanticInput, SemanticInputState::submitted);
}

INSTANTIATE_TEST_SUITE_P(Shells, ShellIntegrationTest, ::testing::ValuesIn(shells),
                         [](const ::testing::TestParamInfo<Shell>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace veldatron
