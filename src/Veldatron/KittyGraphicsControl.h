#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace veldatron {

// The control block of one kitty graphics command: the "key=value" pairs before the first ";" of
// the APC string, read into typed fields. Keys are single letters and case matters. A key that is
// absent, or whose value does not read as its type, leaves the field at its default.
struct KittyGraphicsControl {
    char action = 't';                     // a: t, T, q, p, d, D
    int64_t suppressResponses = 0;         // q: 1 no OK replies, 2 no replies at all
    int64_t format = 32;                   // f: 24 RGB, 32 RGBA, 100 PNG
    char transmission = 'd';               // t: d direct, f file, t temporary file, s shared memory
    int64_t width = 0;                     // s: pixel width of raw data
    int64_t height = 0;                    // v: pixel height of raw data
    int64_t cropX = 0;                     // x
    int64_t cropY = 0;                     // y
    int64_t cropWidth = 0;                 // w
    int64_t cropHeight = 0;                // h
    int64_t dataSize = 0;                  // S: bytes to read from a file or shared memory, 0 all
    int64_t dataOffset = 0;                // O
    std::optional<uint32_t> imageId;       // i
    std::optional<uint32_t> imageNumber;   // I
    std::optional<uint32_t> placementId;   // p
    std::optional<uint32_t> parentImageId; // P
    std::optional<uint32_t> parentPlacementId; // Q
    int64_t offsetH = 0;                       // H: columns from the parent
    int64_t offsetV = 0;                       // V: rows from the parent
    int64_t pixelOffsetX = 0;                  // X
    int64_t pixelOffsetY = 0;                  // Y
    int64_t unicodePlaceholder = 0;            // U: 1 makes a virtual placement
    int64_t zIndex = 0;                        // z
    int64_t more = 0;                          // m: 1 more chunks follow (direct medium only)
    std::optional<char> compression;           // o: z for zlib
    int64_t columns = 0;                       // c
    int64_t rows = 0;                          // r
    int64_t cursorPolicy = 0;                  // C: 1 the cursor stays
    std::optional<char> deleteMode;            // d

    friend bool operator==(const KittyGraphicsControl&, const KittyGraphicsControl&) = default;
};

// A command split into its control block and its payload bytes (still base64; a view of the
// parsed bytes).
struct KittyGraphicsCommand {
    KittyGraphicsControl control;
    std::span<const uint8_t> payload;
};

// Parses the bytes of a command after the leading "G". Never fails: segments without "=", with
// a byte above 127 or with an unusable value are skipped, and a later pair with the same key
// replaces an earlier one. Numbers read as a sign and decimal digits only (unsigned fields take
// "+", and "-" before zeros only); one that does not fit its type is absent.
KittyGraphicsCommand parseKittyGraphicsControl(std::span<const uint8_t> bytes);

} // namespace veldatron
