#pragma once

#include <cstddef>

namespace veldatron::rowmemory {

// Memory for rows and their cells, taken from 2 MiB blocks the kernel is asked to back with huge
// pages. A full scrollback recycles its oldest row for every line of output, a row last touched a
// whole ring ago: with 4 KiB pages, ten thousand rows of cells span thousands of pages, and nearly
// every recycled row costs a page walk before its first byte arrives.
//
// Blocks are 64-byte aligned. Each chunk holds blocks of one size; freed blocks are kept for rows
// made later, and a chunk whose blocks are all free goes back to the system unless it is the last
// of its size with room. Requests beyond the largest size, and every request in a sanitizer build
// (which must see each block on its own), go to the global allocator. Thread-safe.

inline constexpr std::size_t alignment = 64;

// A block of at least `bytes` bytes (more than 0); throws std::bad_alloc when memory runs out.
void* allocate(std::size_t bytes);
// Gives back a block from allocate(bytes), with the same `bytes`; null is ignored.
void release(void* block, std::size_t bytes) noexcept;

} // namespace veldatron::rowmemory
