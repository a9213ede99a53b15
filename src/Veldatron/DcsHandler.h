#pragma once

#include "ParserParams.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace veldatron {

/// Receives one device control string from the parser: `hook` with the introducer, `put` with
/// the string's bytes in one or more slices (slices point into the caller's chunk and are valid
/// during the call only), then `unhook` when the string ends with ESC or ST. A string that is
/// aborted (SUB, or a C1 control byte) or grows over the parser's string limit never sees
/// `unhook`; the next `hook` must start afresh. The handler is owned by whoever installed it in
/// the parser (the terminal), which reuses it for every string it routes there.
class DcsHandler {
public:
    virtual ~DcsHandler() = default;

    virtual void hook(std::span<const std::uint8_t> collect, const ParserParams& parameters,
                      std::uint8_t flag) = 0;
    virtual void put(std::span<const std::uint8_t> data) = 0;
    virtual void unhook() = 0;
    /// The bytes of the string under way that the handler holds. A string may stream on for as
    /// long as the program likes; a handler keeps this bounded. Handlers that keep nothing: 0.
    virtual std::size_t heldBytes() const { return 0; }
};

} // namespace veldatron
