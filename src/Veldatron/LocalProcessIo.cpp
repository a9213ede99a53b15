// The I/O thread of a running child: reads its output, writes its input, sees its end.
#include "LocalProcess.h"
#include "Diagnostics.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veldatron {

namespace {

// More output than the kernel can hold for a pseudo-terminal's master (the line discipline's
// 4 KiB and the driver's 64 KiB of buffers), with room to spare. Once this much has been read
// after the child exited, everything it wrote is in hand, even while another process that shares
// the terminal (a background job) keeps writing and the master never runs dry.
constexpr std::size_t kernelBufferBound = 256 * 1024;

} // namespace

void LocalProcess::ioLoop(Session& s) {
    s.scratch.resize(readSize);
    while (!s.stop.load()) {
        if (s.endOfOutput && s.exitQueued && !hasWrites(s)) {
            return; // nothing can come from the child or go to it any more
        }
        bool paused = false;
        if (m_delivery == Delivery::queued) {
            std::lock_guard lock(m_pendingLock);
            paused = m_readSuspendedForBackpressure;
        }
        const bool reading = !s.endOfOutput && !paused;
        const short masterEvents =
            static_cast<short>((reading ? POLLIN : 0) | (hasWrites(s) ? POLLOUT : 0));
        pollfd fds[3] = {
            {s.wake, POLLIN, 0},
            {s.childExited ? -1 : s.pidfd, POLLIN, 0},
            // Left out while there is nothing to read or write: a hung-up master reports POLLHUP
            // whatever is asked, which would spin this loop while reading is paused.
            {masterEvents != 0 ? s.master : -1, masterEvents, 0},
        };
        if (::poll(fds, 3, -1) < 0) {
            continue; // EINTR
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(s.wake, &count, sizeof count);
        }
        if (s.stop.load()) {
            return;
        }
        if (fds[1].revents != 0) {
            reapChild(s);
        }
        const bool readable = (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        // Once the child has exited, the master is read until it runs dry even when poll did not
        // flag it: the exit waits for that read.
        if (reading && (readable || (s.childExited && !s.exitQueued))) {
            readChunk(s);
        }
        if (hasWrites(s)) {
            flushWrites(s);
        }
        queueExitWhenOutputRead(s);
    }
}

// ---- Reading

void LocalProcess::readChunk(Session& s) {
    // Reads until the master is empty or a whole chunk is in hand: a single read of a pseudo-
    // terminal returns at most a few KiB, and a flood handed over in such pieces would cost a
    // delegate call per few KiB.
    std::size_t got = 0;
    bool dry = false;
    bool end = false;
    while (got < readSize) {
        const ssize_t n = ::read(s.master, s.scratch.data() + got, readSize - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            dry = true;
            break;
        }
        // Linux reports the end of a pseudo-terminal's output as EIO once every holder of the
        // slave side has closed it (a read after the data, never 0). Any other error ends the
        // output too: nothing more could be read.
        end = true;
        break;
    }
    if (s.childExited) {
        s.readAfterExit = true;
        s.readSinceExit += got;
    }
    s.lastReadDry = dry;
    if (got > 0) {
        deliverChunk(
            s, std::vector<std::uint8_t>(s.scratch.begin(),
                                         s.scratch.begin() + static_cast<std::ptrdiff_t>(got)));
    }
    if (end) {
        s.endOfOutput = true;
        m_childfd.store(-1);
        m_running.store(false);
    }
}

void LocalProcess::deliverChunk(Session& s, std::vector<std::uint8_t> chunk) {
    if (m_debugIO.load()) {
        const std::uint64_t total = m_totalRead += chunk.size();
        writeDiagnosticLine("[READ] count=" + std::to_string(chunk.size()) +
                            " received from host total=" + std::to_string(total));
    }
    writeHostLog(chunk);
    if (m_delivery == Delivery::queued) {
        // A "no" pauses reading: the next turn of the loop reads the flag under the lock.
        enqueueReceivedData(std::move(chunk));
    } else {
        deliverSynchronously(s, std::move(chunk));
    }
}

void LocalProcess::deliverSynchronously(Session& s, std::vector<std::uint8_t> chunk) {
    std::uint64_t ticket;
    {
        std::lock_guard lock(m_syncLock);
        ticket = ++m_syncPosted;
    }
    std::weak_ptr<int> alive = m_alive;
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(chunk));
    m_dispatchQueue.post([this, alive, bytes, ticket] {
        if (alive.expired()) {
            return;
        }
        if (LocalProcessDelegate* host = delegate()) {
            host->dataReceived(*bytes);
            if (alive.expired()) {
                return;
            }
        }
        {
            std::lock_guard lock(m_syncLock);
            m_syncDelivered = std::max(m_syncDelivered, ticket);
        }
        m_syncDone.notify_all();
    });
    // Given up when the process ends: the executor may be the very thread that is ending it, and
    // would never get to the posted delivery while it waits for this thread.
    std::unique_lock lock(m_syncLock);
    m_syncDone.wait(lock, [&] { return m_syncDelivered >= ticket || s.stop.load(); });
}

void LocalProcess::writeHostLog(std::span<const std::uint8_t> chunk) {
    const std::optional<std::string> directory = loggingDir();
    if (!directory) {
        return;
    }
    const std::string path = *directory + "/log-" + std::to_string(m_logFileCounter.load());
    // Not through a planted link, readable by the user only (the log holds everything the
    // program printed), and no wait on a FIFO that nobody reads.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        std::size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t n = ::write(fd, chunk.data() + done, chunk.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0 && error == 0) {
            error = errno;
        }
    }
    if (error != 0) {
        static DiagnosticSite site;
        site.emit("Got error while logging data dump to " + path + ": " +
                  std::error_code(error, std::generic_category()).message());
        return;
    }
    ++m_logFileCounter;
}

// ---- The end of the child

void LocalProcess::reapChild(Session& s) {
    // The process descriptor turned readable: the child is a zombie, and only this thread waits
    // for it, by its own number (still its own until reaped).
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(s.pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) {
        return;
    }
    s.childExited = true;
    // -1 (ECHILD): someone else waited for it after all; there is no status to give.
    s.status = reaped == s.pid ? status : 0;
}

void LocalProcess::queueExitWhenOutputRead(Session& s) {
    if (!s.childExited || s.exitQueued) {
        return;
    }
    const bool outputRead =
        s.endOfOutput || (s.readAfterExit && s.lastReadDry) || s.readSinceExit >= kernelBufferBound;
    if (!outputRead) {
        return;
    }
    s.exitQueued = true;
    if (m_delivery == Delivery::queued) {
        std::unique_lock lock(m_pendingLock);
        m_pendingExit = s.status;
        if (!m_pendingScheduled) {
            m_pendingScheduled = true;
            lock.unlock();
            schedulePass();
        }
        return;
    }
    {
        std::lock_guard lock(m_pendingLock);
        m_pendingExit = s.status;
    }
    std::weak_ptr<int> alive = m_alive;
    m_dispatchQueue.post([this, alive] {
        if (!alive.expired()) {
            takeAndReportExit();
        }
    });
}

// ---- Writing

bool LocalProcess::hasWrites(Session& s) {
    if (s.currentWrite) {
        return true;
    }
    std::lock_guard lock(m_writeLock);
    return !m_writeQueue.empty();
}

void LocalProcess::flushWrites(Session& s) {
    while (!s.stop.load()) {
        if (!s.currentWrite) {
            std::lock_guard lock(m_writeLock);
            if (m_writeQueue.empty()) {
                return;
            }
            s.currentWrite = std::move(m_writeQueue.front());
            m_writeQueue.pop_front();
        }
        WriteItem& item = *s.currentWrite;
        const std::size_t left = item.bytes.size() - item.written;
        if (left == 0) {
            finishWrite(item, 0);
            s.currentWrite.reset();
            continue;
        }
        const ssize_t n = ::write(s.master, item.bytes.data() + item.written, left);
        if (n > 0) {
            item.written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return; // the child's input is full: poll for room
        }
        finishWrite(item, errno);
        s.currentWrite.reset();
    }
}

void LocalProcess::finishWrite(const WriteItem& item, int error) {
    const std::uint64_t total = m_total += item.bytes.size();
    {
        std::lock_guard lock(m_writeLock);
        m_queuedWriteBytes -= item.bytes.size();
        if (m_queuedWriteBytes == 0) {
            m_writeOverflowReported = false;
        }
    }
    if (m_debugIO.load()) {
        writeDiagnosticLine("[SEND-" + std::to_string(item.index) +
                            "] completed bytes=" + std::to_string(total));
    }
    if (error != 0) {
        static DiagnosticSite site;
        site.emit("Error writing data to the child, errno=" + std::to_string(error));
    }
}

} // namespace veldatron
