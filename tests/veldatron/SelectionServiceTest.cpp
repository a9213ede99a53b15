#include "SelectionService.h"
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Mode = SelectionService::SelectionMode;

// A terminal with a selection service and a count of the host's selectionChanged calls.
struct SelectionFixture {
    explicit SelectionFixture(const TerminalSpec& spec = {})
        : t(spec), selection(SelectionService::create(t.terminal)) {}

    void feed(std::string_view bytes) { t.feed(bytes); }
    // selectionChanged calls since the last call.
    int takeNotifications() {
        const int n = int(std::count(t.host.calls.begin(), t.host.calls.end(), "selectionChanged"));
        t.host.calls.clear();
        return n;
    }
    Buffer& buffer() { return t.terminal.buffer(); }
    // "start-end" as "col,row-col,row".
    std::string span() const {
        const auto text = [](const Position& p) {
            return std::to_string(p.col) + "," + std::to_string(p.row);
        };
        return text(selection->start()) + "-" + text(selection->end());
    }

    TerminalFixture t;
    std::shared_ptr<SelectionService> selection;
};

} // namespace

TEST(SelectionService, StartsInactiveWithAPivot) {
    SelectionFixture f;
    EXPECT_FALSE(f.selection->active());
    EXPECT_EQ(f.selection->pivot(), (Position{0, 0}));
    EXPECT_EQ(f.selection->selectionMode(), Mode::character);
    EXPECT_EQ(f.selection->debugDescription(),
              "[Selection (active=false, start=col=0 row=0 end=col=0 row=0 hasSR=false "
              "pivot=col=0 row=0)]");
    f.selection->setActive(false);
    EXPECT_EQ(f.takeNotifications(), 0);
    EXPECT_FALSE(f.selection->pivot()) << "writing false drops the pivot even without a change";
}

// What each operation leaves of the state, from a word selection with a pivot and rows being
// selected.
TEST(SelectionService, StateAfterEachOperation) {
    struct Case {
        const char* name;
        std::function<void(SelectionService&, Buffer&)> op;
        bool active;
        Mode mode;
        bool wordAnchor;
        bool rowAnchor;
        bool selectingRows;
        bool pivot;
        int notifications;
    };
    const Case cases[] = {
        {"startSelection()", [](auto& s, auto&) { s.startSelection(); }, true, Mode::character,
         false, false, false, true, 1},
        {"startSelection(row, col)", [](auto& s, auto&) { s.startSelection(1, 2); }, true,
         Mode::character, false, false, false, true, 2},
        {"setSoftStart",
         [](auto& s, auto&) {
             s.setSoftStart(Position{1, 1});
         },
         true, Mode::word, true, false, true, true, 1},
        {"setSelection",
         [](auto& s, auto&) {
             s.setSelection({0, 0}, {3, 1});
         },
         true, Mode::word, true, false, true, true, 1},
        {"selectAll", [](auto& s, auto&) { s.selectAll(); }, true, Mode::word, true, false, true,
         true, 1},
        {"shiftExtend",
         [](auto& s, auto&) {
             s.shiftExtend(Position{4, 1});
         },
         true, Mode::word, true, false, true, true, 1},
        {"dragExtend",
         [](auto& s, auto&) {
             s.dragExtend(Position{4, 1});
         },
         true, Mode::word, true, false, true, true, 1},
        {"pivotExtend",
         [](auto& s, auto&) {
             s.pivotExtend(Position{4, 1});
         },
         true, Mode::word, true, false, true, true, 1},
        {"select(row)", [](auto& s, auto&) { s.select(1); }, true, Mode::row, false, true, true,
         true, 1},
        {"selectWordOrExpression",
         [](auto& s, auto& b) {
             s.selectWordOrExpression(Position{1, 1}, b);
         },
         true, Mode::word, true, false, false, true, 1},
        {"selectNone", [](auto& s, auto&) { s.selectNone(); }, false, Mode::character, false, false,
         false, false, 1},
        {"active = false", [](auto& s, auto&) { s.setActive(false); }, false, Mode::word, true,
         false, true, false, 1},
        {"cleared by a scroll", [](auto& s, auto&) { s.adjustForInPlaceScroll(0, 0, 1); }, false,
         Mode::character, false, false, false, false, 1},
        {"cleared by a column scroll",
         [](auto& s, auto&) { s.invalidateForColumnRestrictedScroll(0, 5, 0, 9); }, false,
         Mode::character, false, false, false, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionFixture f({.cols = 10, .rows = 3});
        f.feed("abc def\r\nghi jkl");
        f.selection->selectWordOrExpression({0, 0}, f.buffer());
        f.selection->setSelectingRows(true);
        f.selection->setPivot(Position{2, 0});
        f.takeNotifications();

        c.op(*f.selection, f.buffer());
        EXPECT_EQ(f.selection->active(), c.active);
        EXPECT_EQ(f.selection->selectionMode(), c.mode);
        EXPECT_EQ(f.selection->wordSelectionAnchor().has_value(), c.wordAnchor);
        EXPECT_EQ(f.selection->rowSelectionAnchor().has_value(), c.rowAnchor);
        EXPECT_EQ(f.selection->selectingRows(), c.selectingRows);
        EXPECT_EQ(f.selection->pivot().has_value(), c.pivot);
        EXPECT_EQ(f.takeNotifications(), c.notifications);
    }
}

TEST(SelectionService, InactiveSelectionIsLeftAlone) {
    SelectionFixture f;
    f.selection->selectNone();
    f.selection->adjustForInPlaceScroll(0, 10, 1);
    f.selection->invalidateForColumnRestrictedScroll(0, 10, 0, 10);
    EXPECT_EQ(f.takeNotifications(), 0);
    EXPECT_TRUE(f.selection->pivot()) << "selectNone on an inactive selection changes nothing";
}

TEST(SelectionService, DoubleClick) {
    struct Case {
        const char* name;
        std::string row;
        int64_t col;
        std::string span;
        std::string text;
    };
    const Case cases[] = {
        {"a word with digits and -._", "x foo-bar.baz_9 qux", 4, "2,0-15,0", "foo-bar.baz_9"},
        {"the - itself starts nothing", "x foo-bar qux", 5, "5,0-5,0", ""},
        {"a run of never-written cells", "ab", 10, "2,0-40,0", ""},
        {"spaces, not the never-written cells beyond", "ab   cd  ", 3, "2,0-5,0", "   "},
        {"printed spaces stop where writing stopped", "ab  ", 2, "2,0-4,0", "  "},
        {"letters and numbers beyond ASCII",
         "\xc3\xbc"
         "ber42 x",
         1, "0,0-6,0",
         "\xc3\xbc"
         "ber42"},
        {"an opening bracket to its match", "f(a, g(b), c) + 1", 1, "1,0-13,0", "(a, g(b), c)"},
        {"a closing bracket back to its match", "f(a, g(b), c) + 1", 12, "1,0-13,0",
         "(a, g(b), c)"},
        {"a closing bracket it does not expect is passed over", "(]x) y", 0, "0,0-4,0", "(]x)"},
        {"an unmatched bracket selects nothing", "(abc", 0, "0,0-0,0", ""},
        {"a column past the row reads as never written", "ab", 400, "2,0-40,0", ""},
        {"a character that starts no run", "a + b", 2, "2,0-2,0", ""},
        // The empty right half of a wide character belongs to the character.
        {"a word of wide characters", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e abc", 0, "0,0-6,0",
         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
        {"clicked on a wide character's right half", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e abc", 3,
         "0,0-6,0", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionFixture f({.cols = 40, .rows = 3});
        f.feed(c.row);
        f.selection->selectWordOrExpression({c.col, 0}, f.buffer());
        EXPECT_EQ(f.span(), c.span);
        EXPECT_EQ(f.selection->getSelectedText(), c.text);
        EXPECT_EQ(f.selection->selectionMode(), Mode::word);
        ASSERT_TRUE(f.selection->wordSelectionAnchor());
        EXPECT_EQ(f.selection->wordSelectionAnchor()->start, f.selection->start());
        EXPECT_EQ(f.selection->wordSelectionAnchor()->end, f.selection->end());
        EXPECT_EQ(f.selection->hasSelectionRange(), f.selection->start() != f.selection->end());
    }
}

TEST(SelectionService, BracketSearchBounds) {
    // Forwards: no further than the bottom of the visible rows.
    SelectionFixture f({.cols = 10, .rows = 3, .scrollback = 20});
    f.feed("(a\r\nb\r\nc\r\nd)\r\ne");
    ASSERT_EQ(f.t.scrollback(), (Rows{"(a", "b"}));
    f.buffer().setYDisp(0);
    f.selection->selectWordOrExpression({0, 0}, f.buffer());
    EXPECT_EQ(f.span(), "0,0-0,0") << "the \")\" is below the visible rows";
    f.buffer().setYDisp(1);
    f.selection->selectWordOrExpression({0, 0}, f.buffer());
    EXPECT_EQ(f.span(), "0,0-2,3");
    EXPECT_EQ(f.selection->getSelectedText(), "(a\nb\nc\nd)");

    // Backwards: up into the scrollback.
    f.buffer().setYDisp(f.buffer().yBase());
    f.selection->selectWordOrExpression({1, 3}, f.buffer());
    EXPECT_EQ(f.span(), "0,0-2,3");
}

TEST(SelectionService, DragAfterDoubleClickKeepsWords) {
    SelectionFixture f({.cols = 40, .rows = 3});
    f.feed("alpha beta gamma delta");
    f.selection->selectWordOrExpression({12, 0}, f.buffer());
    ASSERT_EQ(f.span(), "11,0-16,0");
    struct Step {
        int64_t col;
        std::string span;
    };
    const Step steps[] = {
        {13, "11,0-16,0"}, // inside the double-clicked word
        {19, "11,0-22,0"}, // right: to the end of the word under the pointer
        {2, "0,0-16,0"},   // left: from its start, keeping the double-clicked end
        {16, "11,0-16,0"}, // at the word's end
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.col);
        f.selection->dragExtend(Position{step.col, 0});
        EXPECT_EQ(f.span(), step.span);
    }
}

TEST(SelectionService, RowsSelectedByTripleClickAndDrag) {
    SelectionFixture f({.cols = 10, .rows = 8});
    f.selection->select(3);
    EXPECT_EQ(f.span(), "0,3-9,3");
    f.selection->dragExtend(Position{4, 1});
    EXPECT_EQ(f.span(), "0,1-9,3");
    f.selection->dragExtend(Position{0, 5});
    EXPECT_EQ(f.span(), "0,3-9,5");
    f.selection->shiftExtend(Position{7, 0});
    EXPECT_EQ(f.span(), "0,0-9,3");
    f.selection->pivotExtend(Position{7, 6});
    EXPECT_EQ(f.span(), "0,0-9,6") << "from the pivot's row (0)";
}

TEST(SelectionService, ShiftClick) {
    struct Case {
        const char* name;
        Position start;
        Position end;
        Position click;
        std::string span;
    };
    const Case cases[] = {
        {"beyond the anchor: the old end becomes the anchor", {5, 0}, {10, 0}, {2, 0}, "10,0-2,0"},
        {"on the near side: only the end moves", {5, 0}, {10, 0}, {7, 0}, "5,0-7,0"},
        {"backwards, beyond the anchor", {10, 0}, {5, 0}, {12, 0}, "5,0-12,0"},
        {"backwards, on the near side", {10, 0}, {5, 0}, {3, 0}, "10,0-3,0"},
        {"from an empty selection", {5, 0}, {5, 0}, {2, 1}, "5,0-2,1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionFixture f({.cols = 20, .rows = 3});
        f.selection->startSelection();
        f.selection->setStart(c.start);
        f.selection->setEnd(c.end);
        f.selection->shiftExtend(c.click);
        EXPECT_EQ(f.span(), c.span);
    }

    // In word mode the click extends to the word's boundary on its side.
    SelectionFixture f({.cols = 40, .rows = 3});
    f.feed("one two three four");
    f.selection->selectWordOrExpression({5, 0}, f.buffer());
    f.selection->shiftExtend(Position{10, 0});
    EXPECT_EQ(f.span(), "4,0-13,0");
    f.selection->shiftExtend(Position{1, 0});
    EXPECT_EQ(f.span(), "13,0-0,0");
}

TEST(SelectionService, PivotExtension) {
    SelectionFixture f({.cols = 40, .rows = 3});
    f.feed("one two three four");
    f.selection->pivotExtend(Position{5, 0});
    EXPECT_EQ(f.span(), "0,0-5,0") << "the initial pivot is (0, 0)";

    f.selection->setPivot(Position{8, 0});
    f.selection->pivotExtend(Position{2, 0});
    EXPECT_EQ(f.span(), "2,0-8,0") << "start never after end";
    f.selection->setSelectionMode(Mode::word);
    f.selection->pivotExtend(Position{15, 0});
    EXPECT_EQ(f.span(), "8,0-18,0");
    f.selection->pivotExtend(Position{5, 0});
    EXPECT_EQ(f.span(), "4,0-8,0");

    f.takeNotifications();
    f.selection->setPivot(std::nullopt);
    f.selection->pivotExtend(Position{1, 0});
    EXPECT_EQ(f.span(), "4,0-8,0");
    EXPECT_EQ(f.takeNotifications(), 0);
}

TEST(SelectionService, SelectAllReachesTheRingsCapacity) {
    SelectionFixture f({.cols = 10, .rows = 30, .scrollback = 1000});
    f.feed("first\x1b[30;1Hlast");
    f.selection->selectAll();
    EXPECT_EQ(f.span(), "0,0-9,1029");
    EXPECT_TRUE(f.selection->hasSelectionRange());
    EXPECT_EQ(f.selection->getSelectedText(), "first" + std::string(29, '\n') + "last");
}

TEST(SelectionService, SetSelectionClampsFromAbove) {
    SelectionFixture f({.cols = 80, .rows = 5});
    f.selection->setSelection({500, 2}, {3, -3});
    EXPECT_EQ(f.span(), "79,2-3,-3");
    f.selection->setSelection({0, 5000}, {-4, 1});
    EXPECT_EQ(f.span(), "0,4--4,1");
}

TEST(SelectionService, SelectedText) {
    SelectionFixture f({.cols = 10, .rows = 4});
    f.feed("0123456789abcdefghij\r\nxyz");
    f.selection->setSelection({3, 0}, {2, 2});
    EXPECT_EQ(f.selection->getSelectedText(), "3456789abcdefghij\nxy");
    f.selection->setSelection({2, 2}, {3, 0});
    EXPECT_EQ(f.selection->getSelectedText(), "3456789abcdefghij\nxy") << "backwards";

    // A row selected whole (an end on the last column) copies its last character, as the view
    // shows it selected.
    f.selection->select(0);
    EXPECT_EQ(f.selection->getSelectedText(), "0123456789");
    f.selection->setSelection({9, 1}, {4, 0});
    EXPECT_EQ(f.selection->getSelectedText(), "456789abcdefghij");
    f.selection->setSelection({8, 0}, {8, 0});
    EXPECT_EQ(f.selection->getSelectedText(), "");

    // The stored ends are read whether or not the selection is active; rows past the buffer
    // give nothing.
    f.selection->setActive(false);
    EXPECT_EQ(f.selection->getSelectedText(), "");
    f.selection->setStart({0, 4});
    f.selection->setEnd({5, 9});
    EXPECT_EQ(f.selection->getSelectedText(), "");
    f.selection->setStart({0, -2});
    EXPECT_EQ(f.selection->getSelectedText(), "");
}

// Text printed through the terminal comes back unchanged through select-all, row by row.
TEST(SelectionService, SelectAllReadsBackWhatWasPrinted) {
    const std::vector<std::string> printed = {
        "ASCII and punctuation ~!@#$%^&*()",
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe6\x96\x87 CJK wide",
        "cafe\xcc\x81 na\xc3\xafve a\xcc\x8a\xcc\x81 combining",
        "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb coder \xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f"
        "\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7 family",
        "flags \xf0\x9f\x87\xab\xf0\x9f\x87\xb7\xf0\x9f\x87\xaf\xf0\x9f\x87\xb5 end",
        "a\tb\tcd\te",
        "a line long enough to wrap onto the next row of the screen, and then some more",
        "",
        "last",
    };
    const std::vector<std::string> expected = {
        printed[0],
        printed[1],
        printed[2],
        printed[3],
        printed[4],
        "a" + std::string(7, ' ') + "b" + std::string(7, ' ') + "cd" + std::string(6, ' ') + "e",
        printed[6],
        printed[7],
        printed[8],
    };
    SelectionFixture f({.cols = 40, .rows = 6, .scrollback = 100});
    for (size_t i = 0; i < printed.size(); ++i) {
        f.feed(printed[i] + (i + 1 < printed.size() ? "\r\n" : ""));
    }
    f.selection->selectAll();
    std::string joined;
    for (size_t i = 0; i < expected.size(); ++i) {
        joined += expected[i] + (i + 1 < expected.size() ? "\n" : "");
    }
    EXPECT_EQ(f.selection->getSelectedText(), joined);
    EXPECT_EQ(f.t.terminal.getText(f.selection->start(), f.selection->end()), joined);
}

TEST(SelectionService, InPlaceScroll) {
    struct Case {
        const char* name;
        int64_t startRow;
        int64_t endRow;
        int64_t lines;
        bool active;
        std::string span;
        int notifications;
    };
    // Rows 5..20 scroll.
    const Case cases[] = {
        {"inside the region: moves with it", 10, 12, 1, true, "2,9-6,11", 1},
        {"moved out of the region's top: dropped", 5, 6, 1, false, "2,5-6,6", 1},
        {"straddling the region's top: dropped", 3, 8, 1, false, "2,3-6,8", 1},
        {"below the region: untouched", 30, 31, 1, true, "2,30-6,31", 0},
        {"moved down inside the region", 19, 10, -1, true, "2,20-6,11", 1},
        {"moved out of the region's bottom: dropped", 19, 20, -1, false, "2,19-6,20", 1},
        {"no movement", 10, 12, 0, true, "2,10-6,12", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionFixture f({.cols = 20, .rows = 40});
        f.selection->setSelection({2, c.startRow}, {6, c.endRow});
        f.takeNotifications();
        f.selection->adjustForInPlaceScroll(5, 20, c.lines);
        EXPECT_EQ(f.selection->active(), c.active);
        EXPECT_EQ(f.span(), c.span);
        EXPECT_EQ(f.takeNotifications(), c.notifications);
    }

    // Anchors inside the region move too; a pivot moves only when it is one of the ends.
    SelectionFixture f({.cols = 20, .rows = 40});
    f.feed("\x1b[11;1Hword here");
    f.selection->selectWordOrExpression({1, 10}, f.buffer());
    f.selection->setPivot(f.selection->end());
    f.selection->adjustForInPlaceScroll(5, 20, 2);
    EXPECT_EQ(f.span(), "0,8-4,8");
    EXPECT_EQ(f.selection->wordSelectionAnchor()->start, (Position{0, 8}));
    EXPECT_EQ(f.selection->pivot(), (Position{4, 8}));
    f.selection->setPivot(Position{1, 12});
    f.selection->select(9);
    f.selection->adjustForInPlaceScroll(5, 20, -3);
    EXPECT_EQ(f.selection->rowSelectionAnchor(), 12);
    EXPECT_EQ(f.selection->pivot(), (Position{1, 12}));
}

TEST(SelectionService, ColumnRestrictedScroll) {
    struct Case {
        const char* name;
        Position start;
        Position end;
        bool active;
    };
    // Rows 2..6, columns 3..8.
    const Case cases[] = {
        {"across the region", {0, 1}, {0, 4}, false},
        {"inside the region", {4, 3}, {6, 3}, false},
        {"above it", {0, 0}, {9, 1}, true},
        {"below it", {0, 7}, {9, 7}, true},
        {"on one row, left of the margins", {0, 4}, {2, 4}, true},
        {"on one row, right of the margins", {9, 4}, {9, 4}, true},
        {"on several rows, left of the margins", {0, 3}, {2, 4}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionFixture f({.cols = 10, .rows = 10});
        f.selection->setSelection(c.start, c.end);
        f.selection->invalidateForColumnRestrictedScroll(2, 6, 3, 8);
        EXPECT_EQ(f.selection->active(), c.active);
    }
}

// The terminal's own scrolls move its selections with the text.
TEST(SelectionService, FollowsTheTerminalsScrolls) {
    {
        // A scroll region: the selected text stays selected as the region scrolls.
        SelectionFixture f({.cols = 10, .rows = 8});
        f.feed(writeRows({"0", "1", "2", "3 three", "4 four", "5", "6", "7"}));
        f.feed("\x1b[2;7r");
        f.selection->setSelection({2, 3}, {6, 4});
        ASSERT_EQ(f.selection->getSelectedText(), "three\n4 four");
        f.feed("\x1b[7;1H\n\n");
        EXPECT_EQ(f.span(), "2,1-6,2");
        EXPECT_EQ(f.selection->getSelectedText(), "three\n4 four");
        f.feed("\n");
        EXPECT_FALSE(f.selection->active()) << "its first row left the region";
    }
    {
        // Insert and delete lines.
        SelectionFixture f({.cols = 10, .rows = 8});
        f.feed(writeRows({"0", "1", "2", "3 three", "4 four", "5", "6", "7"}));
        f.selection->setSelection({2, 3}, {6, 4});
        f.feed("\x1b[2;1H\x1b[2L");
        EXPECT_EQ(f.span(), "2,5-6,6");
        EXPECT_EQ(f.selection->getSelectedText(), "three\n4 four");
        f.feed("\x1b[1M");
        EXPECT_EQ(f.span(), "2,4-6,5");
        EXPECT_EQ(f.selection->getSelectedText(), "three\n4 four");
    }
    {
        // Left and right margins: a scroll of the columns between them drops a selection there.
        SelectionFixture f({.cols = 10, .rows = 6});
        f.feed(writeRows(sampleRows) + margins3To8);
        f.selection->setSelection({0, 2}, {0, 3});
        f.feed("\x1b[S");
        EXPECT_FALSE(f.selection->active());
    }
}

TEST(SelectionService, FollowsTextIntoAFullScrollback) {
    // Once the ring is full every line feed drops its oldest row: the selection moves up with its
    // text, also when the output is plain lines, and goes when its text leaves the ring.
    SelectionFixture f({.cols = 10, .rows = 3, .scrollback = 4});
    for (int i = 0; i < 7; ++i) {
        f.feed("line " + std::to_string(i) + "\r\n");
    }
    ASSERT_TRUE(f.buffer().lines().isFull());
    ASSERT_EQ(f.t.terminal.translateBufferLineToString(f.buffer(), 3, 0, -1), U"line 4");
    f.selection->setSelection({5, 3}, {6, 3});
    f.feed("x\r\ny\r\n");
    EXPECT_EQ(f.span(), "5,1-6,1");
    EXPECT_EQ(f.selection->getSelectedText(), "4");
    f.feed("more\r\n");
    EXPECT_EQ(f.selection->getSelectedText(), "4");
    f.feed("and more\r\n");
    EXPECT_FALSE(f.selection->active());

    // An inactive selection is not moved.
    f.selection->setSelection({0, 2}, {3, 2});
    f.selection->setActive(false);
    f.feed("p\r\nq\r\n");
    EXPECT_EQ(f.span(), "0,2-3,2");
}

TEST(SelectionService, TheTerminalDropsASelectionThatIsGone) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 2});
    {
        auto selection = SelectionService::create(t.terminal);
        selection->setSelection({0, 1}, {3, 1});
    }
    for (int i = 0; i < 8; ++i) {
        t.feed("text\r\n");
    }
    EXPECT_EQ(t.screen(), (Rows{"text", "text", ""}));
}
