// The frame pass and its row cache: which rows a change rebuilds, what the pass hands the
// encoder in each buffering mode, and the kitty textures it prunes.

#include "FakeGpuDevice.h"
#include "FramePass.h"
#include "ImageTextures.h"
#include "StubRendererHost.h"

#include "Buffer.h"
#include "Terminal.h"

#include <gtest/gtest.h>

#include <set>

using namespace veldatron;
using veldatron::testing::StubRendererHost;

namespace {

// Row records that name their row (one background cell whose x is the row), and the rows built.
class CountingContent : public IFrameContent {
public:
    std::vector<int> built;
    std::optional<std::pair<int, int>> cursorRows;
    VirtualPlacements lastPlacements;

    RowDrawData buildRowDrawData(int row, Buffer&, int, double, double, double, double, double,
                                 const VirtualPlacements& placements) override
    {
        built.push_back(row);
        lastPlacements = placements;
        RowDrawData data;
        data.backgroundCells.push_back({{float(row), 0}, {1, 1}, {1, 1, 1, 1}});
        return data;
    }
    void buildCursorDrawData(double, double, double, double, double, int, int firstRow,
                             int lastRow, DrawData&) override
    {
        cursorRows = std::pair(firstRow, lastRow);
    }
};

class FramePassTest : public ::testing::Test {
public:
    FramePassTest() : m_host(10, 6, 20) {}

    // The rows the next pass rebuilds.
    std::vector<int> rebuilt()
    {
        m_content.built.clear();
        m_last = m_pass.buildDrawDataPass(1.0);
        return m_content.built;
    }

    void feed(const char* text) { m_host.term().feed(std::string_view(text)); }

    StubRendererHost m_host;
    FakeGpuDevice m_device;
    ImageTextures m_images{m_device};
    CountingContent m_content;
    FramePass m_pass{m_host, m_device, m_images, m_content};
    DrawData m_last;
};

const std::vector<int> kAllRows = {0, 1, 2, 3, 4, 5};

TEST_F(FramePassTest, ChangesRebuildTheRowsTheyTouch)
{
    struct Case {
        const char* name;
        std::function<void(FramePassTest&)> change;
        std::vector<int> rebuilt;
    };
    const Case cases[] = {
        {"nothing changed", [](FramePassTest&) {}, {}},
        {"a cell written on one row", [](FramePassTest& t) { t.feed("\x1b[3;1HX"); }, {2}},
        {"the view's dirty range, both bounds included",
         [](FramePassTest& t) { t.m_host.dirtyRange = {{1, 3}}; }, {1, 2, 3}},
        {"a dirty range clamped to the screen",
         [](FramePassTest& t) { t.m_host.dirtyRange = {{4, 40}}; }, {4, 5}},
        {"a dirty range off the screen", [](FramePassTest& t) { t.m_host.dirtyRange = {{9, 12}}; },
         {}},
        {"a selection change (all visible rows dirty)",
         [](FramePassTest& t) { t.m_host.dirtyRange = {{0, 5}}; }, kAllRows},
        {"a colour change (all visible rows dirty)",
         [](FramePassTest& t) { t.m_host.dirtyRange = {{0, 5}}; }, kAllRows},
        {"the view resized", [](FramePassTest& t) { t.m_host.size.rwidth() += 1; }, kAllRows},
        {"the font changed",
         [](FramePassTest& t) {
             QFont font = t.m_host.fonts.normal;
             font.setPixelSize(15);
             t.m_host.fonts = FontSet::from(font);
         },
         kAllRows},
        {"the bidi policy changed",
         [](FramePassTest& t) { t.m_host.bidiPolicy = BidiHostPolicy::legacyLeftToRight; },
         kAllRows},
        {"a line replaced by another object",
         [](FramePassTest& t) {
             Buffer& buffer = t.m_host.term().buffer();
             buffer.lines().set(4, BufferLine::create(buffer.cols()));
         },
         {4}},
        {"a kitty image stored",
         [](FramePassTest& t) {
             auto& kitty = t.m_host.term().kittyGraphicsState();
             kitty.imagesById[5] = {KittyGraphicsPayload::rgba({1, 1, {1, 2, 3, 4}}), 4, 0};
             kitty.nextImageId = 6;
         },
         kAllRows},
        {"that image replaced under its id",
         [](FramePassTest& t) {
             auto& kitty = t.m_host.term().kittyGraphicsState();
             kitty.imagesById[5] = {KittyGraphicsPayload::rgba({1, 1, {9, 9, 9, 9}}), 4, 0};
         },
         {}},
        {"that image deleted",
         [](FramePassTest& t) { t.m_host.term().kittyGraphicsState().imagesById.erase(5); },
         kAllRows},
    };
    EXPECT_EQ(rebuilt(), kAllRows) << "the first frame builds every row";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change(*this);
        EXPECT_EQ(rebuilt(), c.rebuilt);
        EXPECT_EQ(m_last.rows.size(), 6u);
        EXPECT_FALSE(m_host.dirtyRange.has_value()) << "every pass takes the dirty range";
    }
}

TEST_F(FramePassTest, ScrollingRebuildsTheWindowAndForgetsRowsOutsideIt)
{
    feed("\x1b[6;1H\n\n\n"); // three lines into the scrollback
    rebuilt();
    Buffer& buffer = m_host.term().buffer();
    ASSERT_EQ(buffer.yDisp(), 3);
    buffer.setYDisp(1);
    EXPECT_EQ(rebuilt(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    std::set<int> cached;
    for (const auto& [row, entry] : m_pass.rowCache())
        cached.insert(row);
    EXPECT_EQ(cached, (std::set<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(m_content.cursorRows, std::pair(1, 6));
}

TEST_F(FramePassTest, BufferingModeSwitchKeepsRowDataAndRemakesOnlyBuffers)
{
    rebuilt();
    ASSERT_EQ(m_last.rows.size(), 6u);
    ASSERT_FALSE(m_last.frame);

    m_host.bufferingMode = MetalBufferingMode::perFrameAggregated;
    EXPECT_EQ(rebuilt(), std::vector<int>{});
    ASSERT_TRUE(m_last.frame);
    EXPECT_TRUE(m_last.rows.empty());
    ASSERT_EQ(m_last.frame->backgroundCells.size(), 6u);
    EXPECT_EQ(m_last.frame->backgroundCells[5].position.x, 5.0f) << "rows in order, top first";
    for (const auto& [row, entry] : m_pass.rowCache())
        EXPECT_FALSE(entry.buffers.has_value());

    const int allocations = m_device.allocationCount();
    m_host.bufferingMode = MetalBufferingMode::perRowPersistent;
    EXPECT_EQ(rebuilt(), std::vector<int>{});
    EXPECT_EQ(m_last.rows.size(), 6u);
    EXPECT_EQ(m_device.allocationCount(), allocations + 6);
}

TEST_F(FramePassTest, RowBufferTheDeviceRefusesLeavesThatListUndrawn)
{
    m_device.refuseAllocation(1);
    rebuilt();
    ASSERT_EQ(m_last.rows.size(), 6u);
    EXPECT_FALSE(m_last.rows[0].backgroundBuffer);
    EXPECT_EQ(m_last.rows[0].backgroundCount, 0);
    EXPECT_EQ(m_last.rows[1].backgroundCount, 1);
    EXPECT_EQ(m_last.rows[1].backgroundBuffer->length(), sizeof(ColorCell));
}

TEST_F(FramePassTest, ShortScreenAndMissingViewStateGiveWhatIsThere)
{
    StubRendererHost host(10, 6);
    CountingContent content;
    FramePass pass(host, m_device, m_images, content);
    Buffer& buffer = host.term().buffer();
    buffer.lines().setCount(4);
    pass.buildDrawDataPass(1.0);
    EXPECT_EQ(content.built, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(content.cursorRows, std::pair(0, 3));

    content.built.clear();
    host.cell.reset();
    host.dirtyRange = {{0, 0}};
    const DrawData empty = pass.buildDrawDataPass(1.0);
    EXPECT_TRUE(empty.rows.empty() && !empty.frame && empty.cursorColorVertices.empty());
    EXPECT_TRUE(host.dirtyRange.has_value()) << "an empty pass leaves the dirty range";
    EXPECT_TRUE(content.built.empty());
}

TEST_F(FramePassTest, OnlyVirtualPlacementsOfTheShownScreenReachTheRows)
{
    auto& kitty = m_host.term().kittyGraphicsState();
    KittyPlacementRecord shown;
    shown.imageId = 3;
    shown.placementId = 1;
    shown.isVirtual = true;
    KittyPlacementRecord otherScreen = shown;
    otherScreen.placementId = 2;
    otherScreen.isAlternateBuffer = true;
    KittyPlacementRecord direct = shown;
    direct.placementId = 3;
    direct.isVirtual = false;
    for (const auto& record : {shown, otherScreen, direct})
        kitty.placementsByKey[record.key()] = record;
    rebuilt();
    ASSERT_EQ(m_content.lastPlacements.size(), 1u);
    ASSERT_EQ(m_content.lastPlacements[3].size(), 1u);
    EXPECT_EQ(m_content.lastPlacements[3][0].placementId, 1u);
}

TEST_F(FramePassTest, DeletedKittyImageLosesItsTextureAtTheNextPass)
{
    auto& kitty = m_host.term().kittyGraphicsState();
    kitty.imagesById[4] = {KittyGraphicsPayload::rgba({1, 1, {1, 2, 3, 4}}), 4, 0};
    ASSERT_TRUE(m_images.kittyTexture(4, kitty));
    rebuilt();
    EXPECT_EQ(m_images.kittyTextureCount(), 1u);
    kitty.imagesById.erase(4);
    rebuilt();
    EXPECT_EQ(m_images.kittyTextureCount(), 0u);
}

} // namespace
