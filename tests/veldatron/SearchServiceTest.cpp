#include "SearchService.h"
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// "term@col,row+size", or "none".
std::string describe(const std::optional<SearchResult>& result) {
    if (!result) {
        return "none";
    }
    return result->term + "@" + std::to_string(result->col) + "," + std::to_string(result->row) +
           "+" + std::to_string(result->size);
}

std::string describe(const std::vector<SearchResult>& results) {
    std::string out;
    for (const SearchResult& result : results) {
        out += (out.empty() ? "" : " ") + describe(result);
    }
    return out;
}

constexpr SearchOptions plain{};
constexpr SearchOptions caseSensitive{.caseSensitive = true};
constexpr SearchOptions regex{.regex = true};
constexpr SearchOptions wholeWord{.wholeWord = true};
constexpr SearchOptions regexWholeWord{.regex = true, .wholeWord = true};

// Wide and combined characters of the tables below.
const std::string nihongo = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e";       // three wide characters
const std::string te = "\xe3\x83\x86";                                    // one more
const std::string coder = "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb"; // one emoji, wide
const std::string eAcute = "e\xcc\x81";                                   // decomposed é

struct SearchFixture {
    explicit SearchFixture(const TerminalSpec& spec = {.cols = 20, .rows = 5})
        : t(spec), search(t.terminal) {}
    TerminalFixture t;
    SearchService search;
};

} // namespace

// The first match from the top of a screen printed from one text.
TEST(SearchService, Matches) {
    struct Case {
        const char* name;
        std::string printed;
        std::string term;
        SearchOptions options;
        std::string expected;
    };
    const Case cases[] = {
        {"a literal term", "hello world", "world", plain, "world@6,0+5"},
        {"case-insensitive by default", "Hello World", "world", plain, "world@6,0+5"},
        {"a case-sensitive miss", "Hello World", "world", caseSensitive, "none"},
        {"a case-sensitive hit", "world World", "World", caseSensitive, "World@6,0+5"},
        {"regular-expression characters are literal in plain text", "abc a.c", "a.c", plain,
         "a.c@4,0+3"},
        {"a regular expression reports the matched text", "abc 123 def", "[0-9]+", regex,
         "123@4,0+3"},
        {"a regular expression ignores case too", "xx ABC", "a.c", regex, "ABC@3,0+3"},
        {"an invalid regular expression", "a(b", "a(", regex, "none"},
        {"an empty match is skipped, the search goes on in the line", "bbb aaa", "a*", regex,
         "aaa@4,0+3"},
        {"a pattern that only matches empty text", "abc", "x?", regex, "none"},
        {"whole word: a later occurrence stands alone", "foobar foo", "foo", wholeWord,
         "foo@7,0+3"},
        {"whole word: \"_\" is a word character", "foo_bar", "foo", wholeWord, "none"},
        {"whole word: brackets are not", "(foo)", "foo", wholeWord, "foo@1,0+3"},
        {"whole word, regular expression", "concat cat", "c.t", regexWholeWord, "cat@7,0+3"},
        {"after wide characters", nihongo + te + "abc", te + "a", plain, te + "a@6,0+3"},
        {"wide characters themselves", "x" + nihongo + "y", "\xe6\x9c\xac\xe8\xaa\x9e", plain,
         "\xe6\x9c\xac\xe8\xaa\x9e@3,0+4"},
        {"after a combined character", "caf" + eAcute + " bar", "bar", plain, "bar@5,0+3"},
        {"a combined character", "caf" + eAcute + " bar", "f" + eAcute, plain,
         "f" + eAcute + "@2,0+2"},
        {"after an emoji sequence", coder + " code", "code", plain, "code@3,0+4"},
        {"after flags", "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa x", "x",
         plain, "x@5,0+1"},
        {"a plain term does not match part of a character", eAcute, "e", plain, "none"},
        {"a regular expression covers the whole character it touches", eAcute + "x", "e", regex,
         eAcute + "@0,0+1"},
        {"wide characters are word characters", nihongo + te, te, wholeWord, "none"},
        {"a wide character as a word", nihongo + " " + te, te, wholeWord, te + "@7,0+2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchFixture f;
        f.t.feed(c.printed);
        EXPECT_EQ(describe(f.search.findNext(c.term, c.options)), c.expected);
    }
}

TEST(SearchService, MatchesAcrossWrappedRows) {
    struct Case {
        const char* name;
        int cols;
        std::string printed;
        std::string term;
        std::string expected;
        Position selectionEnd;
    };
    const Case cases[] = {
        {"a word broken by the right margin",
         80,
         std::string(78, 'x') + "hello",
         "hello",
         "hello@78,0+5",
         {3, 1}},
        // The row ends in the wide character's empty half, and the next row starts with a wide
        // character: the character stays in the text.
        {"a row ending in a wide character",
         10,
         "abcd" + nihongo + te + "z",
         "\xe8\xaa\x9e" + te,
         "\xe8\xaa\x9e" + te + "@8,0+4",
         {2, 1}},
        {"the blank left where a wide character did not fit",
         10,
         "abcdefghi" + te + "z",
         "i" + te,
         "i" + te + "@8,0+4",
         {2, 1}},
        {"a match on the continuation row", 10, "0123456789abcdef", "cde", "cde@2,1+3", {5, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchFixture f({.cols = c.cols, .rows = 4});
        f.t.feed(c.printed);
        EXPECT_EQ(describe(f.search.findNext(c.term, plain)), c.expected);
        ASSERT_TRUE(f.search.lastSelection());
        EXPECT_EQ(f.search.lastSelection()->end, c.selectionEnd);
    }
}

TEST(SearchService, TheOldestRowIsSearchedWhenTheRowItContinuedIsGone) {
    SearchFixture f({.cols = 10, .rows = 3, .scrollback = 0});
    f.t.feed("0123456789ABCDEFGHIJ\r\nx\r\ny");
    ASSERT_EQ(f.t.screen(), (Rows{"~ABCDEFGHIJ", "x", "y"}));
    EXPECT_EQ(describe(f.search.findNext("CDE", plain)), "CDE@2,0+3");
    f.search.reset();
    EXPECT_EQ(describe(f.search.findPrevious("CDE", plain)), "CDE@2,0+3");
}

// Each case: a fresh screen, then find next (">") or previous ("<") steps, each from the match
// before it.
TEST(SearchService, StepsFromTheCurrentMatch) {
    struct Step {
        char direction;
        std::string term;
        std::string expected;
    };
    struct Case {
        const char* name;
        TerminalSpec spec;
        std::string printed;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"round and round",
         {.cols = 20, .rows = 6},
         writeRows({"needle one", "", "a needle", "", "", "needle end"}),
         {{'>', "needle", "needle@0,0+6"},
          {'>', "needle", "needle@2,2+6"},
          {'>', "needle", "needle@0,5+6"},
          {'>', "needle", "needle@0,0+6"}, // wrapped round to the top
          {'<', "needle", "needle@0,5+6"}, // and back round to the bottom
          {'<', "needle", "needle@2,2+6"},
          {'<', "needle", "needle@0,0+6"}}},
        {"without a current match, previous is the last match",
         {.cols = 20, .rows = 6},
         writeRows({"needle one", "", "a needle"}),
         {{'<', "needle", "needle@2,2+6"}}},
        {"a single occurrence is found again",
         {.cols = 20, .rows = 5},
         "\r\n  only here",
         {{'>', "only", "only@2,1+4"}, {'>', "only", "only@2,1+4"}, {'<', "only", "only@2,1+4"}}},
        {"previous wraps round within the last line",
         {.cols = 20, .rows = 3},
         "\r\n\r\nab ab",
         {{'<', "ab", "ab@3,2+2"}, {'<', "ab", "ab@0,2+2"}, {'<', "ab", "ab@3,2+2"}}},
        {"a changed term starts at the current match",
         {.cols = 20, .rows = 5},
         "foobar foo foob",
         {{'>', "foo", "foo@0,0+3"},
          {'>', "foob", "foob@0,0+4"}, // one more letter: the current match still matches
          {'>', "foob", "foob@11,0+4"},
          {'<', "foo", "foo@11,0+3"},
          {'<', "foo", "foo@7,0+3"}}},
        // Backwards, the last occurrence that ends before the current match begins: it may overlap
        // an earlier one, and an earlier one that overlaps the current match is not before it.
        {"overlapping occurrences",
         {.cols = 20, .rows = 5},
         "aaa",
         {{'<', "aa", "aa@1,0+2"}, {'<', "aa", "aa@1,0+2"}}},
        // The search goes on after the current match in the same logical line, also when the
        // first row ends in a blank where a wide character did not fit, which is not in the text,
        // or in a wide character, which is.
        {"on, inside a line that a wide character did not fit",
         {.cols = 10, .rows = 4},
         "abcdefghi" + te + "xx",
         {{'>', "x", "x@2,1+1"},
          {'>', "x", "x@3,1+1"},
          {'>', "x", "x@2,1+1"},
          {'<', "x", "x@3,1+1"}}},
        {"on, inside a line whose first row ends in a wide character",
         {.cols = 10, .rows = 4},
         "abcd" + nihongo + te + "xx",
         {{'>', "x", "x@2,1+1"}, {'>', "x", "x@3,1+1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchFixture f(c.spec);
        f.t.feed(c.printed);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(std::string(1, step.direction) + step.term);
            const auto result = step.direction == '>' ? f.search.findNext(step.term, plain)
                                                      : f.search.findPrevious(step.term, plain);
            EXPECT_EQ(describe(result), step.expected);
        }
    }
}

// "^", "$" and "\b" belong to the logical line, wherever in it a step starts: "P" begins a row
// but not a line, so stepping onto it and back must not disagree.
TEST(SearchService, RegularExpressionAnchorsAreTheWholeLine) {
    SearchFixture f({.cols = 7, .rows = 4});
    f.t.feed("abcdefgP>\r\nPq");
    EXPECT_EQ(describe(f.search.findAll("^P", regex, 10)), "P@0,2+1");
    EXPECT_EQ(describe(f.search.findAll("g$", regex, 10)), "");
    EXPECT_EQ(describe(f.search.findAll(">$", regex, 10)), ">@1,1+1");
    EXPECT_EQ(describe(f.search.findAll("\\bP", regex, 10)), "P@0,2+1");
    const struct {
        char direction;
        const char* term;
        const char* expected;
    } steps[] = {
        {'>', "P", "P@0,1+1"},       {'>', "^P", "P@0,2+1"}, {'<', "^P", "P@0,2+1"},
        {'>', "P", "P@0,2+1"},       {'>', "P", "P@0,1+1"},  {'<', "g$", "none"},
        {'<', "(?<=g)P", "P@0,1+1"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(1, step.direction) + step.term);
        const auto result = step.direction == '>' ? f.search.findNext(step.term, regex)
                                                  : f.search.findPrevious(step.term, regex);
        EXPECT_EQ(describe(result), step.expected);
    }
}

TEST(SearchService, FindAll) {
    SearchFixture f;
    f.t.feed("aaaaaaaaaa");
    const std::vector<SearchResult> all = f.search.findAll("a", plain, 100);
    ASSERT_EQ(all.size(), 10u);
    for (int64_t i = 0; i < 10; ++i) {
        EXPECT_EQ(all[size_t(i)].col, i);
    }
    EXPECT_EQ(f.search.findAll("a", plain, 3).size(), 3u);
    EXPECT_TRUE(f.search.findAll("a", plain, 0).empty());
    EXPECT_TRUE(f.search.findAll("", plain, 5).empty());
    EXPECT_FALSE(f.search.lastResult()) << "findAll leaves the state alone";
    EXPECT_FALSE(f.search.state().cachedSearchTerm);

    // A match that crosses rows; each match starts after the one before.
    SearchFixture wrapped({.cols = 5, .rows = 4});
    wrapped.t.feed("xx ab ab\r\naaa");
    EXPECT_EQ(describe(wrapped.search.findAll("ab a", plain, 10)), "ab a@3,0+4");
    EXPECT_EQ(describe(wrapped.search.findAll("aa", plain, 10)), "aa@0,2+2");
}

TEST(SearchService, StateOfTheService) {
    SearchFixture f;
    f.t.feed("one two");
    f.search.findNext("two", wholeWord);
    EXPECT_EQ(f.search.state().cachedSearchTerm, "two");
    EXPECT_EQ(f.search.state().lastSearchOptions, wholeWord);
    EXPECT_EQ(describe(f.search.lastResult()), "two@4,0+3");
    EXPECT_EQ(f.search.lastSelection(), (SearchSelection{{4, 0}, {7, 0}}));

    f.search.findNext("three", plain);
    EXPECT_FALSE(f.search.lastResult());
    EXPECT_FALSE(f.search.lastSelection());
    EXPECT_EQ(f.search.state().cachedSearchTerm, "three");

    f.search.findNext("two", plain);
    f.search.invalidate();
    EXPECT_FALSE(f.search.lastResult());
    EXPECT_FALSE(f.search.lastSelection());
    EXPECT_EQ(f.search.state().cachedSearchTerm, "two");

    f.search.findNext("", plain);
    EXPECT_FALSE(f.search.state().cachedSearchTerm);
    EXPECT_FALSE(f.search.state().lastSearchOptions);

    f.search.findNext("two", plain);
    f.search.reset();
    EXPECT_FALSE(f.search.state().cachedSearchTerm);
    EXPECT_FALSE(f.search.lastSelection());
}

TEST(SearchService, BadInputGivesNoResult) {
    SearchFixture f({.cols = 10, .rows = 3});
    EXPECT_EQ(describe(f.search.findNext("x", plain)), "none") << "an empty screen";
    EXPECT_EQ(describe(f.search.findPrevious("x", plain)), "none");
    f.t.feed("abc x");
    f.search.invalidate(); // as the view does when output arrives
    EXPECT_EQ(describe(f.search.findNext("", plain)), "none");
    EXPECT_EQ(describe(f.search.findNext("[", regex)), "none");
    EXPECT_EQ(describe(f.search.findPrevious("(?<", regex)), "none");
    EXPECT_TRUE(f.search.findAll("*", regex, 10).empty());

    // Selections a host made up, anywhere.
    const SearchSelection selections[] = {
        {{-5, -100}, {3, -99}},
        {{INT64_MAX, INT64_MAX}, {INT64_MAX, INT64_MAX}},
        {{INT64_MIN, 1}, {INT64_MIN, 2}},
        {{3, 1000}, {0, 2}},
    };
    for (const SearchSelection& selection : selections) {
        SCOPED_TRACE(selection.start.debugDescription());
        for (const std::string& term : {std::string("x"), std::string("abc x")}) {
            f.search.setLastSelection(selection);
            EXPECT_NE(describe(f.search.findNext("x", plain)), "none");
            f.search.setLastSelection(selection);
            EXPECT_NE(describe(f.search.findPrevious(term, plain)), "none");
        }
    }

    SearchLineCache cache(f.t.terminal);
    SearchEngine engine(f.t.terminal, cache);
    EXPECT_EQ(describe(engine.find("x", 0, 11, std::nullopt)), "none") << "past the row";
    EXPECT_EQ(describe(engine.find("x", -4, -7, std::nullopt)), "x@4,0+1");
    EXPECT_EQ(describe(engine.find("X", 1, 0, std::nullopt)), "none");
    EXPECT_EQ(describe(engine.find("ABC", 0, 0, std::nullopt)), "ABC@0,0+3")
        << "absent options: case-insensitive, plain";
}

TEST(SearchService, ARegularExpressionThatRunsTooLongGivesNoResult) {
    SearchFixture f({.cols = 60, .rows = 3});
    f.t.feed(std::string(40, 'a') + "!");
    SearchLineCache cache(f.t.terminal);
    SearchEngine engine(f.t.terminal, cache, std::chrono::milliseconds(20));
    const SearchOptions options{.regex = true};
    // Without a limit this would take longer than the universe has left.
    EXPECT_FALSE(engine.find("(a|aa)+b|!", 0, 0, options));
    EXPECT_EQ(describe(engine.find("a!", 0, 0, options)), "a!@39,0+2")
        << "the next step has its own time";
}

TEST(SearchLineCache, KeptBetweenStepsWhileNothingChanges) {
    TerminalFixture t({.cols = 10, .rows = 3});
    double now = 100;
    SearchLineCache cache(t.terminal, [&] { return now; });
    const auto step = [&] {
        cache.initLinesCache();
        if (!cache.lineInCache(0)) {
            cache.setLineInCache(0, cache.translateBufferLineToStringWithWrap(0, true));
            return "built";
        }
        return "kept";
    };
    EXPECT_STREQ(step(), "built");
    now += 14;
    EXPECT_STREQ(step(), "kept");
    now += 14;
    EXPECT_STREQ(step(), "kept") << "the 15 seconds count from the last step";
    now += 15;
    EXPECT_STREQ(step(), "built");
    t.feed("\r\n\r\n\r\n");
    EXPECT_STREQ(step(), "built") << "the line count changed";
    cache.invalidate();
    EXPECT_FALSE(cache.hasCache());
    EXPECT_STREQ(step(), "built");
    cache.setLineInCache(99, SearchLineCache::Entry());
    cache.setLineInCache(-1, SearchLineCache::Entry());
    EXPECT_EQ(cache.lineInCache(99), nullptr);
}

TEST(SearchLineCache, TextOfALogicalLine) {
    TerminalFixture t({.cols = 4, .rows = 4});
    t.feed("ab" + nihongo + "c\r\n" + eAcute);
    ASSERT_EQ(t.screen(), (Rows{"ab\xe6\x97\xa5", "~\xe6\x9c\xac\xe8\xaa\x9e", "~c", eAcute}));
    SearchLineCache cache(t.terminal);
    const SearchLineCache::Entry line = cache.translateBufferLineToStringWithWrap(0, true);
    EXPECT_EQ(line.lineAsString, u"ab\u65e5\u672c\u8a9ec");
    EXPECT_EQ(line.lineOffsets, (std::vector<int64_t>{0, 3, 5}));
    EXPECT_EQ(line.characterCount(), 6);
    const SearchLineCache::Entry combined = cache.translateBufferLineToStringWithWrap(3, true);
    EXPECT_EQ(combined.lineAsString, u"e\u0301");
    EXPECT_EQ(combined.characterCount(), 1);
    EXPECT_EQ(combined.characterIndex(1), 0);
    EXPECT_EQ(combined.characterIndex(2), 1);
    EXPECT_TRUE(cache.translateBufferLineToStringWithWrap(4, true).lineAsString.empty());
    EXPECT_TRUE(cache.translateBufferLineToStringWithWrap(-1, true).lineAsString.empty());
}
