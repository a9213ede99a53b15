#include "ImageTextures.h"

#include "ImageInsertion.h"
#include "KittyGraphicsState.h"
#include "RowImage.h"
#include "TerminalImage.h"

#include <algorithm>
#include <cmath>

namespace veldatron {

uint32_t hashBytes(const uint8_t* bytes, std::size_t length, std::size_t limit)
{
    const std::size_t n = std::min(length, limit);
    if (n == 0 || !bytes)
        return 0;
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < n; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash;
}

KittyImageSignature kittySignature(const KittyGraphicsPayload& payload)
{
    constexpr std::size_t kHeadBytes = 64;
    if (const auto* png = payload.pngData())
        return {1, 0, 0, png->size(), hashBytes(png->data(), png->size(), kHeadBytes)};
    if (const auto* rgba = payload.rgbaImage())
        return {2, rgba->width, rgba->height, rgba->bytes.size(),
                hashBytes(rgba->bytes.data(), rgba->bytes.size(), kHeadBytes)};
    return {};
}

QImage rowImagePicture(const TerminalImage& image)
{
    if (const auto* rowImage = dynamic_cast<const RowImage*>(&image))
        return rowImage->image();
    const auto* slice = dynamic_cast<const RgbaImageSlice*>(&image);
    if (!slice || !slice->picture() || !slice->picture()->isValid())
        return {};
    const RgbaImage& picture = *slice->picture();
    const int top = std::clamp(int(std::floor(slice->sourceTop())), 0, picture.height);
    const int bottom = std::clamp(int(std::ceil(slice->sourceTop() + slice->sourceHeight())), top,
                                  picture.height);
    if (bottom <= top)
        return {};
    const QImage whole(picture.bytes.data(), picture.width, picture.height, picture.width * 4,
                       QImage::Format_RGBA8888);
    return whole.copy(0, top, picture.width, bottom - top);
}

ImageTextures::ImageTextures(IGpuDevice& device, TerminalImagePicture picture)
    : m_device(device), m_picture(std::move(picture))
{
}

std::shared_ptr<GpuTexture> ImageTextures::makeImageTexture(const QImage& picture)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0
        || picture.width() > m_device.maxTextureSize()
        || picture.height() > m_device.maxTextureSize())
        return nullptr;
    const QImage upload =
        picture.convertToFormat(QImage::Format_RGBA8888_Premultiplied).mirrored(false, true);
    if (upload.isNull())
        return nullptr;
    auto texture = m_device.makeTexture(GpuPixelFormat::rgba8, upload.width(), upload.height());
    if (!texture)
        return nullptr;
    m_device.replaceRegion(*texture, 0, 0, upload.width(), upload.height(), upload.constBits(),
                           std::size_t(upload.bytesPerLine()));
    return texture;
}

std::shared_ptr<GpuTexture> ImageTextures::texture(const std::shared_ptr<TerminalImage>& image)
{
    if (!image)
        return nullptr;
    if (auto found = m_imageTextureCache.find(image); found != m_imageTextureCache.end())
        return found->second;
    auto texture = m_picture ? makeImageTexture(m_picture(*image)) : nullptr;
    if (texture)
        m_imageTextureCache[image] = texture;
    return texture;
}

std::shared_ptr<GpuTexture> ImageTextures::kittyTexture(uint32_t imageId,
                                                        const KittyGraphicsState& state)
{
    const auto stored = state.imagesById.find(imageId);
    if (stored == state.imagesById.end())
        return nullptr;
    const KittyGraphicsPayload& payload = stored->second.payload;
    const KittyImageSignature signature = kittySignature(payload);
    if (auto cached = m_kittyTextureCache.find(imageId);
        cached != m_kittyTextureCache.end() && cached->second.signature == signature)
        return cached->second.texture;

    std::shared_ptr<GpuTexture> texture;
    if (const auto* png = payload.pngData()) {
        texture = makeImageTexture(QImage::fromData(png->data(), int(std::min<std::size_t>(
                                                                     png->size(), INT32_MAX)),
                                                    "PNG"));
    } else if (const auto* rgba = payload.rgbaImage()) {
        // Never read past the bytes: a payload whose length is not exactly its size is refused.
        if (rgba->isValid() && rgba->width <= m_device.maxTextureSize()
            && rgba->height <= m_device.maxTextureSize()) {
            const QImage picture(rgba->bytes.data(), rgba->width, rgba->height, rgba->width * 4,
                                 QImage::Format_RGBA8888);
            texture = makeImageTexture(picture);
        }
    }
    if (!texture)
        return nullptr;
    m_kittyTextureCache[imageId] = {signature, texture};
    return texture;
}

void ImageTextures::prune(const KittyGraphicsState* state)
{
    for (auto it = m_kittyTextureCache.begin(); it != m_kittyTextureCache.end();) {
        if (!state || !state->imagesById.contains(it->first))
            it = m_kittyTextureCache.erase(it);
        else
            ++it;
    }
    std::erase_if(m_imageTextureCache, [](const auto& entry) { return entry.first.expired(); });
}

} // namespace veldatron
