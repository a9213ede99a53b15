#include "TinyAtom.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace veldatron;

namespace {

// A holder whose cells show a fixed set of codes.
class ShowingHolder final : public TinyAtomRegistry::Holder {
public:
    std::set<uint16_t> shown;
    int marks = 0;

    void markPayloads(std::vector<bool>& inUse) override {
        ++marks;
        for (uint16_t code : shown) {
            inUse[code] = true;
        }
    }
};

// Registers 0xFFFE distinct values, spending every unused code.
void exhaust(TinyAtomRegistry& registry) {
    for (int i = 1; i <= TinyAtomRegistry::lastCode; ++i) {
        ASSERT_EQ(registry.lookup(std::to_string(i)), i);
    }
}

} // namespace

TEST(TinyAtomRegistry, IdenticalValuesShareOneCountedCode) {
    TinyAtomRegistry registry;
    EXPECT_EQ(registry.lookup("id=1;http://a"), 1);
    EXPECT_EQ(registry.lookup("id=2;http://a"), 2);
    EXPECT_EQ(registry.lookup("id=1;http://a"), 1);
    registry.release(1);
    EXPECT_EQ(registry.target(1), "id=1;http://a") << "one use is left";
    registry.release(1);
    EXPECT_EQ(registry.target(1), std::nullopt);
    EXPECT_EQ(registry.lookup("id=1;http://a"), 3)
        << "a released code waits; the value gets a new one";
    EXPECT_EQ(registry.liveCount(), 2u);
    EXPECT_EQ(registry.releasedCount(), 1u);
}

TEST(TinyAtomRegistry, ReleaseIgnoresZeroAndUnknownCodes) {
    TinyAtomRegistry registry;
    registry.lookup("one");
    registry.lookup("two");
    registry.release(0);
    registry.release(77);
    const std::vector<uint16_t> codes = {0, 2, 500};
    registry.release(codes);
    EXPECT_EQ(registry.target(1), "one");
    EXPECT_EQ(registry.target(2), std::nullopt);
    EXPECT_EQ(registry.target(0), std::nullopt);
    EXPECT_EQ(registry.lastUsed(), 2);
    EXPECT_EQ(registry.releasedCount(), 1u);
}

TEST(TinyAtomRegistry, ReleasedCodesAreReusedOnlyAfterAMarkFindsThemUnshown) {
    TinyAtomRegistry registry;
    ShowingHolder screen;
    registry.addHolder(screen);
    exhaust(registry);
    registry.release(10);
    registry.release(20);
    registry.release(30);
    EXPECT_EQ(registry.lookup("late"), std::nullopt)
        << "no code is reused before a mark, however many were released";

    // Code 20 still shows on some screen (a renderer's cache, a row a program left behind).
    screen.shown = {20};
    EXPECT_EQ(registry.reclaim(), 2u);
    EXPECT_EQ(screen.marks, 1);
    std::set<uint16_t> reused;
    for (int i = 0; i < 2; ++i) {
        const auto code = registry.lookup("new " + std::to_string(i));
        ASSERT_TRUE(code);
        reused.insert(*code);
    }
    EXPECT_EQ(reused, (std::set<uint16_t>{10, 30}));
    EXPECT_EQ(registry.lookup("more"), std::nullopt);

    // Once no screen shows it, the next mark frees it too.
    screen.shown.clear();
    EXPECT_EQ(registry.reclaim(), 1u);
    EXPECT_EQ(registry.lookup("more"), 20);
    registry.removeHolder(screen);
}

TEST(TinyAtomRegistry, ARemovedHolderIsNotMarked) {
    TinyAtomRegistry registry;
    ShowingHolder gone;
    gone.shown = {1};
    registry.addHolder(gone);
    registry.removeHolder(gone);
    registry.lookup("a");
    registry.release(1);
    EXPECT_EQ(registry.reclaim(), 1u);
    EXPECT_EQ(gone.marks, 0);
}

TEST(TinyAtomRegistry, ConcurrentRegistrationsGetDistinctCodes) {
    TinyAtomRegistry registry;
    constexpr int perThread = 2000;
    std::vector<std::vector<uint16_t>> got(4);
    std::vector<uint16_t> shared(got.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                got[t].push_back(*registry.lookup(std::to_string(t) + "/" + std::to_string(i)));
            }
            shared[t] = *registry.lookup("shared");
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<bool> used(0x10000);
    for (size_t t = 0; t < got.size(); ++t) {
        for (size_t i = 0; i < got[t].size(); ++i) {
            const uint16_t code = got[t][i];
            EXPECT_FALSE(used[code]) << code;
            used[code] = true;
            EXPECT_EQ(registry.target(code), std::to_string(t) + "/" + std::to_string(i));
        }
        EXPECT_EQ(shared[t], shared[0]);
    }
    EXPECT_EQ(registry.lastUsed(), 4 * perThread + 1);
}

TEST(TinyAtom, ProcessRegistryBehindTheHandle) {
    const auto atom = TinyAtom::lookup("id=x;file:///tmp/process-registry-test");
    ASSERT_TRUE(atom);
    EXPECT_NE(atom->code, 0);
    EXPECT_EQ(atom->target(), "id=x;file:///tmp/process-registry-test");
    TinyAtom::release(atom->code);
    EXPECT_EQ(atom->target(), std::nullopt);
    EXPECT_EQ(TinyAtom().target(), std::nullopt);
}
