#include "TinyAtom.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace veldatron;

TEST(TinyAtomRegistry, HandsOutCodesOnceInIncreasingOrder) {
    TinyAtomRegistry registry;
    EXPECT_EQ(registry.lastUsed(), 0);
    EXPECT_EQ(registry.lookup("a"), 1);
    registry.release(1);
    EXPECT_EQ(registry.target(1), std::nullopt);
    EXPECT_EQ(registry.lookup("a"), 2) << "a released code is never handed out again";
    EXPECT_EQ(registry.target(2), "a");
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
}

TEST(TinyAtomRegistry, ExhaustsAfter65534RegistrationsDespiteReleases) {
    TinyAtomRegistry registry;
    for (int i = 1; i <= 0xFFFE; ++i) {
        const auto code = registry.lookup(std::to_string(i));
        ASSERT_EQ(code, i);
        if (i % 2 == 0) {
            registry.release(uint16_t(i));
        }
    }
    EXPECT_EQ(registry.lookup("late"), std::nullopt);
    EXPECT_EQ(registry.lookup("later"), std::nullopt);
    EXPECT_EQ(registry.lastUsed(), 0xFFFE);
    EXPECT_EQ(registry.target(0xFFFD), "65533");
    EXPECT_EQ(registry.target(0xFFFF), std::nullopt);
}

TEST(TinyAtomRegistry, ConcurrentRegistrationsGetDistinctCodes) {
    TinyAtomRegistry registry;
    constexpr int perThread = 2000;
    std::vector<std::vector<uint16_t>> got(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                got[t].push_back(*registry.lookup(std::to_string(t)));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<bool> used(0x10000);
    for (size_t t = 0; t < got.size(); ++t) {
        for (uint16_t code : got[t]) {
            EXPECT_FALSE(used[code]) << code;
            used[code] = true;
            EXPECT_EQ(registry.target(code), std::to_string(t));
        }
    }
    EXPECT_EQ(registry.lastUsed(), 4 * perThread);
}

TEST(TinyAtom, ProcessRegistryBehindTheHandle) {
    const auto atom = TinyAtom::lookup("id=x;file:///tmp");
    ASSERT_TRUE(atom);
    EXPECT_NE(atom->code, 0);
    EXPECT_EQ(atom->target(), "id=x;file:///tmp");
    TinyAtom::release(atom->code);
    EXPECT_EQ(atom->target(), std::nullopt);
    EXPECT_EQ(TinyAtom().target(), std::nullopt);
}
