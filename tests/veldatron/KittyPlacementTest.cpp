// Kitty placements in a real Terminal whose host inserts images as a host without a view does
// (row slices of 10 x 20 pixel cells): virtual and real placements, crop, offsets and the cursor,
// deletion in every mode, and placements relative to a parent.

#include "KittyGraphicsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// The RGBA payload of a picture of w x h pixels, every pixel its own value.
std::string picture(int w, int h) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < w * h; ++i) {
        bytes.insert(bytes.end(), {uint8_t(i), uint8_t(i >> 8), uint8_t(7), uint8_t(255)});
    }
    return base64(bytes);
}

std::string transmit(uint32_t id, int w, int h) {
    return kitty("a=t,q=1,i=" + std::to_string(id) + ",s=" + std::to_string(w) +
                     ",v=" + std::to_string(h),
                 picture(w, h));
}

std::string cup(int row, int col) {
    return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
}

// "row:col i/p": every kitty slice of the screen's ring rows, top first.
std::vector<std::string> slices(Buffer& buffer) {
    std::vector<std::string> out;
    buffer.forEachImage([&](int index, const std::shared_ptr<TerminalImage>& image) {
        const auto& kitty = static_cast<const KittyPlacementImage&>(*image);
        out.push_back(std::to_string(index) + ":" + std::to_string(kitty.col()) + " " +
                      (kitty.kittyIsKitty ? std::to_string(kitty.kittyImageId.value_or(0)) + "/" +
                                                std::to_string(kitty.kittyPlacementId.value_or(0))
                                          : std::string("picture")));
    });
    return out;
}

// "i/p": the placements that still have a slice in either screen or a record.
std::set<std::string> placements(Terminal& terminal) {
    std::set<std::string> out;
    for (Buffer* buffer : {&terminal.normalBuffer(), &terminal.altBuffer()}) {
        for (const std::string& slice : slices(*buffer)) {
            out.insert(slice.substr(slice.find(' ') + 1));
        }
    }
    for (const auto& [key, record] : terminal.kittyGraphicsState().placementsByKey) {
        out.insert(std::to_string(key.imageId) + "/" + std::to_string(key.placementId));
    }
    return out;
}

std::set<uint32_t> stored(Terminal& terminal) {
    std::set<uint32_t> ids;
    for (const auto& [id, image] : terminal.kittyGraphicsState().imagesById) {
        ids.insert(id);
    }
    return ids;
}

struct Fixture : TerminalFixture {
    explicit Fixture(const TerminalSpec& spec = {.cols = 20, .rows = 6, .scrollback = 10})
        : TerminalFixture(spec) {
        host.cellSize = CellSize{10, 20};
        host.insertImages = true;
        takeCalls();
    }
};

// ---- Placements -----------------------------------------------------------------------------

TEST(KittyPlacement, VirtualPlacementsAreRecordsOnly) {
    Fixture t({.cols = 20, .rows = 6, .scrollback = 200});
    t.feed(std::string(105, '\n') + cup(4, 3));
    ASSERT_EQ(t.terminal.buffer().yBase(), 100);
    t.feed(transmit(1, 2, 2) + kitty("a=p,i=1,U=1,c=10,r=2") + kitty("a=p,i=1,U=1,X=50"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1;OK\\x1b\\\\\\x1b_Gi=1;OK\\x1b\\\\")
        << "no p= though placement ids were given out";
    const auto& records = t.terminal.kittyGraphicsState().placementsByKey;
    ASSERT_EQ(records.size(), 2u);
    const KittyPlacementRecord& first = records.at({1, 1});
    EXPECT_EQ(first.col, 3);
    EXPECT_EQ(first.row, 104);
    EXPECT_EQ(first.cols, 10);
    EXPECT_EQ(first.rows, 2);
    EXPECT_TRUE(first.isVirtual);
    EXPECT_EQ(records.at({1, 2}).pixelOffsetX, 9) << "X within the cell width";
    EXPECT_EQ(t.cursor(), "3,4");
    EXPECT_TRUE(t.takeCalls().empty()) << "the host is not called";
    EXPECT_TRUE(slices(t.terminal.buffer()).empty());
}

TEST(KittyPlacement, CropsOfTheImage) {
    struct Case {
        const char* crop;
        int width;
        int height;
        int firstPixel; // the index of the source pixel that comes first
    };
    const Case cases[] = {
        {"x=10,y=10", 10, 10, 10 * 20 + 10},
        {"x=-5,w=100", 20, 20, 0},
        {"w=4,h=3", 4, 3, 0},
        {"x=19,y=19,w=5", 1, 1, 19 * 20 + 19},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crop);
        Fixture t;
        t.feed(transmit(1, 20, 20) + kitty(std::string("a=p,i=1,") + c.crop));
        ASSERT_EQ(t.host.bitmaps.size(), 1u);
        const RgbaImage& shown = t.host.bitmaps[0];
        EXPECT_EQ(shown.width, c.width);
        EXPECT_EQ(shown.height, c.height);
        EXPECT_EQ(shown.bytes[0], uint8_t(c.firstPixel));
        EXPECT_EQ(shown.bytes[1], uint8_t(c.firstPixel >> 8));
    }
    Fixture t;
    t.feed(transmit(1, 20, 20) + kitty("a=p,i=1,x=20"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1;EINVAL: bad crop\\x1b\\\\");
    t.feed(kitty("a=t,i=2,f=100,q=1", base64(encodePng(samplePicture(4, 4)).value())) +
           kitty("a=p,i=2,x=1,y=1"));
    ASSERT_EQ(t.host.bitmaps.size(), 1u) << "a cropped PNG is decoded and shown as a bitmap";
    EXPECT_EQ(t.host.bitmaps[0].width, 3);
    // A PNG whose header is sound but whose pixel data is not: stored, yet it cannot be cropped.
    std::vector<uint8_t> broken = encodePng(samplePicture(4, 4)).value();
    const std::string_view idat = "IDAT";
    const auto data = std::search(broken.begin(), broken.end(), idat.begin(), idat.end()) + 4;
    ASSERT_LT(data + 2, broken.end());
    data[0] ^= 0x5A;
    data[1] ^= 0x5A;
    t.takeReplies();
    t.feed(kitty("a=t,i=3,f=100,q=1", base64(broken)) + kitty("a=p,i=3,x=1"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=3;ENOTSUP: cannot crop png\\x1b\\\\");
}

TEST(KittyPlacement, TheCursorAfterTheDisplay) {
    struct Case {
        const char* name;
        std::string control;
        std::string cursor;
        int rowsWithSlices;
    };
    // A 100 x 50 picture, cells 10 x 20, shown at column 2 of row 1.
    const Case cases[] = {
        {"its own size", "", "12,4", 3},
        {"c alone keeps the aspect ratio", "c=4", "6,2", 1},
        {"r alone", "r=2", "10,3", 2},
        {"c and r", "c=3,r=1", "5,2", 1},
        {"C=1 leaves the cursor", "C=1,c=3", "2,1", 1},
        {"a pixel offset adds to the span", "Y=19,X=9", "13,5", 3},
        {"wider than the screen", "c=50", "19,5", 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture t;
        t.feed(transmit(1, 100, 50) + cup(1, 2) + kitty("a=p,q=1,i=1,p=3," + c.control));
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_EQ(int(slices(t.terminal.buffer()).size()), c.rowsWithSlices);
        ASSERT_FALSE(t.terminal.kittyPlacementContext()) << "the context is gone after the call";
    }
}

TEST(KittyPlacement, RowSlicesCarryThePlacementAndARecordIsWritten) {
    Fixture t;
    t.feed(transmit(7, 30, 50) + cup(1, 2) + kitty("a=p,q=1,i=7,p=4,z=-3"));
    EXPECT_THAT(slices(t.terminal.buffer()),
                ::testing::ElementsAre("1:2 7/4", "2:2 7/4", "3:2 7/4"));
    const KittyPlacementRecord& record = t.terminal.kittyGraphicsState().placementsByKey.at({7, 4});
    EXPECT_EQ(record.col, 2);
    EXPECT_EQ(record.row, 1);
    EXPECT_EQ(record.cols, 3);
    EXPECT_EQ(record.rows, 3);
    EXPECT_EQ(record.zIndex, -3);
    EXPECT_FALSE(record.isVirtual);
    // The same placement again replaces it.
    t.feed(cup(0, 0) + kitty("a=p,q=1,i=7,p=4"));
    EXPECT_THAT(slices(t.terminal.buffer()),
                ::testing::ElementsAre("0:0 7/4", "1:0 7/4", "2:0 7/4"));
    // Scrolling carries the slices into the scrollback.
    t.feed(cup(5, 0) + std::string(4, '\n'));
    EXPECT_THAT(slices(t.terminal.buffer()),
                ::testing::ElementsAre("0:0 7/4", "1:0 7/4", "2:0 7/4"));
    EXPECT_EQ(t.terminal.buffer().yBase(), 4);
}

TEST(KittyPlacement, WithoutAHostTheCursorStillMoves) {
    Terminal terminal(nullptr, optionsFor({.cols = 20, .rows = 4, .scrollback = 10}));
    terminal.feed(transmit(1, 4, 4) + cup(2, 3) + kitty("a=p,i=1,c=4,r=2"));
    EXPECT_EQ(cursorText(terminal), "7,3") << "two index steps scroll once at the bottom";
    EXPECT_EQ(terminal.buffer().yBase(), 1);
}

TEST(KittyPlacement, HugeSizesAreBoundedByWhatTheScreenKeeps) {
    Fixture t;
    t.feed(transmit(1, 2, 2) + kitty("a=p,i=1,p=1,q=1,c=9223372036854775807,r=1000000000"));
    EXPECT_EQ(t.cursor(), "19,5");
    EXPECT_LE(int(slices(t.terminal.buffer()).size()), 16) << "rows + scrollback";
    Terminal bare(nullptr, optionsFor({.cols = 20, .rows = 4, .scrollback = 10}));
    bare.feed(transmit(1, 2, 2) + kitty("a=p,i=1,c=9223372036854775807,r=9223372036854775807"));
    EXPECT_EQ(cursorText(bare), "19,3");
}

TEST(KittyPlacement, ThePlacementsOfTheAlternateScreenEndWithIt) {
    Fixture t;
    // Image 2 is sent on the alternate screen: the switch frees images that nothing uses.
    t.feed(transmit(1, 10, 20) + kitty("a=p,q=1,i=1,p=1") + "\x1b[?1049h" + transmit(2, 10, 20) +
           kitty("a=p,q=1,i=2,p=1"));
    EXPECT_EQ(placements(t.terminal), (std::set<std::string>{"1/1", "2/1"}));
    EXPECT_TRUE(t.terminal.kittyGraphicsState().placementsByKey.at({2, 1}).isAlternateBuffer);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(placements(t.terminal), (std::set<std::string>{"1/1"}));
    EXPECT_EQ(stored(t.terminal), (std::set<uint32_t>{1})) << "image 2 is used by nothing";
    t.feed("\x1b[?1049h");
    EXPECT_EQ(placements(t.terminal), (std::set<std::string>{"1/1"})) << "the normal one stays";
}

// ---- Deletion -------------------------------------------------------------------------------

// Image 1 (number 7) at 0,0 (2 x 1 cells), image 2 at 5,1 (2 x 2, z=5), image 3 at 10,4
// (1 x 1, z=-1) and as a virtual placement at 15,0; image 4 not placed.
Fixture& scene(Fixture& t) {
    t.feed(kitty("a=t,q=1,I=7,s=20,v=20", picture(20, 20)) + transmit(2, 20, 40) +
           transmit(3, 10, 20) + transmit(4, 1, 1));
    t.feed(cup(0, 0) + kitty("a=p,q=1,i=1,p=1,C=1") + cup(1, 5) + kitty("a=p,q=1,i=2,p=1,z=5,C=1") +
           cup(4, 10) + kitty("a=p,q=1,i=3,p=2,z=-1,C=1") + cup(0, 15) +
           kitty("a=p,q=1,i=3,p=9,U=1") + cup(2, 6));
    return t;
}

TEST(KittyDeletion, EachModeDeletesItsSelection) {
    struct Case {
        const char* control;
        std::set<std::string> kept;
        std::set<uint32_t> stored;
    };
    const std::set<uint32_t> all = {1, 2, 3, 4};
    const Case cases[] = {
        {"a=d", {}, all},
        {"a=d,d=A", {}, {}},
        {"a=d,d=i,i=3", {"1/1", "2/1"}, all},
        {"a=d,d=I,i=3", {"1/1", "2/1"}, {1, 2}},
        {"a=d,d=i,i=3,p=9", {"1/1", "2/1", "3/2"}, all},
        {"a=d,d=n,I=7", {"2/1", "3/2", "3/9"}, all},
        {"a=d,d=N,I=8", {"1/1", "2/1", "3/2", "3/9"}, {1, 2, 3}},
        {"a=d,d=c", {"1/1", "3/2", "3/9"}, all},
        {"a=d,d=p,x=6,y=2", {"1/1", "3/2", "3/9"}, all},
        {"a=d,d=q,x=6,y=2,z=5", {"1/1", "3/2", "3/9"}, all},
        {"a=d,d=q,x=6,y=2,z=4", {"1/1", "2/1", "3/2", "3/9"}, all},
        {"a=d,d=x,x=11", {"1/1", "2/1", "3/9"}, all},
        {"a=d,d=y,y=1", {"2/1", "3/2"}, all},
        {"a=d,d=Z,z=5", {"1/1", "3/2", "3/9"}, {1, 3}},
        {"a=d,d=r,x=3,y=2", {"1/1"}, all},
        {"a=d,d=r,x=3,y=99999999999", {"1/1", "2/1"}, all},
        {"a=d,d=1", {"1/1", "2/1", "3/2", "3/9"}, {1, 2, 3}},
        {"a=d,d=I,i=99", {"1/1", "2/1", "3/2", "3/9"}, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        Fixture t;
        scene(t);
        ASSERT_EQ(placements(t.terminal), (std::set<std::string>{"1/1", "2/1", "3/2", "3/9"}));
        t.feed(kitty(c.control));
        EXPECT_EQ(placements(t.terminal), c.kept);
        EXPECT_EQ(stored(t.terminal), c.stored);
    }
}

TEST(KittyDeletion, DeletedPlacementsCanBeShownAgain) {
    Fixture t;
    scene(t);
    t.feed(kitty("a=d") + kitty("a=p,q=1,i=2,p=1"));
    EXPECT_EQ(placements(t.terminal), (std::set<std::string>{"2/1"}));
}

TEST(KittyDeletion, ScrollbackSlicesOfAPlacementOnTheScreenStay) {
    Fixture t;
    // Six rows tall from row 2: the screen scrolls three times under it.
    t.feed(transmit(1, 10, 120) + cup(2, 0) + kitty("a=p,q=1,i=1,p=1,C=1"));
    ASSERT_EQ(t.terminal.buffer().yBase(), 3);
    t.feed(kitty("a=d"));
    EXPECT_THAT(slices(t.terminal.buffer()), ::testing::ElementsAre("2:0 1/1"))
        << "the slice above the screen stays";
}

// ---- Relative placements --------------------------------------------------------------------

TEST(KittyRelative, AChildSitsAtItsParentsPositionPlusTheOffset) {
    struct Case {
        std::string offsets;
        std::string firstSlice;
    };
    const Case cases[] = {{"H=2,V=3", "3:12 2/1"}, {"H=-20,V=0", "0:0 2/1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsets);
        Fixture t({.cols = 30, .rows = 10, .scrollback = 10});
        t.feed(transmit(1, 10, 20) + transmit(2, 10, 20) + cup(0, 10) + kitty("a=p,q=1,i=1,p=1") +
               cup(9, 1) + kitty("a=p,q=1,i=2,p=1,P=1,Q=1," + c.offsets));
        const std::vector<std::string> all = slices(t.terminal.buffer());
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[1], c.firstSlice);
        EXPECT_EQ(t.cursor(), "1,9") << "the cursor returns";
    }
}

TEST(KittyRelative, ParentErrors) {
    Fixture t;
    t.feed(transmit(1, 10, 20) + kitty("a=p,q=1,i=1,p=1"));
    t.feed(kitty("a=p,i=1,p=2,P=9,Q=9"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1;ENOPARENT: parent placement not found\\x1b\\\\");
    t.feed(kitty("a=p,i=1,p=3,P=1"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1,p=3;OK\\x1b\\\\") << "P without Q: at the cursor";
    t.feed("\x1b[?1049h" + kitty("a=p,i=1,p=4,P=1,Q=1"));
    EXPECT_EQ(t.takeReplies(),
              "\\x1b_Gi=1;ENOPARENT: parent placement not in current buffer\\x1b\\\\");
    t.feed("\x1b[?1049l" + cup(0, 0) + kitty("a=p,i=1,p=5,P=1,Q=1,V=-1"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1;EINVAL: placement out of range\\x1b\\\\");
    t.feed(kitty("a=p,i=1,p=5,P=1,Q=1,V=-9223372036854775808,H=9223372036854775807"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=1;EINVAL: placement out of range\\x1b\\\\");
}

TEST(KittyRelative, AChainFollowsAndCyclesStayPut) {
    Fixture t({.cols = 30, .rows = 6, .scrollback = 0});
    // A parent on row 2, a child one row up and two rows tall, a grandchild right of the child.
    t.feed(transmit(1, 10, 20) + transmit(2, 10, 40) + cup(2, 0) + kitty("a=p,q=1,i=1,p=1") +
           kitty("a=p,q=1,i=2,p=1,P=1,Q=1,V=-1,H=3") + kitty("a=p,q=1,i=1,p=2,P=2,Q=1,H=5"));
    EXPECT_THAT(slices(t.terminal.buffer()),
                ::testing::ElementsAre("1:3 2/1", "1:8 1/2", "2:0 1/1", "2:3 2/1"));
    // Every slice moves up with its row; when the top row leaves the screen, the child's slice
    // that would stand above row 0 goes, and the grandchild follows the child's record.
    t.feed(cup(5, 0) + "\n");
    EXPECT_THAT(slices(t.terminal.buffer()),
                ::testing::ElementsAre("0:3 2/1", "0:8 1/2", "1:0 1/1", "1:3 2/1"));
    t.feed("\n");
    EXPECT_THAT(slices(t.terminal.buffer()), ::testing::ElementsAre("0:0 1/1"));
    const auto& records = t.terminal.kittyGraphicsState().placementsByKey;
    EXPECT_EQ(records.at({2, 1}).row, -1);
    EXPECT_EQ(records.at({1, 2}).row, -1);

    // Two placements made relative to each other resolve to nothing and stay where they are.
    Fixture c({.cols = 30, .rows = 6, .scrollback = 0});
    c.feed(transmit(1, 10, 20) + transmit(2, 10, 20) + cup(3, 0) + kitty("a=p,q=1,i=1,p=1") +
           kitty("a=p,q=1,i=2,p=1,P=1,Q=1,H=4") + kitty("a=p,q=1,i=1,p=1,P=2,Q=1,H=4"));
    const std::vector<std::string> before = slices(c.terminal.buffer());
    ASSERT_EQ(before.size(), 2u);
    c.feed(cup(5, 0) + "\n");
    EXPECT_EQ(slices(c.terminal.buffer()).size(), 2u) << "moved up with their rows only";
    EXPECT_EQ(c.terminal.kittyGraphicsState().placementsByKey.size(), 2u);
}

} // namespace
