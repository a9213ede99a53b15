#pragma once

namespace veldatron {

/// How a frame's vertex records reach the GPU: every cached row keeps its own exact-size buffers
/// (the default), or each frame concatenates the rows into pooled buffers.
enum class MetalBufferingMode { perRowPersistent, perFrameAggregated };

} // namespace veldatron
