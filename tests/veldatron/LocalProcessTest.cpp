// LocalProcess with real children on real pseudo-terminals, delivering on a LoopExecutor that the
// test thread runs. Every wait is for a condition, with a generous deadline.
#include "LocalProcess.h"
#include "ChildProcessWaits.h"
#include "ChildReaper.h"
#include "DiagnosticsCapture.h"
#include "LoopExecutor.h"
#include "PseudoTerminalHelpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <cstring>
#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

namespace veldatron {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

using testing::eventually;
using testing::patience;
using testing::processGone;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A host that keeps what it is given.
class Host : public LocalProcessDelegate {
public:
    void processTerminated(LocalProcess&, std::optional<std::int32_t> exitCode) override {
        exits.push_back(exitCode);
        outputAtExit = output.size();
    }
    void dataReceived(std::span<const std::uint8_t> slice) override {
        output.append(reinterpret_cast<const char*>(slice.data()), slice.size());
        ++deliveries;
        if (onData) {
            onData(slice);
        }
    }
    winsize getWindowSize() override { return size; }

    std::string output;
    std::size_t deliveries = 0;
    std::vector<std::optional<std::int32_t>> exits;
    std::size_t outputAtExit = 0;
    winsize size{25, 80, 800, 600};
    std::function<void(std::span<const std::uint8_t>)> onData;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ptytest-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

private:
    std::string m_path;
};

class LocalProcessTest : public ::testing::Test {
protected:
    bool waitFor(const std::function<bool()>& done) {
        return loop.runUntil(done, Clock::now() + patience);
    }
    bool waitForExit() {
        return waitFor([&] { return !host.exits.empty(); });
    }
    bool waitForOutput(std::string_view text) {
        return waitFor([&] { return host.output.find(text) != std::string::npos; });
    }
    void shell(const std::string& script, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"-c", script};
        args.insert(args.end(), more.begin(), more.end());
        process.startProcess("/bin/sh", args);
    }

    LoopExecutor loop;
    Host host;
    LocalProcess process{&host, loop};
};

TEST_F(LocalProcessTest, ReportsTheRawWaitStatusOnceAfterTheOutput) {
    struct Case {
        const char* name;
        std::string executable;
        std::vector<std::string> args;
        std::int32_t status;
        std::string output;
    };
    const Case cases[] = {
        {"exit code 0", "/bin/sh", {"-c", "printf done"}, 0, "done"},
        {"exit code 3 in bits 8-15", "/bin/sh", {"-c", "printf three; exit 3"}, 768, "three"},
        {"killed by signal 9", "/bin/sh", {"-c", "printf bye; kill -9 $$"}, 9, "bye"},
        {"a program that cannot be executed", "/nonexistent/program", {}, 32512, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host;
        LocalProcess process(&host, loop);
        process.startProcess(c.executable, c.args);
        // Not `running()`: these children may end before the start returns.
        const pid_t pid = process.shellPid();
        EXPECT_GT(pid, 0);
        ASSERT_TRUE(loop.runUntil([&] { return !host.exits.empty(); }, Clock::now() + patience));
        EXPECT_EQ(host.exits.front(), c.status);
        EXPECT_EQ(host.output, c.output);
        EXPECT_EQ(host.outputAtExit, c.output.size()) << "the end comes after the output";
        EXPECT_FALSE(process.running());
        EXPECT_EQ(process.childfd(), -1);
        EXPECT_EQ(process.shellPid(), pid);
        EXPECT_TRUE(processGone(pid)) << "reaped before it was reported";
        loop.runUntil(Clock::now() + 50ms); // a second report would come now
        EXPECT_EQ(host.exits.size(), 1u);
    }
}

TEST_F(LocalProcessTest, TheEndWaitsForOutputStillQueuedWhenTheChildIsReaped) {
    // The host holds its first delivery until the child is gone: by then all of the output is
    // read and queued, and the end must still come after the last of it.
    constexpr std::size_t size = 3'000'000; // below the pause threshold: the child can finish
    pid_t pid = 0;
    host.onData = [&](std::span<const std::uint8_t>) {
        if (host.deliveries == 1) {
            const auto deadline = Clock::now() + patience;
            while (!processGone(pid) && Clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
        }
    };
    process.startProcess("/usr/bin/head", {"-c", std::to_string(size), "/dev/zero"});
    pid = process.shellPid();
    ASSERT_TRUE(waitForExit());
    EXPECT_GT(host.deliveries, 1u);
    EXPECT_EQ(host.outputAtExit, size);
    EXPECT_EQ(host.exits.front(), 0);
}

TEST_F(LocalProcessTest, ExitIsReportedWhileABackgroundJobKeepsTheTerminalOpen) {
    // The background job holds the terminal open, so its output never ends; the exit of the
    // child itself is still reported, after what it printed.
    shell("sleep 30 & printf started; exit 5");
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(host.exits.front(), 5 << 8);
    EXPECT_EQ(host.output, "started");
    EXPECT_FALSE(process.running());
}

TEST_F(LocalProcessTest, StartsWithTheDefaultOrTheGivenEnvironment) {
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> environment;
        std::vector<std::string> mustHave;
        std::vector<std::string> mustNotHave;
    };
    const Case cases[] = {
        {"absent: the terminal's default",
         std::nullopt,
         {"TERM=xterm-256color\r\n", "COLORTERM=truecolor\r\n", "LANG="},
         {"PATH="}},
        {"given: exactly that",
         std::vector<std::string>{"ONLY=this one"},
         {"ONLY=this one\r\n"},
         {"TERM=", "LANG="}},
        {"empty: nothing", std::vector<std::string>{}, {}, {"="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host;
        LocalProcess process(&host, loop);
        process.startProcess("/usr/bin/env", {}, c.environment);
        ASSERT_TRUE(loop.runUntil([&] { return !host.exits.empty(); }, Clock::now() + patience));
        EXPECT_EQ(host.exits.front(), 0);
        for (const std::string& text : c.mustHave) {
            EXPECT_THAT(host.output, HasSubstr(text));
        }
        for (const std::string& text : c.mustNotHave) {
            EXPECT_THAT(host.output, ::testing::Not(HasSubstr(text)));
        }
    }
}

TEST_F(LocalProcessTest, ChildSeesItsNameDirectoryAndTerminal) {
    TempDir dir;
    const std::string realDir = std::filesystem::canonical(dir.path()).string();
    process.startProcess("/bin/sh", {"-c", "echo \"$0\"; pwd; tty; stty size"}, std::nullopt,
                         "custom-name", dir.path());
    ASSERT_TRUE(waitForExit());
    EXPECT_THAT(host.output, ::testing::StartsWith("custom-name\r\n" + realDir + "\r\n/dev/pts/"));
    EXPECT_THAT(host.output, ::testing::EndsWith("\r\n25 80\r\n"));

    // A directory that cannot be entered leaves the child where the host is.
    Host other;
    LocalProcess elsewhere(&other, loop);
    elsewhere.startProcess("/bin/pwd", {}, std::nullopt, std::nullopt, dir.file("missing"));
    ASSERT_TRUE(loop.runUntil([&] { return !other.exits.empty(); }, Clock::now() + patience));
    EXPECT_EQ(other.output, std::filesystem::current_path().string() + "\r\n");
}

TEST_F(LocalProcessTest, StartWhileRunningStartsNothing) {
    process.startProcess("/bin/sleep", {"30"});
    const pid_t first = process.shellPid();
    const int fd = process.childfd();
    process.startProcess("/bin/echo", {"second"});
    EXPECT_EQ(process.shellPid(), first);
    EXPECT_EQ(process.childfd(), fd);
    process.terminate();
    EXPECT_TRUE(eventually(loop, [&] { return processGone(first); }));
    EXPECT_EQ(host.output, "");
}

TEST_F(LocalProcessTest, InputIsIgnoredBeforeTheStartAndAfterTheEndOfOutput) {
    process.send(bytesOf("lost"));
    EXPECT_EQ(process.sendCount(), 0u);
    shell("printf out");
    ASSERT_TRUE(eventually(loop, [&] { return !process.running(); }));
    process.send(bytesOf("also lost"));
    EXPECT_EQ(process.sendCount(), 0u);
    EXPECT_TRUE(waitForExit());
}

TEST_F(LocalProcessTest, ResizeReachesTheChild) {
    shell("stty size; read line; stty size");
    ASSERT_TRUE(waitForOutput("25 80\r\n"));
    ASSERT_EQ(PseudoTerminalHelpers::setWinSize(process.childfd(), winsize{40, 132, 1320, 800}), 0);
    process.send(bytesOf("\n"));
    ASSERT_TRUE(waitForExit());
    EXPECT_THAT(host.output, ::testing::EndsWith("40 132\r\n"));
}

TEST_F(LocalProcessTest, FloodArrivesCompleteAndInOrderWithReadingPausedAndResumed) {
    // More than four times the pause threshold of random bytes, copied byte for byte by a raw
    // terminal. The host holds its first delivery until reading has paused, so the pause and
    // the resumption are certain to happen, whatever the machine's speed.
    constexpr std::size_t size = 32 * 1024 * 1024;
    TempDir dir;
    std::vector<char> data(size);
    std::mt19937_64 random(12345);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t value = random();
        std::memcpy(data.data() + i, &value, 8);
    }
    std::ofstream(dir.file("flood"), std::ios::binary).write(data.data(), size);

    std::size_t largestBacklog = 0;
    std::size_t largestChunk = 0;
    bool sawPause = false;
    host.output.reserve(size);
    host.onData = [&](std::span<const std::uint8_t> slice) {
        if (!sawPause) {
            const auto deadline = Clock::now() + patience;
            while (!process.readSuspendedForBackpressure() && Clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
            sawPause = process.readSuspendedForBackpressure();
        }
        largestBacklog = std::max(largestBacklog, process.pendingBytes());
        largestChunk = std::max(largestChunk, slice.size());
    };
    shell("stty raw -echo && exec cat \"$0\"", {dir.file("flood")});
    ASSERT_TRUE(waitForExit());

    EXPECT_EQ(host.exits.front(), 0);
    EXPECT_EQ(host.outputAtExit, size) << "the end comes after the last byte";
    ASSERT_EQ(host.output.size(), size);
    const auto [mine, theirs] = std::mismatch(data.begin(), data.end(), host.output.begin());
    EXPECT_TRUE(mine == data.end()) << "first differing byte at " << (mine - data.begin());
    EXPECT_TRUE(sawPause);
    EXPECT_LE(largestBacklog, LocalProcess::pendingHighWaterBytes + LocalProcess::readSize);
    EXPECT_LE(largestChunk, LocalProcess::readSize);
    EXPECT_FALSE(process.readSuspendedForBackpressure());
}

TEST_F(LocalProcessTest, InputReachesASlowChildInOrderWithoutBlockingTheSender) {
    // The child takes no input until the gate file appears, so everything sent waits in the
    // write queue; then it echoes its input back through a raw terminal.
    TempDir dir;
    const std::string gate = dir.file("gate");
    shell("stty raw -echo -iexten; printf R; while [ ! -e \"$0\" ]; do sleep 0.01; done; "
          "exec head -c 2097152",
          {gate});
    ASSERT_TRUE(waitForOutput("R"));

    std::string sent;
    for (int piece = 0; sent.size() < 2097152; ++piece) {
        char line[64];
        std::snprintf(line, sizeof line, "%07d abcdefghijklmnopqrstuvwxyz\n", piece);
        std::string block;
        while (block.size() < 4096 && sent.size() + block.size() < 2097152) {
            block += line;
        }
        block.resize(std::min(block.size(), 2097152 - sent.size()));
        process.send(bytesOf(block));
        sent += block;
    }
    EXPECT_GT(process.queuedWriteBytes(), 1024u * 1024u) << "a child that does not read holds "
                                                            "the input in the queue";
    std::ofstream(gate).put('x');
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(host.exits.front(), 0);
    ASSERT_EQ(host.output.size(), 1 + sent.size());
    EXPECT_TRUE(host.output.substr(1) == sent) << "the echo differs from the input";
    EXPECT_EQ(process.total(), sent.size());
    EXPECT_EQ(process.queuedWriteBytes(), 0u);
}

TEST_F(LocalProcessTest, InputForAChildThatNeverReadsIsBounded) {
    shell("stty raw -echo; printf R; exec sleep 30");
    ASSERT_TRUE(waitForOutput("R"));
    const std::string mebibyte(1024 * 1024, 'x');
    testing::DiagnosticsCapture diagnostics;
    for (int i = 0; i < 24; ++i) {
        process.send(bytesOf(mebibyte));
    }
    EXPECT_LE(process.queuedWriteBytes(), LocalProcess::writeQueueLimitBytes);
    EXPECT_LT(process.sendCount(), 24u);
    EXPECT_GE(process.sendCount(), 16u);
    ASSERT_EQ(diagnostics.captured().size(), 1u) << "one line for the whole overflow";
    EXPECT_THAT(diagnostics.captured()[0], ::testing::StartsWith("Dropped 1048576 bytes of input"));
    const pid_t pid = process.shellPid();
    process.terminate();
    EXPECT_TRUE(eventually(loop, [&] { return processGone(pid); }));
}

TEST_F(LocalProcessTest, TerminateSignalsReapsAndReportsNothing) {
    process.terminate(); // before any start: nothing to signal
    EXPECT_EQ(process.shellPid(), 0);

    // The shell ignores the hang-up, so only SIGTERM ends it.
    shell("trap '' HUP; printf ready; while :; do sleep 0.05; done");
    ASSERT_TRUE(waitForOutput("ready"));
    const pid_t pid = process.shellPid();
    process.terminate();
    EXPECT_FALSE(process.running());
    EXPECT_EQ(process.childfd(), -1);
    EXPECT_EQ(process.shellPid(), pid);
    EXPECT_TRUE(eventually(loop, [&] { return processGone(pid); })) << "no zombie is left";
    loop.runUntil(Clock::now() + 50ms);
    EXPECT_TRUE(host.exits.empty());

    // A new child can start on the same object.
    shell("exit 7");
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(host.exits.front(), 7 << 8);
}

TEST_F(LocalProcessTest, TerminateAfterTheChildWasReapedSendsNothing) {
    shell("exit 0");
    ASSERT_TRUE(waitForExit());
    process.terminate();
    EXPECT_FALSE(process.running());
}

TEST_F(LocalProcessTest, EndingTheObjectHangsUpTheChildAndReapsIt) {
    pid_t pid = 0;
    {
        Host quiet;
        LocalProcess doomed(&quiet, loop);
        doomed.startProcess("/bin/sh", {"-c", "printf up; exec sleep 30"});
        ASSERT_TRUE(loop.runUntil([&] { return quiet.output == "up"; }, Clock::now() + patience));
        pid = doomed.shellPid();
    }
    EXPECT_TRUE(eventually(loop, [&] { return processGone(pid); }));
}

TEST_F(LocalProcessTest, TheChildGetsNoDescriptorOrSignalStateOfTheHost) {
    // A descriptor of the host without close-on-exec, at a low and a high number.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::dup2(pipeFds[0], 150), 150);
    // A blocked and an ignored signal on the thread that starts the child.
    sigset_t block, previousMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &block, &previousMask);
    struct sigaction ignore {
    }, previousPipe{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previousPipe);

    // Listed by a child of the shell, so that nothing the listing itself opens shows up.
    // Descriptors are listed by a child of the shell, so that the listing's own do not show; the
    // signal state is read by a program started directly (a shell resets its mask itself).
    shell("ls -l /proc/$$/fd");
    Host signalHost;
    LocalProcess signalProcess(&signalHost, loop);
    signalProcess.startProcess("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"});

    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::close(150);

    ASSERT_TRUE(waitForExit());
    std::vector<std::string> descriptors;
    std::istringstream lines(host.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t arrow = line.find(" -> ");
        if (arrow != std::string::npos) {
            descriptors.push_back(line.substr(line.rfind(' ', arrow - 1) + 1,
                                              arrow - line.rfind(' ', arrow - 1) - 1));
            EXPECT_THAT(line.substr(arrow), ::testing::StartsWith(" -> /dev/pts/"));
        }
    }
    EXPECT_THAT(descriptors, ::testing::ElementsAre("0", "1", "2"));
    ASSERT_TRUE(loop.runUntil([&] { return !signalHost.exits.empty(); }, Clock::now() + patience));
    EXPECT_EQ(signalHost.output, "SigBlk:\t0000000000000000\r\nSigIgn:\t0000000000000000\r\n");
}

TEST_F(LocalProcessTest, SynchronousDeliveryHandsOverEachChunkBeforeReadingOn) {
    Host syncHost;
    LocalProcess syncProcess(&syncHost, loop, LocalProcess::Delivery::synchronous);
    syncHost.onData = [&](std::span<const std::uint8_t>) {
        EXPECT_EQ(syncProcess.pendingBytes(), 0u) << "nothing is queued in this mode";
    };
    syncProcess.startProcess("/bin/sh", {"-c", "printf one; sleep 0.05; printf two; exit 4"});
    ASSERT_TRUE(loop.runUntil([&] { return !syncHost.exits.empty(); }, Clock::now() + patience));
    EXPECT_EQ(syncHost.output, "onetwo");
    EXPECT_EQ(syncHost.outputAtExit, 6u);
    EXPECT_EQ(syncHost.exits.front(), 4 << 8);
}

TEST_F(LocalProcessTest, AHostMayEndTheProcessFromInsideADelivery) {
    TempDir dir;
    std::ofstream(dir.file("big"), std::ios::binary) << std::string(8 * 1024 * 1024, 'z');
    for (LocalProcess::Delivery delivery :
         {LocalProcess::Delivery::queued, LocalProcess::Delivery::synchronous}) {
        SCOPED_TRACE(delivery == LocalProcess::Delivery::queued ? "queued" : "synchronous");
        Host ending;
        auto owned = std::make_unique<LocalProcess>(&ending, loop, delivery);
        ending.onData = [&](std::span<const std::uint8_t>) { owned.reset(); };
        owned->startProcess("/bin/sh", {"-c", "stty raw; exec cat \"$0\"", dir.file("big")});
        const pid_t pid = owned->shellPid();
        ASSERT_TRUE(loop.runUntil([&] { return owned == nullptr; }, Clock::now() + patience));
        EXPECT_EQ(ending.deliveries, 1u);
        EXPECT_TRUE(eventually(loop, [&] { return processGone(pid); }));
        loop.runUntil(Clock::now() + 20ms); // leftover tasks of the ended process do nothing
        EXPECT_EQ(ending.deliveries, 1u);
        EXPECT_TRUE(ending.exits.empty());
    }
}

TEST_F(LocalProcessTest, HostLogWritesOnePrivateFilePerChunk) {
    TempDir dir;
    process.setHostLogging(dir.path());
    shell("printf first; sleep 0.05; printf second");
    ASSERT_TRUE(waitForExit());
    const std::uint64_t files = process.logFileCounter();
    ASSERT_GE(files, 1u);
    std::string logged;
    for (std::uint64_t i = 0; i < files; ++i) {
        const std::string path = dir.file("log-" + std::to_string(i));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << path;
        std::ifstream in(path, std::ios::binary);
        logged.append(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(logged, "firstsecond");
    EXPECT_EQ(host.output, "firstsecond");
}

TEST_F(LocalProcessTest, HostLogFailuresAreReportedAndDeliveryGoesOn) {
    struct Case {
        const char* name;
        bool plantLink;
    };
    for (const Case c : {Case{"a directory that does not exist", false},
                         Case{"a link planted where the log goes", true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string victim = dir.file("victim");
        std::ofstream(victim) << "untouched";
        std::string logDir = dir.file("missing");
        if (c.plantLink) {
            logDir = dir.path();
            ASSERT_EQ(::symlink(victim.c_str(), dir.file("log-0").c_str()), 0);
        }
        Host logHost;
        LocalProcess logged(&logHost, loop);
        logged.setHostLogging(logDir);
        testing::DiagnosticsCapture diagnostics;
        logged.startProcess("/bin/sh", {"-c", "printf text"});
        ASSERT_TRUE(loop.runUntil([&] { return !logHost.exits.empty(); }, Clock::now() + patience));
        EXPECT_EQ(logHost.output, "text");
        EXPECT_EQ(logged.logFileCounter(), 0u);
        ASSERT_FALSE(diagnostics.captured().empty());
        EXPECT_THAT(
            diagnostics.captured()[0],
            ::testing::StartsWith("Got error while logging data dump to " + logDir + "/log-0: "));
        std::ifstream in(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "untouched");
    }
}

TEST_F(LocalProcessTest, DebugLinesNumberTheWritesAndCountTheReads) {
    shell("stty raw -echo; printf R; head -c 3 >/dev/null; printf done");
    ASSERT_TRUE(waitForOutput("R"));
    process.setDebugIO(true);
    ::testing::internal::CaptureStdout();
    process.send(bytesOf("a"));
    process.send(bytesOf("bc"));
    const bool ended = waitForExit();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended);
    EXPECT_THAT(printed, HasSubstr("[SEND-0] Queuing data to client: [97] \n"));
    EXPECT_THAT(printed, HasSubstr("[SEND-1] Queuing data to client: [98, 99] \n"));
    EXPECT_THAT(printed, HasSubstr("[SEND-1] completed bytes=3\n"));
    EXPECT_THAT(printed, HasSubstr("[READ] count="));
    EXPECT_EQ(process.totalRead(), 4u); // "done"
}

TEST(PseudoTerminalHelpers, ForkHandsBackANonBlockingMasterThatNoOtherProgramInherits) {
    const auto forked = PseudoTerminalHelpers::fork("/bin/sh", {"sh", "-c", "stty size; exit 2"},
                                                    {}, std::nullopt, winsize{12, 34, 0, 0});
    ASSERT_TRUE(forked.has_value());
    EXPECT_NE(::fcntl(forked->masterFd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(forked->masterFd, F_GETFD) & FD_CLOEXEC, 0);
    std::string output;
    char buffer[256];
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
        const ssize_t n = ::read(forked->masterFd, buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            std::this_thread::sleep_for(1ms);
        } else {
            break; // EIO: the child closed the terminal
        }
    }
    EXPECT_EQ(output, "12 34\r\n");
    int status = 0;
    EXPECT_EQ(::waitpid(forked->pid, &status, 0), forked->pid);
    EXPECT_EQ(status, 2 << 8);
    ::close(forked->masterFd);
}

TEST(PseudoTerminalHelpers, WindowSizeAndByteCountQueriesReportTheirCall) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "hello", 5), 5);
    const auto available = PseudoTerminalHelpers::availableBytes(pipeFds[0]);
    EXPECT_EQ(available.status, 0);
    EXPECT_EQ(available.size, 5);
    EXPECT_EQ(PseudoTerminalHelpers::availableBytes(-1).status, -1);
    EXPECT_EQ(PseudoTerminalHelpers::setWinSize(pipeFds[0], winsize{1, 1, 0, 0}), -1)
        << "not a terminal";
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(ChildReaper, ReapsAdoptedChildrenWhenTheyExit) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    const int pidfd = ::pidfd_open(pid, 0);
    ASSERT_GE(pidfd, 0);
    ChildReaper::shared().adopt(pidfd, pid);
    const auto deadline = Clock::now() + patience;
    while (!processGone(pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(processGone(pid));
}

} // namespace
} // namespace veldatron
