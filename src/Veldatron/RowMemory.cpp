#include "RowMemory.h"

#include <array>
#include <bit>
#include <cstdint>
#include <mutex>
#include <new>

#include <sys/mman.h>

namespace veldatron::rowmemory {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool pooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool pooled = false;
#else
constexpr bool pooled = true;
#endif
#else
constexpr bool pooled = true;
#endif

constexpr std::size_t chunkBytes = std::size_t(2) << 20;
// Sizes up to 4 KiB in steps of 64 bytes (a row of up to 256 cells), then powers of two up to
// 64 KiB (4,096 cells).
constexpr std::size_t stepBytes = 64;
constexpr std::size_t stepLimit = 4096;
constexpr std::size_t largest = 64 * 1024;
constexpr std::size_t stepClasses = stepLimit / stepBytes;
constexpr std::size_t classCount = stepClasses + 4;

std::size_t classOf(std::size_t bytes) {
    if (bytes <= stepLimit) {
        return (bytes + stepBytes - 1) / stepBytes - 1;
    }
    // 4 KiB + 1 ... 8 KiB is the first power-of-two class.
    return stepClasses + std::size_t(std::bit_width(bytes - 1)) - 13;
}

std::size_t bytesOf(std::size_t sizeClass) {
    return sizeClass < stepClasses ? (sizeClass + 1) * stepBytes
                                   : std::size_t(1) << (sizeClass - stepClasses + 13);
}

struct FreeBlock {
    FreeBlock* next;
};

// Each chunk serves one size; its first block's worth of bytes holds this record. A chunk is
// found from any of its blocks by rounding the address down to the chunk size.
struct Chunk {
    Chunk* prev = nullptr; // among the chunks of its size that have room
    Chunk* next = nullptr;
    FreeBlock* free = nullptr;
    char* unused = nullptr; // blocks never handed out start here
    char* end = nullptr;
    std::size_t live = 0;
    std::size_t sizeClass = 0;
    bool hasRoom = false;
};
static_assert(sizeof(Chunk) <= stepBytes);

class Pool {
public:
    void* allocate(std::size_t bytes) {
        const std::size_t sizeClass = classOf(bytes);
        const std::size_t size = bytesOf(sizeClass);
        const std::lock_guard lock(m_mutex);
        Chunk* chunk = m_withRoom[sizeClass];
        if (chunk == nullptr) {
            chunk = newChunk(sizeClass);
            link(chunk);
        }
        void* block;
        if (chunk->free != nullptr) {
            block = chunk->free;
            chunk->free = chunk->free->next;
        } else {
            block = chunk->unused;
            chunk->unused += size;
        }
        ++chunk->live;
        if (chunk->free == nullptr && std::size_t(chunk->end - chunk->unused) < size) {
            unlink(chunk);
        }
        return block;
    }

    void release(void* block) {
        Chunk* const chunk = chunkOf(block);
        const std::lock_guard lock(m_mutex);
        chunk->free = new (block) FreeBlock{chunk->free};
        --chunk->live;
        if (!chunk->hasRoom) {
            link(chunk);
        }
        // An empty chunk goes back to the system unless it is the only one of its size with
        // room: a row made and dropped over and over would otherwise map and unmap each time.
        if (chunk->live == 0 && (chunk->prev != nullptr || chunk->next != nullptr)) {
            unlink(chunk);
            munmap(chunk, chunkBytes);
        }
    }

private:
    static Chunk* chunkOf(void* block) {
        return reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(block) & ~(chunkBytes - 1));
    }

    static Chunk* newChunk(std::size_t sizeClass) {
        // Twice the size, trimmed to a chunk on a chunk boundary: a huge page must be aligned,
        // and so must a chunk for chunkOf.
        void* mapped = mmap(nullptr, 2 * chunkBytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (start + chunkBytes - 1) & ~(chunkBytes - 1);
        if (aligned != start) {
            munmap(mapped, aligned - start);
        }
        munmap(reinterpret_cast<void*>(aligned + chunkBytes), start + chunkBytes - aligned);
        // Only a request: where huge pages are off or none is free, the chunk is ordinary memory.
        madvise(reinterpret_cast<void*>(aligned), chunkBytes, MADV_HUGEPAGE);
        auto* const chunk = new (reinterpret_cast<void*>(aligned)) Chunk;
        // The record takes the first block (a whole one, so every block keeps its alignment).
        chunk->unused = reinterpret_cast<char*>(aligned) + bytesOf(sizeClass);
        chunk->end = reinterpret_cast<char*>(aligned) + chunkBytes;
        chunk->sizeClass = sizeClass;
        return chunk;
    }

    void link(Chunk* chunk) {
        Chunk*& head = m_withRoom[chunk->sizeClass];
        chunk->prev = nullptr;
        chunk->next = head;
        if (head != nullptr) {
            head->prev = chunk;
        }
        head = chunk;
        chunk->hasRoom = true;
    }

    void unlink(Chunk* chunk) {
        if (chunk->prev != nullptr) {
            chunk->prev->next = chunk->next;
        } else {
            m_withRoom[chunk->sizeClass] = chunk->next;
        }
        if (chunk->next != nullptr) {
            chunk->next->prev = chunk->prev;
        }
        chunk->prev = chunk->next = nullptr;
        chunk->hasRoom = false;
    }

    std::mutex m_mutex;
    std::array<Chunk*, classCount> m_withRoom{};
};

// Never destroyed: rows held by static objects may be released after every static destructor.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

} // namespace

void* allocate(std::size_t bytes) {
    if (!pooled || bytes > largest) {
        return ::operator new(bytes, std::align_val_t{alignment});
    }
    return pool().allocate(bytes);
}

void release(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) {
        return;
    }
    if (!pooled || bytes > largest) {
        ::operator delete(block, std::align_val_t{alignment});
        return;
    }
    pool().release(block);
}

} // namespace veldatron::rowmemory
