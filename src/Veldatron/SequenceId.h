#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace veldatron {

/// Packs the collected bytes of an ESC, CSI or DCS sequence (private marker first, then the
/// intermediates, at most four in all) and its final byte into one number, so that a dispatcher
/// can `switch` over named constants such as `sequenceId("?", 'h')`. Each collected byte takes
/// five bits (0x20-0x2F and the markers 0x3C-0x3F are the only bytes the parser collects) above
/// the eight bits of the final byte; no two sequences share an id. Returns `invalidSequenceId` for
/// bytes the parser never collects or more than four of them.
inline constexpr std::uint32_t invalidSequenceId = 0xFFFFFFFFu;

constexpr std::uint32_t collectCode(std::uint8_t b) {
    if (b >= 0x20 && b <= 0x2F) {
        return b - 0x1Fu; // 1..16
    }
    if (b >= 0x3C && b <= 0x3F) {
        return b - 0x2Bu; // 17..20
    }
    return 0;
}

constexpr std::uint32_t sequenceId(std::string_view collect, char final) {
    if (collect.size() > 4) {
        return invalidSequenceId;
    }
    std::uint32_t packed = 0;
    for (char c : collect) {
        const std::uint32_t code = collectCode(static_cast<std::uint8_t>(c));
        if (code == 0) {
            return invalidSequenceId;
        }
        packed = packed << 5 | code;
    }
    return packed << 8 | static_cast<std::uint8_t>(final);
}

/// One recognised ESC or CSI sequence (or DCS introducer) as handed to a dispatcher. The collect
/// span points into the parser and is valid during the call only.
struct SequenceId {
    std::uint32_t id = 0;                  // sequenceId(collect, final)
    std::uint8_t final = 0;                // the final byte
    std::span<const std::uint8_t> collect; // private marker and intermediates, as received
};

} // namespace veldatron
