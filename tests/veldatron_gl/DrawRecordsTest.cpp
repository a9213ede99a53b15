#include "DrawRecords.h"
#include "FakeGpuDevice.h"
#include "MetalError.h"

#include <gtest/gtest.h>

#include <cstring>

namespace veldatron {
namespace {

TEST(DrawRecords, ArraysAreContiguousRecordsWithoutGaps)
{
    std::vector<TextCell> cells(100);
    cells[1].color = {0.25f, 0.5f, 0.75f, 1};
    ASSERT_EQ(cells.size() * sizeof(TextCell), 4800u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(cells.data());
    float red = 0;
    std::memcpy(&red, bytes + 48 + 32, sizeof red);
    EXPECT_EQ(red, 0.25f);
}

TEST(DrawRecords, RectangleCornersComeInTwoTriangles)
{
    std::vector<ColorVertex> vertices;
    appendQuad(vertices, {10, 20, 30, 50}, {1, 0, 0, 1});
    const std::vector<Float2> expected = {{10, 20}, {30, 20}, {10, 50},
                                          {30, 20}, {30, 50}, {10, 50}};
    ASSERT_EQ(vertices.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(vertices[i].position, expected[i]) << "corner " << i;

    std::vector<GlyphVertex> textured;
    appendQuad(textured, {10, 20, 30, 50}, {0.1f, 0.2f, 0.3f, 0.4f}, {1, 1, 1, 1});
    EXPECT_EQ(textured[4].texCoord, (Float2{0.3f, 0.4f}));
    EXPECT_EQ(textured[2].texCoord, (Float2{0.1f, 0.4f}));
}

TEST(MetalErrorText, PayloadFollowsTheFixedText)
{
    EXPECT_EQ(MetalError::pipelineCreationFailed("text/color/cell").description(),
              "Failed to create Metal pipeline: text/color/cell");
    EXPECT_EQ(MetalError::deviceUnavailable().description(), "No Metal device is available.");
    EXPECT_STREQ(MetalError::commandQueueUnavailable().what(),
                 "Failed to create Metal command queue.");
}

TEST(FakeGpuDevice, RefusesTheChosenAllocationAndKeepsUploadedBytes)
{
    FakeGpuDevice device;
    device.refuseAllocation(2);
    const uint8_t bytes[] = {1, 2, 3};
    auto first = device.makeBuffer(bytes, 3, GpuBufferUsage::staticDraw);
    auto second = device.makeBuffer(8, GpuBufferUsage::staticDraw);
    ASSERT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(FakeGpuDevice::bytes(*first), (std::vector<uint8_t>{1, 2, 3}));

    auto texture = device.makeTexture(GpuPixelFormat::r8, 4, 4);
    ASSERT_TRUE(texture);
    const uint8_t block[] = {9, 8, 0, 7, 6, 0};
    device.replaceRegion(*texture, 1, 2, 2, 2, block, 3);
    const auto& pixels = FakeGpuDevice::bytes(*texture);
    EXPECT_EQ(pixels[2 * 4 + 1], 9);
    EXPECT_EQ(pixels[3 * 4 + 2], 6);
    EXPECT_EQ(device.liveBufferCount(), 1);
    first.reset();
    EXPECT_EQ(device.liveBufferCount(), 0);
    EXPECT_FALSE(device.makeTexture(GpuPixelFormat::r8, 16385, 4));
}

} // namespace
} // namespace veldatron
