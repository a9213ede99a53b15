// A program can name any file and any shared-memory object, and can claim any size: the kitty
// graphics media read only what they may, remove only what they may, and refuse huge claims
// before allocating for them.

#include "KittyGraphicsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr uid_t otherUser = 65534; // nobody

std::string reply(TerminalFixture& t) {
    std::string text = t.takeReplies();
    const size_t semicolon = text.find(';');
    return semicolon == std::string::npos ? text : text.substr(semicolon + 1);
}

const std::string badPayload = "EINVAL: bad payload\\x1b\\\\";
const std::string badPath = "EINVAL: bad path\\x1b\\\\";
const std::string badTempPath = "EINVAL: bad temp path\\x1b\\\\";

// The growth of this process's peak resident memory, in KiB, while `work` runs: measured in a
// child process whose peak is reset first, so nothing else in the test binary counts.
long peakGrowthKiB(const std::function<void()>& work) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const auto status = [](const char* field) {
            std::ifstream in("/proc/self/status");
            std::string line;
            while (std::getline(in, line)) {
                if (line.rfind(field, 0) == 0) {
                    return std::atol(line.c_str() + std::string(field).size());
                }
            }
            return -1L;
        };
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = status("VmRSS:");
        work();
        const long growth = status("VmHWM:") - before;
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &growth, sizeof growth);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    long growth = -1;
    if (::read(pipeFds[0], &growth, sizeof growth) != sizeof growth) {
        growth = -1;
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return growth;
}

class KittySecurity : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        // The user's temporary folder must not widen what counts as temporary here.
        const char* tmpdir = std::getenv("TMPDIR");
        savedTmpdir = tmpdir ? std::optional<std::string>(tmpdir) : std::nullopt;
        ::unsetenv("TMPDIR");
    }
    void TearDown() override {
        if (savedTmpdir) {
            ::setenv("TMPDIR", savedTmpdir->c_str(), 1);
        }
    }
    std::string send(const std::string& control, const std::string& name) {
        t.feed(kitty("a=t,i=1,f=24,s=1,v=1," + control, base64(name)));
        return reply(t);
    }

    TempFolder folder{"/tmp/tty-graphics-protocol-test-XXXXXX"};
    std::optional<std::string> savedTmpdir;
    TerminalFixture t;
    const std::vector<uint8_t> pixel{1, 2, 3};
};

TEST_F(KittySecurity, OnlyRegularFilesAreRead) {
    const std::string target = folder.write("pixel", pixel);
    const std::string fifo = folder.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string toDevice = folder.path() + "/zero-link";
    ASSERT_EQ(::symlink("/dev/zero", toDevice.c_str()), 0);
    struct Case {
        const char* name;
        std::string path;
        std::string medium;
        std::string reply;
    };
    const Case cases[] = {
        {"a regular file", target, "t=f", "OK\\x1b\\\\"},
        {"a FIFO (opened without blocking, then refused)", fifo, "t=f", badPayload},
        {"a FIFO as a temporary file", fifo, "t=t", badPayload},
        {"a directory", folder.path(), "t=f", badPayload},
        {"a device", "/dev/zero", "t=f", badPath},
        {"a link to a device", toDevice, "t=f", badPath},
        {"kernel files", "/proc/self/status", "t=f", badPath},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send(c.medium, c.path), c.reply);
    }
    EXPECT_TRUE(exists(fifo)) << "a temporary path that is no regular file is not removed";
}

TEST_F(KittySecurity, TheDescriptorIsOpenedWithoutFollowingALink) {
    // Resolution happens first; a link that takes the name afterwards is not followed.
    const std::string target = folder.write("pixel", pixel);
    const std::string link = folder.path() + "/link";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(readKittyFileData(link, 0, 0, false));
    EXPECT_FALSE(readKittyFileData(link, 0, 0, true));
    EXPECT_TRUE(exists(link));
    EXPECT_EQ(readKittyFileData(target, 1, 0, false), (std::vector<uint8_t>{2, 3}));
    EXPECT_EQ(readKittyFileData(target, 3, 0, false), std::vector<uint8_t>());
    EXPECT_FALSE(readKittyFileData(target, 4, 0, false)) << "an offset beyond the end";
    EXPECT_TRUE(exists(target));
}

TEST_F(KittySecurity, TemporaryFilesMustLieInATemporaryFolder) {
    struct Case {
        std::string path;
        bool temporary;
    };
    const Case cases[] = {
        {"/tmp/tty-graphics-protocol-1", true},     {"/tmp/a/tty-graphics-protocol/b", true},
        {"/dev/shm/tty-graphics-protocol", true},   {"/tmpx/tty-graphics-protocol", false},
        {"/dev/shmx/tty-graphics-protocol", false}, {"/tmp/other", false},
        {"/home/u/tty-graphics-protocol", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(isKittyTempPath(c.path), c.temporary);
    }
    ::setenv("TMPDIR", "/", 1);
    EXPECT_FALSE(isKittyTempPath("/home/u/tty-graphics-protocol")) << "TMPDIR=/ is no folder";
    ::setenv("TMPDIR", "/home/u/", 1);
    EXPECT_TRUE(isKittyTempPath("/home/u/tty-graphics-protocol"));
    EXPECT_FALSE(isKittyTempPath("/home/ux/tty-graphics-protocol"));
    ::unsetenv("TMPDIR");

    // A link in the temporary folder to a file outside it resolves outside: refused, neither
    // removed.
    TempFolder home("/var/tmp/veldatron-kitty-XXXXXX");
    const std::string outside = home.write("tty-graphics-protocol", pixel);
    const std::string link = folder.path() + "/tty-graphics-protocol-link";
    ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
    EXPECT_EQ(send("t=t", link), badTempPath);
    EXPECT_EQ(send("t=t", outside), badTempPath);
    EXPECT_TRUE(exists(outside));
    EXPECT_TRUE(exists(link));
    const std::string unmarked = folder.write("../veldatron-unmarked", pixel);
    EXPECT_EQ(send("t=t", unmarked), badTempPath);
    EXPECT_TRUE(exists(unmarked)) << "refused before it was opened";
    std::remove(unmarked.c_str());
}

TEST_F(KittySecurity, TemporaryFilesOfAnotherUserAreNeitherReadNorRemoved) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making a file of another user needs root";
    }
    const std::string file = folder.write("tty-graphics-protocol-other", pixel);
    ASSERT_EQ(::chown(file.c_str(), otherUser, otherUser), 0);
    EXPECT_EQ(send("t=t", file), badPayload);
    EXPECT_TRUE(exists(file));
    EXPECT_TRUE(t.terminal.kittyGraphicsState().imagesById.empty());
    // The plain file medium reads what the user may read, as before.
    EXPECT_EQ(send("t=f", file), "OK\\x1b\\\\");
}

TEST_F(KittySecurity, SharedMemoryIsReadOnlyFromRegularObjectsOfTheUser) {
    struct Case {
        const char* name;
        std::string object;
    };
    for (const Case& c :
         {Case{"empty", ""}, Case{"dot", "."}, Case{"dot dot", ".."}, Case{"slash dot dot", "/.."},
          Case{"a path", "/a/b"}, Case{"a name with a NUL", std::string("a\0b", 3)},
          Case{"missing", "/veldatron-kitty-missing"}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send("t=s", c.object), badPayload);
    }
    {
        SCOPED_TRACE("a FIFO in the shared-memory folder");
        const std::string fifo = "/dev/shm/veldatron-kitty-fifo-" + std::to_string(::getpid());
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        EXPECT_EQ(send("t=s", fifo.substr(8)), badPayload);
        EXPECT_TRUE(exists(fifo)) << "not removed";
        std::remove(fifo.c_str());
    }
    if (::geteuid() == 0) {
        SCOPED_TRACE("an object of another user");
        SharedMemory other(pixel);
        ASSERT_EQ(::chown(("/dev/shm" + other.name()).c_str(), otherUser, otherUser), 0);
        EXPECT_EQ(send("t=s", other.name()), badPayload);
        EXPECT_TRUE(other.exists()) << "not removed";
    }
    {
        SCOPED_TRACE("too small: refused and removed");
        SharedMemory small(std::vector<uint8_t>(8, 1));
        t.feed(kitty("a=t,i=1,f=32,s=2,v=2,t=s", base64(small.name())));
        EXPECT_EQ(reply(t), badPayload);
        EXPECT_FALSE(small.exists());
    }
}

TEST_F(KittySecurity, HugeClaimsAreRefusedBeforeAnythingLargeIsAllocated) {
    // Allowance for the terminal and test machinery itself.
    constexpr long boundKiB = 16 * 1024;
    ASSERT_GT(peakGrowthKiB([] { std::vector<uint8_t> block(boundKiB * 2048, 1); }), boundKiB)
        << "the measure sees an allocation of twice the bound";
    const std::vector<uint8_t> zeros(32u << 20, 0);
    const std::string bomb = base64(zlibCompress(zeros));
    RgbaImage wide{100000, 1, std::vector<uint8_t>(400000, 9)};
    const std::string widePng = base64(encodePng(wide).value());
    struct Case {
        const char* name;
        std::string command;
    };
    const Case cases[] = {
        {"2^31 x 2^31 pixels", kitty("a=t,i=1,f=32,s=2147483648,v=2147483648", "AAAA")},
        {"2^31 x 2^31 pixels in shared memory",
         kitty("a=t,i=1,f=32,s=2147483648,v=2147483648,t=s", base64("/veldatron-none"))},
        {"2^31 x 2^31 pixels compressed",
         kitty("a=t,i=1,f=24,s=2147483648,v=2147483648,o=z", bomb)},
        {"a PNG that claims 100000 x 1", kitty("a=t,i=1,f=100", widePng)},
        {"a zlib bomb for one pixel", kitty("a=t,i=1,f=32,s=1,v=1,o=z", bomb)},
        {"a zlib bomb for 16 x 16 pixels", kitty("a=t,i=1,f=24,s=16,v=16,o=z", bomb)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.feed(c.command);
        EXPECT_EQ(reply(t), badPayload);
        TerminalFixture fresh;
        const long growth = peakGrowthKiB([&] { fresh.feed(c.command); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, boundKiB);
    }
    EXPECT_FALSE(decodePngToRgba(encodePng(wide).value()));
    EXPECT_EQ(kittyPngPixelSize(encodePng(wide).value()), (PixelSize{100000, 1}));
}

} // namespace
