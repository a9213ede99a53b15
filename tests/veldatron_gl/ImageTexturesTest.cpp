// Image textures: the payload fingerprint, one texture per image (made again only when the
// payload changes), orientation and premultiplication on upload, and payloads that must make no
// texture.

#include "FakeGpuDevice.h"
#include "ImageInsertion.h"
#include "ImageTextures.h"
#include "KittyGraphicsState.h"
#include "RowImage.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <numeric>

using namespace veldatron;

namespace {

std::vector<uint8_t> bytesOf(const char* text)
{
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(ImageTexturesTest, HashIsFnv1aOfTheFirst64Bytes)
{
    const auto a = bytesOf("a");
    const auto foobar = bytesOf("foobar");
    EXPECT_EQ(hashBytes(a.data(), a.size(), 64), 0xe40c292cu);
    EXPECT_EQ(hashBytes(foobar.data(), foobar.size(), 64), 0xbf9cf968u);
    EXPECT_EQ(hashBytes(nullptr, 0, 64), 0u);
    std::vector<uint8_t> hundred(100);
    std::iota(hundred.begin(), hundred.end(), uint8_t(0));
    EXPECT_EQ(hashBytes(hundred.data(), 100, 64), hashBytes(hundred.data(), 64, 64));
    EXPECT_NE(hashBytes(hundred.data(), 100, 64), hashBytes(hundred.data(), 63, 64));
}

TEST(ImageTexturesTest, SignatureDescribesThePayload)
{
    const auto small = bytesOf("tiny png");
    EXPECT_EQ(kittySignature(KittyGraphicsPayload::png(small)),
              (KittyImageSignature{1, 0, 0, small.size(), hashBytes(small.data(), small.size(),
                                                                    small.size())}));
    EXPECT_EQ(kittySignature(KittyGraphicsPayload::png({})).headHash, 0u);
    RgbaImage rgba{2, 1, std::vector<uint8_t>(8, 7)};
    EXPECT_EQ(kittySignature(KittyGraphicsPayload::rgba(rgba)),
              (KittyImageSignature{2, 2, 1, 8, hashBytes(rgba.bytes.data(), 8, 64)}));
}

class KittyTextureTest : public ::testing::Test {
protected:
    void store(uint32_t id, KittyGraphicsPayload payload)
    {
        m_state.imagesById[id] = KittyGraphicsImage{std::move(payload), 0, 0};
    }

    // A straight-alpha picture two pixels high: opaque red on top, half-transparent white below.
    static RgbaImage twoRows()
    {
        return {1, 2, {255, 0, 0, 255, 255, 255, 255, 128}};
    }

    FakeGpuDevice m_device;
    ImageTextures m_textures{m_device};
    KittyGraphicsState m_state;
};

TEST_F(KittyTextureTest, OneTexturePerImageUntilItsPayloadChanges)
{
    store(7, KittyGraphicsPayload::rgba(twoRows()));
    const auto first = m_textures.kittyTexture(7, m_state);
    ASSERT_TRUE(first);
    EXPECT_EQ(m_textures.kittyTexture(7, m_state), first);

    // The same kind, size, length and first 64 bytes: taken as the same picture.
    store(7, KittyGraphicsPayload::rgba(twoRows()));
    EXPECT_EQ(m_textures.kittyTexture(7, m_state), first);

    RgbaImage changed = twoRows();
    changed.bytes[0] = 0;
    store(7, KittyGraphicsPayload::rgba(changed));
    const auto second = m_textures.kittyTexture(7, m_state);
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);

    EXPECT_FALSE(m_textures.kittyTexture(8, m_state));
    EXPECT_EQ(m_textures.kittyTextureCount(), 1u);
    m_state.imagesById.erase(7);
    m_textures.prune(&m_state);
    EXPECT_EQ(m_textures.kittyTextureCount(), 0u);
}

TEST_F(KittyTextureTest, RgbaAndPngOfOnePictureUploadAlikeBottomRowFirstPremultiplied)
{
    const RgbaImage picture = twoRows();
    QImage image(picture.bytes.data(), 1, 2, 4, QImage::Format_RGBA8888);
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&out, "PNG"));
    store(1, KittyGraphicsPayload::rgba(picture));
    store(2, KittyGraphicsPayload::png(std::vector<uint8_t>(png.begin(), png.end())));

    const auto fromRgba = m_textures.kittyTexture(1, m_state);
    const auto fromPng = m_textures.kittyTexture(2, m_state);
    ASSERT_TRUE(fromRgba && fromPng);
    const std::vector<uint8_t> expected = {128, 128, 128, 128, 255, 0, 0, 255};
    EXPECT_EQ(FakeGpuDevice::bytes(*fromRgba), expected);
    EXPECT_EQ(FakeGpuDevice::bytes(*fromPng), expected);
}

TEST_F(KittyTextureTest, PayloadThatCannotBeAPictureMakesNoTextureAndIsAskedAgain)
{
    m_device.setMaxTextureSize(4);
    struct Case {
        const char* name;
        KittyGraphicsPayload payload;
    };
    const Case cases[] = {
        {"fewer bytes than its size", KittyGraphicsPayload::rgba({2, 2, std::vector<uint8_t>(15)})},
        {"more bytes than its size", KittyGraphicsPayload::rgba({1, 1, std::vector<uint8_t>(8)})},
        {"no rows", KittyGraphicsPayload::rgba({4, 0, {}})},
        {"wider than the device allows",
         KittyGraphicsPayload::rgba({5, 1, std::vector<uint8_t>(20)})},
        {"not a PNG", KittyGraphicsPayload::png(bytesOf("not a png at all"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store(3, c.payload);
        EXPECT_FALSE(m_textures.kittyTexture(3, m_state));
        EXPECT_EQ(m_textures.kittyTextureCount(), 0u);
    }
    EXPECT_EQ(m_device.allocationCount(), 0);

    // A refused allocation is not remembered either: the next frame tries again.
    store(3, KittyGraphicsPayload::rgba(twoRows()));
    m_device.refuseAllocation(1);
    EXPECT_FALSE(m_textures.kittyTexture(3, m_state));
    EXPECT_TRUE(m_textures.kittyTexture(3, m_state));
}

TEST(ImageTexturesTest, RowImageTextureLivesAsLongAsItsImage)
{
    FakeGpuDevice device;
    int pictures = 0;
    ImageTextures textures(device, [&](const TerminalImage& image) {
        ++pictures;
        return rowImagePicture(image);
    });
    auto picture = std::make_shared<const RgbaImage>(RgbaImage{1, 4, std::vector<uint8_t>(16, 9)});
    ImageInsertionPlan plan{};
    // The slice shows rows 1 and 2 of the picture.
    std::shared_ptr<TerminalImage> slice =
        std::make_shared<RgbaImageSlice>(picture, 1.0, 2.0, 1, 2, 0, plan);

    const auto texture = textures.texture(slice);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->height(), 2);
    EXPECT_EQ(textures.texture(slice), texture);
    EXPECT_EQ(pictures, 1);

    slice.reset();
    textures.prune(nullptr);
    EXPECT_EQ(textures.imageTextureCount(), 0u);

    // An image without a picture makes nothing and is asked again.
    std::shared_ptr<TerminalImage> empty = std::make_shared<RgbaImageSlice>(
        std::make_shared<const RgbaImage>(), 0.0, 1.0, 1, 1, 0, plan);
    EXPECT_FALSE(textures.texture(empty));
    EXPECT_FALSE(textures.texture(empty));
    EXPECT_EQ(pictures, 3);
}

TEST(ImageTexturesTest, ViewRowImageUploadsItsPremultipliedPictureOnce)
{
    FakeGpuDevice device;
    ImageTextures textures(device);
    // Top row opaque red, bottom row half-transparent white, as the view keeps it: premultiplied.
    QImage picture(1, 2, QImage::Format_ARGB32_Premultiplied);
    picture.setPixel(0, 0, qRgba(255, 0, 0, 255));
    picture.setPixel(0, 1, qRgba(128, 128, 128, 128));
    std::shared_ptr<TerminalImage> slice = std::make_shared<RowImage>(picture, 1, 2, 0);

    const auto texture = textures.texture(slice);
    ASSERT_TRUE(texture);
    // Bottom row first, and not premultiplied a second time.
    const std::vector<uint8_t> expected = {128, 128, 128, 128, 255, 0, 0, 255};
    EXPECT_EQ(FakeGpuDevice::bytes(*texture), expected);
    EXPECT_EQ(textures.texture(slice), texture);
    EXPECT_EQ(device.allocationCount(), 1);
}

} // namespace
