#include "BufferPool.h"
#include "FakeGpuDevice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace veldatron {
namespace {

TEST(BufferPool, LengthsRoundToPowerOfTwoClassesFrom4096)
{
    const struct {
        std::size_t length, expected;
    } cases[] = {{1, 4096}, {4096, 4096}, {4097, 8192}, {10000, 16384}, {4800, 8192},
                 {16384, 16384}, {16385, 32768}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(BufferPool::sizeClass(c.length), c.expected);
    }
}

TEST(BufferPool, PooledBufferHoldsTheRecordsAndBelongsToTheFrame)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    pool->beginFrame();
    EXPECT_FALSE(pool->makeBuffer(std::vector<TextCell>{}));
    EXPECT_TRUE(pool->frameBuffers().empty());
    EXPECT_FALSE(pool->commit());

    std::vector<TextCell> cells(100);
    cells[99].color = {1, 0, 0, 1};
    auto buffer = pool->makeBuffer(cells);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->length(), 8192u);
    const auto& bytes = FakeGpuDevice::bytes(*buffer);
    EXPECT_EQ(std::memcmp(bytes.data(), cells.data(), 4800), 0);
    EXPECT_EQ(pool->frameBuffers().size(), 1u);
}

TEST(BufferPool, FrameBuffersReturnOnlyWhenTheFrameCompletes)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    pool->beginFrame();
    std::vector<ColorCell> cells(10);
    auto first = pool->makeBuffer(cells);
    auto completion = pool->commit();
    ASSERT_TRUE(completion);

    // The next frame starts before the GPU finished the first: it must get a new buffer.
    pool->beginFrame();
    auto second = pool->makeBuffer(cells);
    EXPECT_NE(first, second);
    EXPECT_EQ(pool->availableCount(4096), 0u);

    completion();
    EXPECT_EQ(pool->availableCount(4096), 1u);
    pool->beginFrame();
    EXPECT_EQ(pool->makeBuffer(cells), first);
    EXPECT_EQ(device.allocationCount(), 2);
}

TEST(BufferPool, DequeueTakesTheLatestFreeBufferThenMakesANewOne)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    auto freeBuffer = device.makeBuffer(4096, GpuBufferUsage::streamDraw);
    pool->recycle({freeBuffer});
    EXPECT_EQ(pool->dequeue(4096), freeBuffer);
    auto fresh = pool->dequeue(4096);
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh, freeBuffer);
    EXPECT_EQ(pool->availableCount(4096), 0u);
}

TEST(BufferPool, KeepsAtMostFourFreeBuffersPerLength)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    std::vector<std::shared_ptr<GpuBuffer>> buffers;
    for (int i = 0; i < 5; ++i)
        buffers.push_back(device.makeBuffer(8192, GpuBufferUsage::streamDraw));
    buffers.push_back(device.makeBuffer(4096, GpuBufferUsage::streamDraw));
    pool->recycle(buffers);
    buffers.clear();
    EXPECT_EQ(pool->availableCount(8192), 4u);
    EXPECT_EQ(pool->availableCount(4096), 1u);
    EXPECT_EQ(device.liveBufferCount(), 5);
}

TEST(BufferPool, CompletionAfterThePoolIsGoneReleasesTheBuffers)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    pool->beginFrame();
    pool->makeBuffer(std::vector<ColorVertex>(6));
    auto completion = pool->commit();
    pool.reset();
    EXPECT_EQ(device.liveBufferCount(), 1);
    completion();
    completion = nullptr;
    EXPECT_EQ(device.liveBufferCount(), 0);
}

TEST(BufferPool, RefusedBufferSkipsTheDraw)
{
    FakeGpuDevice device;
    auto pool = std::make_shared<BufferPool>(device);
    device.refuseAllAllocations(true);
    pool->beginFrame();
    EXPECT_FALSE(pool->makeBuffer(std::vector<ColorCell>(3)));
    EXPECT_TRUE(pool->frameBuffers().empty());
}

TEST(ImageDrawBuffers, OneExactBufferPerDrawWithVertices)
{
    FakeGpuDevice device;
    auto texture = device.makeTexture(GpuPixelFormat::rgba8, 2, 2);
    ImageDraw empty{texture, {}};
    ImageDraw quad{texture, {}};
    appendQuad(quad.vertices, {0, 0, 4, 4}, {0, 0, 1, 1}, {1, 1, 1, 1});
    auto result = makeImageDrawBuffers(device, {empty, quad});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].vertexCount, 6);
    EXPECT_EQ(result[0].buffer->length(), 32u * 6);
    EXPECT_EQ(result[0].texture, texture);
    EXPECT_TRUE(makeImageDrawBuffers(device, {}).empty());

    device.refuseAllAllocations(true);
    EXPECT_TRUE(makeImageDrawBuffers(device, {quad}).empty());
}

} // namespace
} // namespace veldatron
