// The delivery queue of LocalProcess, driven by hand: chunks are queued as the reader would queue
// them, and passes run one at a time on an executor the test steps.
#include "LocalProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace veldatron {
namespace {

// Runs posted tasks one at a time when the test says so; delayed tasks are not expected here.
class StepExecutor final : public Executor {
public:
    void post(Task task) override { m_tasks.push_back(std::move(task)); }
    TaskHandle postAfter(Duration, Task) override {
        ADD_FAILURE() << "the delivery queue posts no delayed work";
        return {};
    }
    bool isCurrent() const override { return true; }

    std::size_t pending() const { return m_tasks.size(); }
    void runOne() {
        ASSERT_FALSE(m_tasks.empty());
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        task();
    }

private:
    std::deque<Task> m_tasks;
};

class ChunkRecorder final : public LocalProcessDelegate {
public:
    void processTerminated(LocalProcess&, std::optional<std::int32_t>) override {
        ADD_FAILURE() << "no child ran";
    }
    void dataReceived(std::span<const std::uint8_t> slice) override {
        chunks.emplace_back(slice.begin(), slice.end());
        if (onData) {
            onData();
        }
    }
    winsize getWindowSize() override { return winsize{25, 80, 0, 0}; }

    std::vector<std::vector<std::uint8_t>> chunks;
    std::function<void()> onData;
};

std::vector<std::uint8_t> chunkOf(std::size_t length, std::uint8_t fill) {
    return std::vector<std::uint8_t>(length, fill);
}

class LocalProcessQueueTest : public ::testing::Test {
protected:
    LocalProcessQueueTest() {
        process->setUptimeClock([this] { return nowNs; });
    }

    StepExecutor executor;
    ChunkRecorder host;
    std::uint64_t nowNs = 1'000'000'000;
    std::unique_ptr<LocalProcess> process = std::make_unique<LocalProcess>(&host, executor);
};

TEST_F(LocalProcessQueueTest, ReadingPausesAtFourMebibytesAndResumesAtOne) {
    // 4,194,303 bytes undelivered: reading goes on.
    EXPECT_TRUE(process->enqueueReceivedData(chunkOf(3'145'727, 'a')));
    EXPECT_TRUE(process->enqueueReceivedData(chunkOf(1'048'576, 'b')));
    EXPECT_FALSE(process->readSuspendedForBackpressure());
    // One more byte makes 4,194,304: paused.
    EXPECT_FALSE(process->enqueueReceivedData(chunkOf(1, 'c')));
    EXPECT_TRUE(process->readSuspendedForBackpressure());
    EXPECT_EQ(process->pendingBytes(), 4'194'304u);
    EXPECT_EQ(executor.pending(), 1u) << "one pass for any number of chunks";

    // After the first chunk 1,048,577 bytes are left (still paused), after the second
    // 1,048,576 (resumed).
    std::vector<bool> suspendedAtDelivery;
    host.onData = [&] { suspendedAtDelivery.push_back(process->readSuspendedForBackpressure()); };
    executor.runOne();
    EXPECT_THAT(suspendedAtDelivery, ::testing::ElementsAre(true, false, false));
    EXPECT_EQ(process->pendingBytes(), 0u);
    EXPECT_FALSE(process->pendingScheduled());
    EXPECT_EQ(executor.pending(), 0u);
}

TEST_F(LocalProcessQueueTest, ConsumedChunksAreRemovedEveryThirtyTwo) {
    for (int i = 0; i < 33; ++i) {
        process->enqueueReceivedData(chunkOf(16, static_cast<std::uint8_t>(i)));
    }
    std::vector<std::pair<std::size_t, std::size_t>> queueAtDelivery; // (chunks, index)
    host.onData = [&] {
        queueAtDelivery.emplace_back(process->pendingChunkCount(), process->pendingChunkIndex());
    };
    executor.runOne();
    ASSERT_EQ(host.chunks.size(), 33u);
    for (std::size_t i = 0; i < 33; ++i) {
        EXPECT_EQ(host.chunks[i].front(), i) << "chunks arrive in the order they were read";
    }
    EXPECT_EQ(queueAtDelivery[30], std::make_pair(std::size_t(33), std::size_t(31)));
    EXPECT_EQ(queueAtDelivery[31], std::make_pair(std::size_t(1), std::size_t(0)));
    EXPECT_EQ(queueAtDelivery[32], std::make_pair(std::size_t(1), std::size_t(1)));
    EXPECT_EQ(process->pendingChunkCount(), 0u);
}

TEST_F(LocalProcessQueueTest, PassesYieldOnceFourMillisecondsHavePassed) {
    struct Case {
        const char* name;
        std::uint64_t costNs; // time each delivery takes
        std::vector<std::size_t> chunksPerPass;
    };
    const Case cases[] = {
        {"a fast host takes everything in one pass", 0, {10}},
        {"one millisecond each: four per pass", 1'000'000, {4, 4, 2}},
        {"just under the slice", 999'999, {5, 5}},
        {"a host slower than the slice takes one per pass",
         5'000'000,
         {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.chunks.clear();
        host.onData = [&] { nowNs += c.costNs; };
        for (int i = 0; i < 10; ++i) {
            process->enqueueReceivedData(chunkOf(100, static_cast<std::uint8_t>(i)));
        }
        std::vector<std::size_t> perPass;
        while (executor.pending() > 0) {
            const std::size_t before = host.chunks.size();
            executor.runOne();
            if (host.chunks.size() > before) {
                perPass.push_back(host.chunks.size() - before);
            }
            EXPECT_LE(executor.pending(), 1u) << "never two passes in flight";
        }
        EXPECT_EQ(perPass, c.chunksPerPass);
        ASSERT_EQ(host.chunks.size(), 10u);
        for (std::size_t i = 0; i < 10; ++i) {
            EXPECT_EQ(host.chunks[i].front(), i);
        }
        EXPECT_FALSE(process->pendingScheduled());
    }
}

TEST_F(LocalProcessQueueTest, ChunksQueuedDuringAPassAreDeliveredByIt) {
    process->enqueueReceivedData(chunkOf(10, 1));
    host.onData = [&] {
        if (host.chunks.size() == 1) {
            EXPECT_TRUE(process->enqueueReceivedData(chunkOf(10, 2)));
        }
    };
    executor.runOne();
    EXPECT_EQ(host.chunks.size(), 2u);
    EXPECT_EQ(executor.pending(), 0u);
}

TEST_F(LocalProcessQueueTest, AStalledHostQueuesTrickledBytesInFewChunks) {
    // A child writing a byte at a time to a host that does not get to run: the bytes join the
    // newest chunk once many chunks wait, so the queue's cost stays with its bytes.
    const std::size_t count = LocalProcess::pendingChunkMergeThreshold + 5000;
    for (std::size_t i = 0; i < count; ++i) {
        process->enqueueReceivedData(chunkOf(1, static_cast<std::uint8_t>(i % 251)));
    }
    EXPECT_EQ(process->pendingChunkCount(), LocalProcess::pendingChunkMergeThreshold);
    EXPECT_EQ(process->pendingBytes(), count);
    executor.runOne();
    std::vector<std::uint8_t> delivered;
    for (const auto& chunk : host.chunks) {
        delivered.insert(delivered.end(), chunk.begin(), chunk.end());
    }
    ASSERT_EQ(delivered.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(delivered[i], i % 251) << "at byte " << i;
    }
}

TEST_F(LocalProcessQueueTest, AHostThatEndsTheProcessDuringDeliveryGetsNothingMore) {
    process->enqueueReceivedData(chunkOf(10, 1));
    process->enqueueReceivedData(chunkOf(10, 2));
    host.onData = [&] { process.reset(); };
    executor.runOne();
    EXPECT_EQ(host.chunks.size(), 1u);
}

TEST_F(LocalProcessQueueTest, PassesOfAnEndedProcessDoNothing) {
    process->enqueueReceivedData(chunkOf(10, 1));
    process.reset();
    ASSERT_EQ(executor.pending(), 1u);
    executor.runOne();
    EXPECT_TRUE(host.chunks.empty());
}

} // namespace
} // namespace veldatron
