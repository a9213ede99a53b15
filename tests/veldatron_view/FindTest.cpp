// Find: next and previous with wrap round, the search options, scrolling to a match, the find
// bar and the find commands.

#include "SelectionService.h"
#include "TerminalFindBarView.h"
#include "ViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// 100 lines "line N", with "needle" on lines 10, 60 and 90 and "needles" on line 30.
std::string haystack() {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += "line " + std::to_string(i);
        if (i == 10 || i == 60 || i == 90) {
            text += " needle";
        } else if (i == 30) {
            text += " needles";
        }
        text += "\r\n";
    }
    return text;
}

class Find : public ::testing::Test {
protected:
    Find() { f.feed(haystack()); }

    // The row of the selection's start, or -1 without a selection.
    int64_t selectedRow() {
        return f.view().selectionActive() ? f.view().selection().start().row : -1;
    }
    TerminalView& view() { return f.view(); }

    ViewFixture f;
};

TEST_F(Find, NextAndPreviousWrapRound) {
    const QString needle = QStringLiteral("needle");
    std::vector<int64_t> rows;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(view().findNext(needle, {}, false));
        rows.push_back(selectedRow());
    }
    EXPECT_EQ(rows, (std::vector<int64_t>{10, 30, 60, 90, 10}));
    EXPECT_EQ(view().getSelection(), needle);
    EXPECT_TRUE(view().findPrevious(needle, {}, false));
    EXPECT_EQ(selectedRow(), 90) << "back round the top";
    EXPECT_EQ(view().searchMatchSummary(needle, {}, 100), (std::pair(4, 4)));

    EXPECT_FALSE(view().findNext(QStringLiteral("hay"), {}, false));
    EXPECT_FALSE(view().selectionActive()) << "no match ends the selection";
    view().clearSearch();
    EXPECT_EQ(view().searchMatchSummary(needle, {}, 100), (std::pair(0, 4)));
}

TEST_F(Find, OptionsNarrowTheMatches) {
    struct Case {
        const char* name;
        const char* term;
        SearchOptions options;
        std::vector<int64_t> rows;
    };
    const Case cases[] = {
        {"whole word skips needles", "needle", {.wholeWord = true}, {10, 60, 90, 10}},
        {"case sensitive", "NEEDLE", {.caseSensitive = true}, {-1}},
        {"not case sensitive", "NEEDLE", {}, {10, 30}},
        {"regular expression", "line [36]0 ", {.regex = true}, {30, 60, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view().clearSearch();
        std::vector<int64_t> rows;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            view().findNext(QString::fromUtf8(c.term), c.options, false);
            rows.push_back(selectedRow());
        }
        EXPECT_EQ(rows, c.rows);
    }
}

TEST_F(Find, AMatchIsScrolledIntoTheMiddleOfTheScreen) {
    const Buffer& buffer = f.terminal().buffer();
    view().scrollTo(0);
    view().findNext(QStringLiteral("line 50"), {}, true);
    EXPECT_EQ(buffer.yDisp(), 50 - 12);
    view().findNext(QStringLiteral("line 45"), {}, true);
    EXPECT_EQ(buffer.yDisp(), 50 - 12) << "already on screen";
    view().findPrevious(QStringLiteral("line 2"), {}, true);
    EXPECT_EQ(selectedRow(), 29);
    EXPECT_EQ(buffer.yDisp(), 29 - 12);
    view().findNext(QStringLiteral("line 0"), {}, true);
    EXPECT_EQ(buffer.yDisp(), 0) << "as near the middle as the top allows";
}

TEST(FindSelection, AMatchRunsOnOverTheRowEnd) {
    ViewFixture f;
    f.feed("\x1b[1;80Habc");
    EXPECT_TRUE(f.view().findNext(QStringLiteral("abc"), {}, false));
    EXPECT_EQ(f.view().selection().start(), (Position{79, 0}));
    EXPECT_EQ(f.view().selection().end(), (Position{2, 1}));
}

class FindBar : public ::testing::Test {
protected:
    FindBar() {
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(&f.view());
        m_window.resize(700, 500);
        m_window.show();
        QApplication::setActiveWindow(&m_window);
        f.view().setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
        f.feed(haystack());
        TerminalView::findPasteboard().clear();
    }
    ~FindBar() override { f.view().setParent(nullptr); }

    TerminalView& view() { return f.view(); }
    QLineEdit* field() { return view().findBar()->searchField(); }

    QWidget m_window;
    ViewFixture f;
};

TEST_F(FindBar, TypingSearchesAtOnceAndEscapeGivesTheFocusBack) {
    view().findChild<QAction*>(QStringLiteral("findAction"))->trigger();
    ASSERT_NE(view().findBar(), nullptr);
    EXPECT_TRUE(view().findBar()->isVisible());
    EXPECT_TRUE(field()->hasFocus());

    QTest::keyClicks(field(), QStringLiteral("needle"));
    EXPECT_EQ(view().selection().start().row, 10);
    QTest::keyClick(field(), Qt::Key_Return);
    EXPECT_EQ(view().selection().start().row, 30);
    QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view().selection().start().row, 10);
    view().findBar()->wholeWordButton()->setChecked(true);
    EXPECT_EQ(view().selection().start().row, 60) << "a new option searches again";
    QTest::keyClick(field(), Qt::Key_Return);
    EXPECT_EQ(view().selection().start().row, 90);
    EXPECT_EQ(TerminalView::findPasteboard(), QStringLiteral("needle"));

    field()->selectAll();
    QTest::keyClick(field(), Qt::Key_Backspace);
    EXPECT_FALSE(view().selectionActive()) << "an empty field clears the search";

    QTest::keyClick(field(), Qt::Key_Escape);
    EXPECT_FALSE(view().findBar()->isVisible());
    EXPECT_TRUE(view().hasFocus());
}

TEST_F(FindBar, FindNextWithTheBarHiddenSearchesTheFindString) {
    view().performFindPanelAction(2);
    EXPECT_FALSE(view().selectionActive()) << "nothing to search for yet";

    view().showFindBar(false);
    view().findBar()->wholeWordButton()->setChecked(true);
    view().performFindPanelAction(11);
    EXPECT_FALSE(view().findBar()->isVisible());
    TerminalView::findPasteboard() = QStringLiteral("needle");
    view().performFindPanelAction(2);
    EXPECT_EQ(view().selection().start().row, 10);
    view().performFindPanelAction(2);
    EXPECT_EQ(view().selection().start().row, 60) << "with the hidden bar's toggles";

    // Use selection for find, with nothing selected: the bar shows the find string.
    view().selectNone();
    view().selection().setSelection({0, 5}, {0, 5});
    view().selectNone();
    view().performFindPanelAction(7);
    EXPECT_TRUE(view().findBar()->isVisible());
    EXPECT_EQ(field()->text(), QStringLiteral("needle"));
}

} // namespace
