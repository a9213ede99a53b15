#pragma once

#include "GpuDevice.h"
#include "RowDrawBuilder.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace veldatron {

class KittyGraphicsPayload;
struct KittyGraphicsState;
class TerminalImage;

/// A cheap fingerprint of a kitty image payload, kept with the texture made from it: a payload
/// replaced under the same id is told apart by kind, size, byte count or its first 64 bytes.
struct KittyImageSignature {
    uint8_t kind = 0; ///< 1 PNG, 2 RGBA
    int width = 0;    ///< RGBA only
    int height = 0;   ///< RGBA only
    std::size_t byteCount = 0;
    uint32_t headHash = 0;
    bool operator==(const KittyImageSignature&) const = default;
};

/// FNV-1a (32 bits) of the first min(length, limit) bytes; 0 when that is no byte at all.
uint32_t hashBytes(const uint8_t* bytes, std::size_t length, std::size_t limit);
KittyImageSignature kittySignature(const KittyGraphicsPayload& payload);

/// The picture an image anchored in a row shows, top row first (its QImage format says whether
/// it is premultiplied); null when it has none.
using TerminalImagePicture = std::function<QImage(const TerminalImage&)>;
/// The default: the view's RowImage (sixel, kitty and file images it cut into rows) and the
/// core's RgbaImageSlice.
QImage rowImagePicture(const TerminalImage& image);

/// The renderer's image textures: one per image anchored in a row (kept while that image object
/// lives) and one per kitty image id (kept while the id is in the terminal's store and its
/// payload's signature is unchanged).
///
/// Every texture is premultiplied, because images are drawn with the premultiplied text blend,
/// and stored bottom row first, so that t = 0 is the picture's bottom edge like every texture
/// of the renderer. A picture that cannot become a texture (no picture, a payload shorter or
/// longer than its size says, a side beyond the device's largest texture, a refused allocation)
/// yields null and is not cached, so a later build of its row asks again. GUI thread only.
class ImageTextures final : public IImageTextureSource {
public:
    explicit ImageTextures(IGpuDevice& device, TerminalImagePicture picture = rowImagePicture);

    /// The texture of an image anchored in a row.
    std::shared_ptr<GpuTexture> texture(const std::shared_ptr<TerminalImage>& image) override;
    /// The texture of a kitty image shown through placeholder cells.
    std::shared_ptr<GpuTexture> kittyTexture(uint32_t imageId,
                                             const KittyGraphicsState& state) override;
    /// Drops the textures of kitty images no longer in the store, and of row images whose
    /// objects are gone.
    void prune(const KittyGraphicsState* state);

    /// A texture of a picture, premultiplied and bottom row first.
    std::shared_ptr<GpuTexture> makeImageTexture(const QImage& picture);

    std::size_t kittyTextureCount() const { return m_kittyTextureCache.size(); }
    std::size_t imageTextureCount() const { return m_imageTextureCache.size(); }

private:
    struct KittyEntry {
        KittyImageSignature signature;
        std::shared_ptr<GpuTexture> texture;
    };

    IGpuDevice& m_device;
    TerminalImagePicture m_picture;
    // Keyed by the image object itself, never by its address: an address can be reused by a
    // new image after the old one is freed.
    std::map<std::weak_ptr<TerminalImage>, std::shared_ptr<GpuTexture>,
             std::owner_less<std::weak_ptr<TerminalImage>>>
        m_imageTextureCache;
    std::map<uint32_t, KittyEntry> m_kittyTextureCache;
};

} // namespace veldatron
