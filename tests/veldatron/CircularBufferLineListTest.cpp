#include "BufferFixture.h"
#include "CircularBufferLineList.h"
#include "DiagnosticsCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Log = std::vector<std::string>;

BufferLinePtr letter(char c) {
    BufferLinePtr line = BufferLine::create(1);
    line->set(0, CharData(Attribute(), c, 1));
    return line;
}

std::string name(const BufferLine& line) {
    return line.count() == 0 ? std::string("<none>") : line.debugDescription();
}

// A ring whose rows are one-letter rows and whose callbacks write to a log.
struct Ring {
    explicit Ring(int maxLength, std::string_view initial = "") : list(maxLength) {
        for (char c : initial) {
            list.push(letter(c));
        }
        list.makeEmpty = [this](int slot) {
            log.push_back("make " + std::to_string(slot));
            return letter('?');
        };
        list.onLineAttached = [this](BufferLine& line) { log.push_back("attach " + name(line)); };
        list.onLinePushed = [this](bool images) {
            log.push_back(images ? "pushed 1" : "pushed 0");
        };
        list.onLineRecycledWithImages = [this] { log.push_back("recycled with images"); };
    }

    // The lines in use, oldest first.
    std::string lines() {
        std::string text;
        for (int i = 0; i < list.count(); ++i) {
            text += name(list[i]);
        }
        return text;
    }

    CircularBufferLineList list;
    Log log;
};

} // namespace

// The ring's operations, each from a starting ring to the lines, start index and callbacks it
// leaves.
TEST(CircularBufferLineList, Operations) {
    struct Case {
        const char* name;
        int maxLength;
        const char* initial;
        std::function<void(Ring&)> op;
        std::string lines;
        int startIndex;
        Log log;
    };
    const Case cases[] = {
        {"push onto a full ring drops the oldest",
         3,
         "",
         [](Ring& r) {
             for (char c : std::string("ABCD")) {
                 r.list.push(letter(c));
             }
         },
         "BCD",
         1,
         {"attach A", "pushed 0", "attach B", "pushed 0", "attach C", "pushed 0", "attach D",
          "pushed 0"}},
        {"recycle turns the oldest into the newest",
         3,
         "ABC",
         [](Ring& r) { r.list.recycle(Attribute()); },
         std::string("BC\0", 3),
         1,
         {}},
        {"recycling a row with images tells the screen, which counts them",
         3,
         "ABC",
         [](Ring& r) {
             r.list[0].setImages(BufferLine::Images{});
             r.list.recycle(Attribute());
         },
         std::string("BC\0", 3),
         1,
         {"recycled with images"}},
        {"a recycler turns the oldest rows into the newest, round the end of the slots",
         3,
         "ABCD",
         [](Ring& r) {
             r.list[1].setImages(BufferLine::Images{});
             const Attribute background(Attribute::Color::defaultColor,
                                        Attribute::Color::ansi256(4));
             CircularBufferLineList::Recycler recycler(r.list, background);
             const BufferLine* first = recycler.recycle();
             EXPECT_EQ(first, &r.list[2]);
             EXPECT_EQ(r.list.startIndex(), 2) << "the ring follows row by row";
             const BufferLine* second = recycler.recycle();
             EXPECT_EQ(second, &r.list[2]);
             EXPECT_EQ(r.list[2][0], CharData(background, 0, 1));
         },
         std::string("D\0\0", 3),
         0,
         {"recycled with images"}},
        {"splice with room",
         6,
         "ABCD",
         [](Ring& r) {
             const BufferLinePtr items[] = {letter('X'), letter('Y')};
             r.list.splice(1, 1, items,
                           [&](int line) { r.log.push_back("change " + std::to_string(line)); });
         },
         "AXYCD",
         0,
         {"change 1", "change 2", "change 4", "change 3", "change 1", "attach X", "change 2",
          "attach Y"}},
        {"splice into a full ring",
         4,
         "ABCD",
         [](Ring& r) {
             const BufferLinePtr items[] = {letter('X')};
             r.list.splice(1, 0, items);
         },
         "XBCD",
         1,
         {"attach X"}},
        {"splice deleting only", 6, "ABCD", [](Ring& r) { r.list.splice(0, 2, {}); }, "CD", 0, {}},
        {"shift towards the oldest line",
         4,
         "ABCD",
         [](Ring& r) { EXPECT_TRUE(r.list.shiftElements(2, 2, -1)); },
         "ACDD",
         0,
         {}},
        {"shift towards the newest line",
         4,
         "ABCD",
         [](Ring& r) { EXPECT_TRUE(r.list.shiftElements(2, 2, 1)); },
         "BCCD",
         1,
         {}},
        {"shift past the count",
         6,
         "ABCD",
         [](Ring& r) { EXPECT_TRUE(r.list.shiftElements(2, 2, 1)); },
         "ABCCD",
         0,
         {}},
        {"trim", 5, "ABCD", [](Ring& r) { r.list.trimStart(3); }, "D", 3, {}},
        {"store", 5, "ABCD", [](Ring& r) { r.list.set(1, letter('Z')); }, "AZCD", 0, {"attach Z"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ring ring(c.maxLength, c.initial);
        c.op(ring);
        EXPECT_EQ(ring.lines(), c.lines);
        EXPECT_EQ(ring.list.startIndex(), c.startIndex);
        EXPECT_EQ(ring.log, c.log);
    }
}

TEST(CircularBufferLineList, RecycleClearsTheRowInPlace) {
    Ring ring(3, "ABC");
    BufferLinePtr oldest = ring.list.line(0);
    oldest->setIsWrapped(true);
    oldest->setSemanticMark(SemanticPromptKind::initial, 0, 1);
    oldest->setSemanticHardContinuationGroup(1);
    const Attribute background(Attribute::Color::defaultColor, Attribute::Color::ansi256(4));

    ring.list.recycle(background);
    EXPECT_EQ(ring.list.line(2), oldest) << "the same object is now the newest line";
    EXPECT_EQ((*oldest)[0], CharData(background, 0, 1));
    EXPECT_FALSE(oldest->isWrapped());
    EXPECT_TRUE(oldest->semanticMarks().empty());
    EXPECT_EQ(oldest->semanticHardContinuationGroup(), std::nullopt);
    EXPECT_EQ(oldest->recycleGeneration(), 1u);

    // A ring that is not full has no oldest row to give.
    Ring partial(4, "ABC");
    partial.list.recycle(background);
    EXPECT_EQ(partial.lines(), "ABC");
    EXPECT_TRUE(partial.log.empty());
}

TEST(CircularBufferLineList, ReadingAnEmptySlotMaterialisesItOnce) {
    Ring ring(4);
    BufferLine& first = ring.list[0];
    BufferLine& again = ring.list[0];
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(ring.list.count(), 0);
    EXPECT_EQ(ring.log, (Log{"make 0"})) << "materialising attaches nothing";
}

TEST(CircularBufferLineList, AConstReadNeverMaterialisesARow) {
    Ring ring(4, "ABC");
    ring.log.clear();
    const BufferLinePtr taken = ring.list.takeLine(1);
    const CircularBufferLineList& lines = ring.list;
    EXPECT_EQ(name(lines.row(0)), "A");
    EXPECT_EQ(name(lines.row(2)), "C");
    // An empty slot, a slot beyond the lines in use and indexes outside the slots all read the
    // same blank row, and the ring stays as it was.
    const BufferLine& blank = lines.row(1);
    EXPECT_EQ(blank.count(), 0);
    EXPECT_EQ(&lines.row(3), &blank);
    EXPECT_EQ(&lines.row(-1), &blank);
    EXPECT_EQ(&lines.row(4), &blank);
    EXPECT_EQ(lines.peek(1), nullptr);
    EXPECT_TRUE(ring.log.empty());
}

TEST(CircularBufferLineList, RaisingTheMaximumRepacksInLogicalOrder) {
    Ring ring(4, "XYABCD");
    ASSERT_EQ(ring.list.startIndex(), 2);
    ring.list.setMaxLength(6);
    EXPECT_EQ(ring.list.startIndex(), 0);
    EXPECT_EQ(ring.list.slotCount(), 6);
    EXPECT_EQ(ring.lines(), "ABCD");
    // The two new slots are empty: reading them asks the factory.
    ring.list[4];
    ring.list[5];
    EXPECT_EQ(ring.log, (Log{"make 4", "make 5"}));
}

TEST(CircularBufferLineList, RefusedShiftsPrintWhyAndChangeNothing) {
    DiagnosticsCapture diagnostics;
    Ring ring(6, "ABCD");
    EXPECT_FALSE(ring.list.shiftElements(1, 2, -1));
    EXPECT_FALSE(ring.list.shiftElements(1, -1, 1));
    EXPECT_FALSE(ring.list.shiftElements(-1, 1, 1));
    EXPECT_FALSE(ring.list.shiftElements(4, 1, 1));
    EXPECT_EQ(ring.lines(), "ABCD");
    EXPECT_EQ(diagnostics.captured(),
              (Log{"Assertion at start=1 count=2 offset=-1: start+offset <= 0",
                   "Assertion at start=1 count=-1 offset=1: count < 0",
                   "Assertion at start=-1 count=1 offset=1: start < 0",
                   "Assertion at start=4 count=1 offset=1: start >= "
                   "self.count"}));
}

// Requests outside the lines in use are clipped or read a row that stands for nothing; none
// reaches memory outside the ring.
TEST(CircularBufferLineList, OutOfRangeRequestsAreHarmless) {
    Ring ring(5, "ABCD");
    EXPECT_EQ(ring.list[-1].count(), 0);
    ring.list[-1].set(0, CharData(Attribute(), 'Q', 1));
    EXPECT_EQ(ring.list[-1].count(), 0);
    EXPECT_EQ(ring.list.peek(7), nullptr);

    ring.list.trimStart(9);
    EXPECT_EQ(ring.list.count(), 0);

    Ring spliced(5, "ABCD");
    const BufferLinePtr items[] = {letter('X')};
    spliced.list.splice(9, 9, items);
    EXPECT_EQ(spliced.lines(), "ABCDX");
    EXPECT_TRUE(spliced.list.shiftElements(2, 100, -1));
    EXPECT_EQ(spliced.lines(), "ACDXX");

    // Without a factory an empty slot has nothing to give.
    CircularBufferLineList bare(3);
    EXPECT_EQ(bare[0].count(), 0);
    CircularBufferLineList none(0);
    none.push(letter('A'));
    EXPECT_EQ(none.count(), 0);
    EXPECT_EQ(none[0].count(), 0);
    none.recycle(Attribute());
    none.splice(0, 0, items);
    EXPECT_EQ(none.count(), 0);
}

// Slots are made as lines arrive: a ring sized for the largest scrollback costs nothing up front,
// and a ring that grows past its first slots keeps its lines in order and stays a ring.
TEST(CircularBufferLineList, SlotsGrowWithTheLines) {
    CircularBufferLineList huge(Buffer::maxRingLength);
    EXPECT_LE(huge.slotCount(), CircularBufferLineList::eagerSlots);
    huge.push(letter('A'));
    EXPECT_EQ(huge.count(), 1);

    const int maxLength = CircularBufferLineList::eagerSlots * 2 + 5;
    CircularBufferLineList ring(maxLength);
    // Trim on the way so that the slots wrap before they grow.
    for (int i = 0; i < 100; ++i) {
        ring.push(letter('a'));
    }
    ring.trimStart(100);
    const int total = maxLength + 1000;
    for (int i = 0; i < total; ++i) {
        BufferLinePtr line = BufferLine::create(1);
        line->set(0, CharData(Attribute(), 0x1000 + i, 1));
        ring.push(line);
    }
    EXPECT_EQ(ring.slotCount(), maxLength);
    EXPECT_EQ(ring.count(), maxLength);
    EXPECT_TRUE(ring.isFull());
    for (int i = 0; i < maxLength; ++i) {
        ASSERT_EQ(ring[i][0].code(), 0x1000 + (total - maxLength) + i) << "line " << i;
    }
    ring.recycle(Attribute());
    EXPECT_EQ(ring[0][0].code(), 0x1000 + (total - maxLength) + 1);
}

namespace {

// Rotations move rows inside the ring without callbacks, also across the end of the slots (a
// full ring that has wrapped) and at line 0.
TEST(CircularBufferLineList, RotationsMoveRowsWithoutCallbacks) {
    struct Case {
        const char* name;
        int first;
        int last;
        int by;
        std::string lines;
    };
    const Case cases[] = {
        {"one towards the start", 1, 4, -1, "ACDEBF"},
        {"one towards the end", 0, 3, 1, "DABCEF"},
        {"two towards the end", 0, 4, 2, "DEABCF"},
        {"three towards the start", 1, 5, -3, "AEFBCD"},
        {"more than the range is the remainder", 2, 4, 7, "ABECDF"},
        {"the whole ring", 0, 5, -2, "CDEFAB"},
        {"a range past the lines in use is cut to them", 4, 9, 1, "ABCDFE"},
        {"nothing to rotate", 3, 3, 1, "ABCDEF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int pushedBefore : {0, 4}) {
            // Pushing 4 rows onto a full ring of 6 leaves its lines wrapped round the slots.
            Ring ring(6, std::string("wxyz").substr(0, size_t(pushedBefore)) + "ABCDEF");
            ring.log.clear();
            ring.list.rotateLines(c.first, c.last, c.by);
            EXPECT_EQ(ring.lines(), c.lines) << "pushed before: " << pushedBefore;
            EXPECT_EQ(ring.log, Log{});
        }
    }
}

TEST(CircularBufferLineList, ATakenRowLeavesAnEmptySlot) {
    Ring ring(4, "ABC");
    const BufferLinePtr taken = ring.list.takeLine(1);
    ASSERT_TRUE(taken);
    EXPECT_EQ(name(*taken), "B");
    EXPECT_EQ(ring.list.peek(1), nullptr);
    EXPECT_EQ(ring.list.takeLine(5), nullptr);
    EXPECT_EQ(ring.lines(), "A?C") << "an empty slot is made on the next read";
}

} // namespace

namespace {

// Resetting a line makes it a copy of the template: in place, without a callback, when only the
// ring holds the row; a row someone else still holds (a renderer cache, the prompt tracker) is
// left as it was and a new row takes its place.
TEST(CircularBufferLineList, ResetLineReusesOnlyARowNobodyElseHolds) {
    const BufferLinePtr blank = letter('_');
    blank->setIsWrapped(true);
    for (int pushedBefore : {0, 4}) {
        SCOPED_TRACE(pushedBefore);
        Ring ring(6, std::string("wxyz").substr(0, size_t(pushedBefore)) + "ABCDEF");
        BufferLine* const kept = &ring.list[2];
        const uint64_t keptSerial = kept->serial();
        ring.log.clear();
        ring.list.resetLine(2, *blank);
        EXPECT_EQ(&ring.list[2], kept);
        EXPECT_NE(kept->serial(), keptSerial) << "caches must not take it for the old line";
        EXPECT_TRUE(kept->isWrapped());
        EXPECT_EQ(kept->generation(), 0u);
        EXPECT_EQ(ring.log, Log{});

        const BufferLinePtr held = ring.list.line(4);
        ring.list.resetLine(4, *blank);
        EXPECT_NE(&ring.list[4], held.get());
        EXPECT_EQ(name(*held), "E");
        EXPECT_EQ(ring.log, Log{"attach _"});
        EXPECT_EQ(ring.lines(), "AB_D_F");

        ring.list.resetLine(6, *blank);
        ring.list.resetLine(-1, *blank);
        EXPECT_EQ(ring.lines(), "AB_D_F") << "outside the lines in use nothing happens";
    }
}

// Rotations by a few places over longer ranges (a region's line feed, inserted and deleted
// lines) in both directions and across the end of the slots keep every row exactly once.
TEST(CircularBufferLineList, RotationsOfLongerRangesKeepEveryRowOnce) {
    const std::string letters = "ABCDEFGHIJKLMNOPQRST";
    for (int pushedBefore : {0, 7, 15}) {
        for (int by : {-1, 1, -3, 3, 7, -15}) {
            SCOPED_TRACE(std::to_string(pushedBefore) + " pushed before, by " + std::to_string(by));
            Ring ring(20, letters.substr(0, size_t(pushedBefore)));
            for (char c : letters) {
                ring.list.push(letter(c));
            }
            std::vector<const BufferLine*> before;
            for (int i = 0; i < 20; ++i) {
                before.push_back(&ring.list[i]);
            }
            ring.list.rotateLines(2, 17, by);
            // Lines 2..17, 16 of them: the one at 2 + (16 - by) % 16 becomes the first.
            std::string expected = letters;
            std::rotate(expected.begin() + 2, expected.begin() + 2 + (16 - by) % 16,
                        expected.begin() + 18);
            EXPECT_EQ(ring.lines(), expected);
            for (const BufferLine* row : before) {
                EXPECT_EQ(row->refCount(), 1u);
            }
        }
    }
}

} // namespace
