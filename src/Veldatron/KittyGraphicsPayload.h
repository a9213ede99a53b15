#pragma once

#include "KittyGraphicsControl.h"
#include "RgbaImage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

// The decoded image data of a kitty graphics transmission: a PNG file's bytes as sent, or a
// straight RGBA bitmap. Immutable and cheap to copy: the store, the host and the renderers share
// the bytes.
class KittyGraphicsPayload {
public:
    enum class Kind : uint8_t { png, rgba };

    static KittyGraphicsPayload png(std::vector<uint8_t> data);
    static KittyGraphicsPayload rgba(RgbaImage image);

    Kind kind() const { return m_png ? Kind::png : Kind::rgba; }
    // The PNG bytes, or null for a bitmap.
    const std::vector<uint8_t>* pngData() const { return m_png.get(); }
    // The bitmap, or null for a PNG.
    const RgbaImage* rgbaImage() const { return m_rgba.get(); }
    const std::shared_ptr<const RgbaImage>& sharedRgbaImage() const { return m_rgba; }
    // What it costs the store: the RGBA bytes of a bitmap, the length of a PNG.
    int64_t byteSize() const;

private:
    std::shared_ptr<const std::vector<uint8_t>> m_png;
    std::shared_ptr<const RgbaImage> m_rgba;
};

// Limits of payload loading. Every stage is held to the size limit: decoded base64, file and
// shared-memory sizes, the bytes read, the decompressed data.
namespace KittyGraphicsLimits {
inline constexpr int64_t maxPayloadBytes = 419430400; // 400 MiB, inclusive
inline constexpr int64_t maxDimension = 10000;        // pixels a side of raw data
inline constexpr size_t maxResolvedPathLength = 1023; // bytes, without the terminating NUL
inline constexpr size_t fileReadStep = 4096;
inline constexpr size_t inflateStep = 65536;
// Base64 of the largest payload: a chunked transmission may gather this much and no more.
inline constexpr int64_t maxPendingBase64Bytes = (maxPayloadBytes + 2) / 3 * 4;
} // namespace KittyGraphicsLimits

// A loaded payload, or the error text to reply with (exactly one of the two).
struct KittyPayloadResult {
    std::optional<KittyGraphicsPayload> payload;
    std::optional<std::string> errorMessage;

    static KittyPayloadResult failure(std::string_view message) {
        return {std::nullopt, std::string(message)};
    }
};

inline constexpr std::string_view kittyBadPayload = "EINVAL: bad payload";
inline constexpr std::string_view kittyUnsupportedTransmission =
    "ENOTSUP: unsupported transmission";
inline constexpr std::string_view kittyBadPath = "EINVAL: bad path";
inline constexpr std::string_view kittyBadTempPath = "EINVAL: bad temp path";

// Loads the payload of a transmission by its medium: direct data, a file, a temporary file
// (deleted once read) or a shared-memory object (removed once opened). A program can name any
// file: only regular files are read, through a descriptor opened without following a final
// link and without blocking; /proc, /sys and /dev (but /dev/shm) are refused; temporary files
// must lie in a temporary folder, carry "tty-graphics-protocol" in their path and belong to the
// user; shared memory is read only when it is a regular object of the user.
KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control,
                                    std::span<const uint8_t> base64Payload);
// The direct medium alone: base64, decompressed when asked, decoded by format. None for any
// failure.
std::optional<KittyGraphicsPayload> decodeKittyPayload(const KittyGraphicsControl& control,
                                                       std::span<const uint8_t> base64Payload);

// The steps of loading, exposed for tests.
KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control,
                                        std::span<const uint8_t> base64Payload, bool temporary);
KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control,
                                                std::span<const uint8_t> base64Payload);
// Reads `size` bytes (0: to the end) from `offset` of the regular file at a resolved path, at
// most the size limit; deletes it afterwards when asked, but only when it belongs to the user
// and is still the file that was read. None for anything but a regular file (and for a file of
// another user when it is to be deleted).
std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset,
                                                      int64_t size, bool deleteAfterRead);
// Whether a resolved path lies in a temporary folder (/tmp, /dev/shm or the user's, compared by
// whole path components) and names the protocol's marker.
bool isKittyTempPath(std::string_view resolvedPath);
// Width x height x 4 (format 32) or x 3 (format 24) when both sides are 1...10000.
std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control);
std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name,
                                                          std::optional<int64_t> expectedSize,
                                                          int64_t offset, int64_t size);
std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data,
                                                        const KittyGraphicsControl& control);
// Inflates a zlib stream (RFC 1950, checksum checked) in steps; none for a malformed or
// truncated stream and as soon as the output would pass `maxOutput` bytes.
std::optional<std::vector<uint8_t>>
decompressZlib(std::span<const uint8_t> data,
               int64_t maxOutput = KittyGraphicsLimits::maxPayloadBytes);
std::optional<KittyGraphicsPayload> decodeKittyPayloadData(const KittyGraphicsControl& control,
                                                           std::vector<uint8_t> rawData);
// Whether the data is a PNG of 1...10000 pixels a side (read from its header only).
bool validateKittyPngDimensions(std::span<const uint8_t> data);

// PNG operations. The size is the header's, unchecked. Decoding checks 1...10000 before it
// allocates, and gives straight RGBA.
struct PixelSize {
    int64_t width = 0;
    int64_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};
std::optional<PixelSize> kittyPngPixelSize(std::span<const uint8_t> data);
std::optional<RgbaImage> decodePngToRgba(std::span<const uint8_t> data);
// A PNG file of the bitmap (for tools and tests that write or send images).
std::optional<std::vector<uint8_t>> encodePng(const RgbaImage& image);

} // namespace veldatron
