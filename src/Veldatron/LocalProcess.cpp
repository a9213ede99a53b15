#include "LocalProcess.h"
#include "ChildReaper.h"
#include "Diagnostics.h"
#include "PseudoTerminalHelpers.h"
#include "TerminalEnvironment.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

namespace veldatron {

namespace {

std::uint64_t steadyUptimeNs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void wake(int eventFd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(eventFd, &one, sizeof one);
}

std::string byteList(std::span<const std::uint8_t> bytes) {
    std::string text = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += std::to_string(bytes[i]);
    }
    text += ']';
    return text;
}

} // namespace

LocalProcess::LocalProcess(LocalProcessDelegate* delegate, Executor& dispatchQueue,
                           Delivery delivery)
    : m_dispatchQueue(dispatchQueue), m_delivery(delivery), m_delegate(delegate),
      m_uptimeNs(&steadyUptimeNs) {}

LocalProcess::~LocalProcess() {
    endSession(Hangup::quietly);
    m_alive.reset();
}

// ---- Starting and ending a child

void LocalProcess::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                const std::optional<std::vector<std::string>>& environment,
                                const std::optional<std::string>& execName,
                                const std::optional<std::string>& currentDirectory) {
    if (m_running.load()) {
        return;
    }
    startProcessWithForkpty(executable, args, environment, execName, currentDirectory);
}

void LocalProcess::startProcessWithForkpty(
    const std::string& executable, const std::vector<std::string>& args,
    const std::optional<std::vector<std::string>>& environment,
    const std::optional<std::string>& execName,
    const std::optional<std::string>& currentDirectory) {
    winsize size{};
    if (LocalProcessDelegate* host = delegate()) {
        size = host->getWindowSize();
    }
    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(execName.value_or(executable));
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env = environment
                                             ? *environment
                                             : TerminalEnvironment::getEnvironmentVariables(
                                                   TerminalEnvironment::defaultTermName, true);

    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        return;
    }
    const auto forked = PseudoTerminalHelpers::fork(executable, argv, env, currentDirectory, size);
    if (!forked) {
        ::close(wakeFd);
        return;
    }
    // Nobody else waits for this pid (no wait for any child anywhere, SIGCHLD never ignored), so
    // it cannot have been reused between the fork and here.
    const int pidfd = ::pidfd_open(forked->pid, 0);
    if (pidfd < 0) {
        // A child nobody could watch or reap must not run on: end it before it does anything.
        ::close(forked->masterFd);
        ::close(wakeFd);
        ::kill(forked->pid, SIGKILL);
        int status = 0;
        while (::waitpid(forked->pid, &status, 0) < 0 && errno == EINTR) {
        }
        return;
    }

    // The previous child's channel and exit watch are replaced; its end goes unreported.
    endSession(Hangup::quietly);

    auto session = std::make_unique<Session>();
    session->master = forked->masterFd;
    session->pidfd = pidfd;
    session->pid = forked->pid;
    session->wake = wakeFd;
    ++m_generation;
    m_childfd.store(forked->masterFd);
    m_shellPid.store(forked->pid);
    m_running.store(true);
    {
        std::lock_guard lock(m_writeLock);
        m_wakeFd = wakeFd;
    }
    Session& running = *session;
    m_session = std::move(session);
    running.thread = std::thread([this, &running] { ioLoop(running); });
}

void LocalProcess::endSession(Hangup hangup) {
    std::unique_ptr<Session> session = std::move(m_session);
    if (!session) {
        return;
    }
    {
        std::lock_guard lock(m_writeLock);
        m_wakeFd = -1; // no more input for this child
    }
    session->stop.store(true);
    wake(session->wake);
    {
        // Under the lock, so a reader about to wait for a synchronous delivery sees the stop.
        std::lock_guard lock(m_syncLock);
    }
    m_syncDone.notify_all();
    if (session->thread.joinable()) {
        session->thread.join();
    }
    {
        std::lock_guard lock(m_writeLock);
        m_writeQueue.clear();
        m_queuedWriteBytes = 0;
        m_writeOverflowReported = false;
    }
    // Closed only now: a descriptor closed while another thread polls it could be reused by an
    // unrelated open before that thread lets go of the number.
    ::close(session->master);
    ::close(session->wake);
    if (session->childExited) {
        ::close(session->pidfd);
    } else {
        // Closing the master hung the child up. SIGTERM through the process descriptor reaches
        // this child or nothing: never a later process that reused its number.
        if (hangup == Hangup::withSigterm) {
            ::pidfd_send_signal(session->pidfd, SIGTERM, nullptr, 0);
        }
        ChildReaper::shared().adopt(session->pidfd, session->pid);
    }
    std::lock_guard lock(m_pendingLock);
    m_pendingExit.reset();
}

void LocalProcess::terminate() {
    endSession(Hangup::withSigterm);
    m_childfd.store(-1);
    m_running.store(false);
}

// ---- Writing

void LocalProcess::send(std::span<const std::uint8_t> data) {
    if (!m_running.load()) {
        return;
    }
    std::unique_lock lock(m_writeLock);
    if (m_wakeFd < 0) {
        return;
    }
    if (m_queuedWriteBytes > 0 && m_queuedWriteBytes + data.size() > writeQueueLimitBytes) {
        // A child that never reads its input (a program flooding queries whose replies nobody
        // takes) must not grow the application without bound.
        if (!m_writeOverflowReported) {
            m_writeOverflowReported = true;
            const std::string line = "Dropped " + std::to_string(data.size()) +
                                     " bytes of input: the child left " +
                                     std::to_string(m_queuedWriteBytes) + " bytes unread";
            lock.unlock();
            static DiagnosticSite site;
            site.emit(line);
        }
        return;
    }
    const std::uint64_t index = m_sendCount.fetch_add(1);
    m_writeQueue.push_back(
        WriteItem{std::vector<std::uint8_t>(data.begin(), data.end()), 0, index});
    m_queuedWriteBytes += data.size();
    wake(m_wakeFd);
    lock.unlock();
    if (m_debugIO.load()) {
        writeDiagnosticLine("[SEND-" + std::to_string(index) +
                            "] Queuing data to client: " + byteList(data) + " ");
    }
}

std::size_t LocalProcess::queuedWriteBytes() const {
    std::lock_guard lock(m_writeLock);
    return m_queuedWriteBytes;
}

// ---- Host log

void LocalProcess::setHostLogging(std::optional<std::string> directory) {
    std::lock_guard lock(m_logLock);
    m_loggingDir = std::move(directory);
}

std::optional<std::string> LocalProcess::loggingDir() const {
    std::lock_guard lock(m_logLock);
    return m_loggingDir;
}

// ---- Queued delivery

std::size_t LocalProcess::pendingBytes() const {
    std::lock_guard lock(m_pendingLock);
    return m_pendingBytes;
}

std::size_t LocalProcess::pendingChunkCount() const {
    std::lock_guard lock(m_pendingLock);
    return m_pendingChunks.size();
}

std::size_t LocalProcess::pendingChunkIndex() const {
    std::lock_guard lock(m_pendingLock);
    return m_pendingChunkIndex;
}

bool LocalProcess::pendingScheduled() const {
    std::lock_guard lock(m_pendingLock);
    return m_pendingScheduled;
}

bool LocalProcess::readSuspendedForBackpressure() const {
    std::lock_guard lock(m_pendingLock);
    return m_readSuspendedForBackpressure;
}

void LocalProcess::setUptimeClock(std::function<std::uint64_t()> uptimeNs) {
    m_uptimeNs = uptimeNs ? std::move(uptimeNs) : std::function<std::uint64_t()>(&steadyUptimeNs);
}

void LocalProcess::schedulePass() {
    std::weak_ptr<int> alive = m_alive;
    m_dispatchQueue.post([this, alive] {
        if (!alive.expired()) {
            drainReceivedData();
        }
    });
}

bool LocalProcess::enqueueReceivedData(std::vector<std::uint8_t> chunk) {
    std::unique_lock lock(m_pendingLock);
    const std::size_t length = chunk.size();
    const std::size_t undelivered = m_pendingChunks.size() - m_pendingChunkIndex;
    if (undelivered >= pendingChunkMergeThreshold &&
        m_pendingChunks.back().size() + length <= readSize) {
        std::vector<std::uint8_t>& last = m_pendingChunks.back();
        last.insert(last.end(), chunk.begin(), chunk.end());
    } else {
        m_pendingChunks.push_back(std::move(chunk));
    }
    m_pendingBytes += length;
    if (m_pendingBytes >= pendingHighWaterBytes) {
        m_readSuspendedForBackpressure = true;
    }
    const bool readOn = m_pendingBytes < pendingHighWaterBytes;
    if (!m_pendingScheduled) {
        m_pendingScheduled = true;
        lock.unlock();
        schedulePass();
    }
    return readOn;
}

void LocalProcess::drainReceivedData() {
    const std::weak_ptr<int> alive = m_alive;
    const std::uint64_t start = m_uptimeNs();
    for (;;) {
        std::unique_lock lock(m_pendingLock);
        if (m_pendingChunkIndex >= m_pendingChunks.size()) {
            m_pendingChunks.clear();
            m_pendingChunkIndex = 0;
            m_pendingBytes = 0;
            m_pendingScheduled = false;
            // The end is queued behind the output read before it, so it comes last.
            const std::optional<std::int32_t> exitStatus = m_pendingExit;
            m_pendingExit.reset();
            lock.unlock();
            if (exitStatus) {
                reportExit(*exitStatus);
            }
            return;
        }
        // Moved out rather than viewed in place: the reader may append to the newest chunk.
        std::vector<std::uint8_t> chunk = std::move(m_pendingChunks[m_pendingChunkIndex]);
        ++m_pendingChunkIndex;
        if (m_pendingChunkIndex >= pendingChunkFlushThreshold) {
            m_pendingChunks.erase(m_pendingChunks.begin(),
                                  m_pendingChunks.begin() +
                                      static_cast<std::ptrdiff_t>(m_pendingChunkIndex));
            m_pendingChunkIndex = 0;
        }
        m_pendingBytes -= chunk.size();
        bool resume = false;
        if (m_readSuspendedForBackpressure && m_pendingBytes <= pendingLowWaterBytes) {
            m_readSuspendedForBackpressure = false;
            resume = true;
        }
        lock.unlock();
        if (resume) {
            resumePtyRead();
        }
        if (LocalProcessDelegate* host = delegate()) {
            host->dataReceived(chunk);
            if (alive.expired()) {
                return; // the host ended this process from inside the call
            }
        }
        if (m_uptimeNs() - start >= pendingTimeSliceNs) {
            schedulePass(); // `pendingScheduled` stays set: one pass in flight at a time
            return;
        }
    }
}

void LocalProcess::resumePtyRead() {
    // The I/O thread reads the flag under the lock on every turn; it only needs waking. After
    // the end of output it reads nothing more whatever the flag says.
    if (m_session) {
        wake(m_session->wake);
    }
}

// ---- The end of the child

void LocalProcess::reportExit(std::int32_t status) {
    const std::weak_ptr<int> alive = m_alive;
    const std::uint64_t generation = m_generation;
    if (LocalProcessDelegate* host = delegate()) {
        host->processTerminated(*this, status);
        if (alive.expired()) {
            return;
        }
    }
    // A host may start the next child from inside the call; that one is running.
    if (m_generation == generation) {
        m_running.store(false);
    }
}

void LocalProcess::takeAndReportExit() {
    std::unique_lock lock(m_pendingLock);
    const std::optional<std::int32_t> exitStatus = m_pendingExit;
    m_pendingExit.reset();
    lock.unlock();
    if (exitStatus) {
        reportExit(*exitStatus);
    }
}

} // namespace veldatron
