#include "RowMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace veldatron {
namespace {

struct Block {
    unsigned char* bytes;
    std::size_t size;
    unsigned char fill;
};

// Sizes on either side of every kind of boundary: a step, the last step, each power of two and
// the largest pooled size, and one beyond it that goes to the global allocator.
const std::size_t sizes[] = {1,    63,   64,   65,    1920,  4096,  4097,
                             8192, 8193, 16385, 32768, 65536, 65537, 200000};

Block take(std::size_t size, unsigned char fill) {
    auto* const bytes = static_cast<unsigned char*>(rowmemory::allocate(size));
    std::memset(bytes, fill, size);
    return {bytes, size, fill};
}

// Every byte of every block still holds what was written into it: no two blocks overlap and no
// block was handed out twice.
void expectIntact(const std::vector<Block>& blocks) {
    for (const Block& block : blocks) {
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block.bytes) % rowmemory::alignment, 0u)
            << "size " << block.size;
        for (std::size_t i = 0; i < block.size; ++i) {
            ASSERT_EQ(block.bytes[i], block.fill) << "size " << block.size << " byte " << i;
        }
    }
}

void giveBack(std::vector<Block>& blocks) {
    for (const Block& block : blocks) {
        rowmemory::release(block.bytes, block.size);
    }
    blocks.clear();
}

TEST(RowMemory, BlocksAreAlignedAndApartAcrossSizesReuseAndEmptiedChunks) {
    std::vector<Block> blocks;
    unsigned char fill = 1;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t size : sizes) {
            blocks.push_back(take(size, fill++));
        }
    }
    // Enough rows of one width to fill several chunks.
    for (int i = 0; i < 3000; ++i) {
        blocks.push_back(take(1920, fill++));
    }
    expectIntact(blocks);

    // Every other block back, then as many again: the freed blocks are handed out anew.
    std::vector<Block> kept;
    std::vector<Block> freed;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        (i % 2 == 0 ? kept : freed).push_back(blocks[i]);
    }
    for (const Block& block : freed) {
        rowmemory::release(block.bytes, block.size);
    }
    for (const Block& block : freed) {
        kept.push_back(take(block.size, fill++));
    }
    expectIntact(kept);

    // Everything back, emptying whole chunks, then a second life.
    giveBack(kept);
    for (int i = 0; i < 3000; ++i) {
        kept.push_back(take(1920, fill++));
    }
    expectIntact(kept);
    giveBack(kept);
    rowmemory::release(nullptr, 64);
}

TEST(RowMemory, ThreadsTakeAndGiveBackWithoutSharingABlock) {
    std::vector<std::thread> threads;
    std::vector<std::vector<Block>> results(4);
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([t, &results] {
            std::vector<Block>& mine = results[t];
            const auto fill = static_cast<unsigned char>(t + 1);
            for (int i = 0; i < 4000; ++i) {
                mine.push_back(take(sizes[std::size_t(i) % 6], fill));
                if (i % 3 == 2) {
                    rowmemory::release(mine[mine.size() - 2].bytes, mine[mine.size() - 2].size);
                    mine.erase(mine.end() - 2);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::vector<Block>& mine : results) {
        expectIntact(mine);
        giveBack(mine);
    }
}

} // namespace
} // namespace veldatron
