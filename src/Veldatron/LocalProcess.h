#pragma once

#include "Executor.h"
#include "LocalProcessDelegate.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace veldatron {

/// One child program on a pseudo-terminal, and the bytes between it and its host.
///
/// The host (a terminal view, a terminal without a view) owns the process and is its delegate.
/// Each running child has an I/O thread of its own that polls the pseudo-terminal's master side,
/// a process descriptor of the child and a wake-up descriptor: it reads the output, writes the
/// host's input in order, and sees the child's end. Everything reaches the host on the executor
/// given at construction (the main executor of a view or headless host), in one of two ways:
///
/// - queued delivery: output is queued under `pendingLock`, and passes on the executor hand the
///   chunks over in order, yielding after 4 ms so that input and drawing go on during a flood;
///   reading pauses while 4 MiB or more wait undelivered and resumes at 1 MiB;
/// - synchronous delivery: each chunk is handed over on the executor while the reader waits.
///
/// The end of the child is reported once, after every byte read before it was delivered, with
/// the raw wait status. A child that the host lets go (`terminate()`, or the end of this object)
/// is reaped in the background and never reported.
///
/// Threads: the delegate is called on the executor only. `send` is safe from any thread.
/// `startProcess`, `terminate`, `resumePtyRead`, `drainReceivedData` and the destructor belong to
/// the executor's thread (or any thread while the executor runs nothing of this process); the
/// executor must outlive the process.
class LocalProcess {
public:
    /// How output reaches the host; see the class comment.
    enum class Delivery : std::uint8_t { queued, synchronous };

    /// Length of every read of the pseudo-terminal: large floods arrive in big pieces.
    static constexpr std::size_t readSize = 131072;
    /// Delivered chunks after which the consumed front of the queue is removed.
    static constexpr std::size_t pendingChunkFlushThreshold = 32;
    /// Nanoseconds after which a delivery pass yields to the rest of the executor's work.
    static constexpr std::uint64_t pendingTimeSliceNs = 4'000'000;
    /// Undelivered bytes at which reading pauses.
    static constexpr std::size_t pendingHighWaterBytes = 4'194'304;
    /// Undelivered bytes at or below which a paused reading resumes.
    static constexpr std::size_t pendingLowWaterBytes = 1'048'576;
    /// Undelivered chunks beyond which a new chunk joins the last one when both fit in
    /// `readSize`: a child trickling single bytes to a stalled host queues bytes, not millions of
    /// one-byte buffers.
    static constexpr std::size_t pendingChunkMergeThreshold = 1024;
    /// Input bytes that may wait for a child that does not read them; beyond that further input
    /// is dropped (a single `send` into an empty queue is always taken).
    static constexpr std::size_t writeQueueLimitBytes = 16 * 1024 * 1024;

    LocalProcess(LocalProcessDelegate* delegate, Executor& dispatchQueue,
                 Delivery delivery = Delivery::queued);
    /// Hangs up the child (its pseudo-terminal closes) without signalling it; the child is reaped
    /// when it exits and nothing more is reported. Output already read and not yet delivered is
    /// dropped.
    ~LocalProcess();
    LocalProcess(const LocalProcess&) = delete;
    LocalProcess& operator=(const LocalProcess&) = delete;

    /// Starts `executable` (a path, not searched) with `args` after the program name, unless a
    /// child is running. `environment` is the complete environment (absent: the terminal's
    /// default for "xterm-256color" with 24-bit colour; an empty list stays empty); `execName`
    /// is the program name the child sees (absent: `executable`); `currentDirectory` is where it
    /// starts (absent: here). A start that fails changes nothing and reports nothing; a program
    /// that cannot be executed exits with status 127 (raw status 32512).
    void startProcess(const std::string& executable, const std::vector<std::string>& args = {},
                      const std::optional<std::vector<std::string>>& environment = std::nullopt,
                      const std::optional<std::string>& execName = std::nullopt,
                      const std::optional<std::string>& currentDirectory = std::nullopt);

    /// Writes the bytes to the child after everything sent before; ignored while no child runs.
    /// Never blocks: the bytes wait in the process's write queue until the child takes them.
    void send(std::span<const std::uint8_t> data);

    /// Closes the pseudo-terminal and sends SIGTERM to the child unless it has already been
    /// reaped; the child is reaped in the background. No `processTerminated` follows.
    void terminate();

    /// While set, every chunk read from the child is also written to "<directory>/log-<n>".
    void setHostLogging(std::optional<std::string> directory);
    std::optional<std::string> loggingDir() const;
    std::uint64_t logFileCounter() const { return m_logFileCounter.load(); }

    /// The master descriptor (for `TIOCSWINSZ`), -1 while there is none or after end of output.
    int childfd() const { return m_childfd.load(); }
    /// The child's process number; 0 before the first start, then the last child's.
    pid_t shellPid() const { return m_shellPid.load(); }
    /// A child runs: set by a start, cleared by end of output, by the exit and by `terminate()`.
    bool running() const { return m_running.load(); }

    LocalProcessDelegate* delegate() const { return m_delegate.load(); }
    void setDelegate(LocalProcessDelegate* delegate) { m_delegate.store(delegate); }
    Executor& dispatchQueue() const { return m_dispatchQueue; }
    bool usesMainQueue() const { return m_delivery == Delivery::queued; }

    /// Diagnostic lines for every read and write on standard output.
    bool debugIO() const { return m_debugIO.load(); }
    void setDebugIO(bool on) { m_debugIO.store(on); }
    /// `send` calls taken while running (they number the write diagnostics).
    std::uint64_t sendCount() const { return m_sendCount.load(); }
    /// Bytes of all finished writes, failed ones included.
    std::uint64_t total() const { return m_total.load(); }
    /// Bytes read while `debugIO` was on.
    std::uint64_t totalRead() const { return m_totalRead.load(); }
    /// Input bytes waiting to be written to the child.
    std::size_t queuedWriteBytes() const;

    // The queue of undelivered output, read under `pendingLock`.
    std::size_t pendingBytes() const;
    std::size_t pendingChunkCount() const;
    std::size_t pendingChunkIndex() const;
    bool pendingScheduled() const;
    bool readSuspendedForBackpressure() const;

    /// Queues a chunk read from the child for delivery and schedules a pass when none is;
    /// answers whether reading may go on (fewer than `pendingHighWaterBytes` undelivered).
    bool enqueueReceivedData(std::vector<std::uint8_t> chunk);
    /// One delivery pass: hands queued chunks to the delegate until the queue is empty or the
    /// time slice is used up, then reports the child's end if it is queued behind them.
    void drainReceivedData();
    /// Lets a reading paused for back-pressure go on.
    void resumePtyRead();

    /// Replaces the monotonic clock of the delivery passes (nanoseconds); for tests.
    void setUptimeClock(std::function<std::uint64_t()> uptimeNs);

private:
    struct WriteItem {
        std::vector<std::uint8_t> bytes;
        std::size_t written = 0;
        std::uint64_t index = 0;
    };
    // One started child: its descriptors and the I/O thread serving them.
    struct Session {
        int master = -1;
        int pidfd = -1;
        pid_t pid = 0;
        int wake = -1; // eventfd: resume, new input, stop
        std::atomic<bool> stop{false};
        std::thread thread;
        // The I/O thread's own state; read by others only after it has been joined.
        bool endOfOutput = false;
        bool childExited = false;
        bool exitQueued = false;
        std::int32_t status = 0;
        bool readAfterExit = false; // a read was made after the exit was seen
        bool lastReadDry = false;   // the last read emptied the master
        std::size_t readSinceExit = 0;
        std::optional<WriteItem> currentWrite;
        std::vector<std::uint8_t> scratch;
    };

    void startProcessWithForkpty(const std::string& executable,
                                 const std::vector<std::string>& args,
                                 const std::optional<std::vector<std::string>>& environment,
                                 const std::optional<std::string>& execName,
                                 const std::optional<std::string>& currentDirectory);
    enum class Hangup : std::uint8_t { quietly, withSigterm };
    void endSession(Hangup hangup);
    void schedulePass();
    void reportExit(std::int32_t status);
    void takeAndReportExit();

    // The I/O thread (LocalProcessIo.cpp).
    void ioLoop(Session& session);
    void readChunk(Session& session);
    void deliverChunk(Session& session, std::vector<std::uint8_t> chunk);
    void deliverSynchronously(Session& session, std::vector<std::uint8_t> chunk);
    void reapChild(Session& session);
    void queueExitWhenOutputRead(Session& session);
    bool hasWrites(Session& session);
    void flushWrites(Session& session);
    void finishWrite(const WriteItem& item, int error);
    void writeHostLog(std::span<const std::uint8_t> chunk);

    Executor& m_dispatchQueue;
    const Delivery m_delivery;
    std::atomic<LocalProcessDelegate*> m_delegate;

    std::atomic<int> m_childfd{-1};
    std::atomic<pid_t> m_shellPid{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_debugIO{false};
    std::atomic<std::uint64_t> m_sendCount{0};
    std::atomic<std::uint64_t> m_total{0};
    std::atomic<std::uint64_t> m_totalRead{0};
    std::atomic<std::uint64_t> m_logFileCounter{0};

    mutable std::mutex m_logLock;
    std::optional<std::string> m_loggingDir;

    // Guards the queue of undelivered output, the pass flag, back-pressure and the queued end.
    mutable std::mutex m_pendingLock;
    std::vector<std::vector<std::uint8_t>> m_pendingChunks;
    std::size_t m_pendingChunkIndex = 0;
    bool m_pendingScheduled = false;
    std::size_t m_pendingBytes = 0;
    bool m_readSuspendedForBackpressure = false;
    std::optional<std::int32_t> m_pendingExit;

    // Guards the write queue and the wake-up descriptor `send` uses.
    mutable std::mutex m_writeLock;
    std::deque<WriteItem> m_writeQueue;
    std::size_t m_queuedWriteBytes = 0;
    bool m_writeOverflowReported = false;
    int m_wakeFd = -1;

    // Synchronous delivery: the reader waits until the executor has handed over its chunk.
    std::mutex m_syncLock;
    std::condition_variable m_syncDone;
    std::uint64_t m_syncPosted = 0;
    std::uint64_t m_syncDelivered = 0;

    std::function<std::uint64_t()> m_uptimeNs;
    std::unique_ptr<Session> m_session; // the running child's, until the next start or the end
    std::uint64_t m_generation = 0;     // counts starts
    // Tasks on the executor hold this weakly; it expires when the object ends.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace veldatron
