#include "Line.h"
#include "Position.h"

#include <gtest/gtest.h>

using namespace veldatron;

TEST(Position, CompareInReadingOrder) {
    using R = Position::compareResult;
    struct Case {
        Position a;
        Position b;
        R expected;
    };
    const Case cases[] = {
        {{9, 2}, {0, 3}, R::before},      {{0, 3}, {9, 2}, R::after},  {{4, 1}, {4, 1}, R::equal},
        {{5, 1}, {4, 1}, R::after},       {{4, 1}, {5, 1}, R::before}, {{-1, 0}, {0, 0}, R::before},
        {{0, -5}, {-100, -4}, R::before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a.debugDescription() + " vs " + c.b.debugDescription());
        EXPECT_EQ(Position::compare(c.a, c.b), c.expected);
        EXPECT_EQ(c.a < c.b, c.expected == R::before);
        EXPECT_EQ(c.a == c.b, c.expected == R::equal);
    }
}

TEST(Position, DebugDescription) {
    EXPECT_EQ((Position{3, -7}).debugDescription(), "col=3 row=-7");
}

TEST(Line, SumsFragmentsAndDescribesThem) {
    Line empty;
    EXPECT_EQ(empty.debugDescription(), "[]");
    EXPECT_EQ(empty.length(), 0);

    Line line;
    line.add({"abc", 4, 0, 3});
    line.add({"\n", 4, -1, 1});
    EXPECT_EQ(line.length(), 4);
    EXPECT_EQ(line.fragments().size(), 2u);
    EXPECT_EQ(line.debugDescription(), "2/4: [abc][\\n][");

    Line absent;
    absent.add({std::nullopt, 0, 0, 0});
    absent.add({"x\ny", 1, 0, 3});
    EXPECT_EQ(absent.debugDescription(), "2/3: [][x\ny][") << "only a lone line break is escaped";
}
