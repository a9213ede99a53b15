#pragma once

#include "GlyphAtlas.h"
#include "IGlyphRasterizer.h"
#include "IShaper.h"

#include "FontSet.h"
#include "RunAttributes.h"
#include "ViewLineSegment.h"

#include <QFont>
#include <QRawFont>
#include <QSizeF>

#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>

namespace veldatron {

enum class GlyphAtlasKind { grayscale, color };

/// A font glyph's place: its region in one of the atlases and where its bitmap sits against
/// the glyph origin (pixels of the scaled font, y up).
struct GlyphEntry {
    AtlasRegion region;
    QSizeF size;
    QPointF bearing;
    bool isColor = false;
    GlyphAtlasKind atlasKind = GlyphAtlasKind::grayscale;
};

struct CustomGlyphKey {
    uint32_t codePoint = 0;
    int cellWidthPx = 0;
    int cellHeightPx = 0;
    int baseThicknessPx = 0;
    int scale = 1;
    bool antiAlias = false;
    bool operator==(const CustomGlyphKey&) const = default;
};

/// A painted geometric glyph (box drawing, block element, powerline separator), one cell large,
/// in the grayscale atlas.
struct CustomGlyphEntry {
    AtlasRegion region;
    QSizeF size;
};

/// The shaping of one attribute range of a segment.
struct ShapedRun {
    std::shared_ptr<const RunAttributes> attributes;
    /// Start of the range in the segment's text.
    int utf16Offset = 0;
    std::shared_ptr<const ShaperRun> shaperRun;
};

struct ShapedSegment {
    /// Points into the row layout the segments were shaped from.
    const ViewLineSegment* segment = nullptr;
    /// Never empty.
    std::vector<ShapedRun> runs;
};

/// Shaping results by font and text, at most `maxEntries`, evicted first in first out (a hit
/// does not renew an entry).
class ShaperCache {
public:
    static constexpr std::size_t maxEntries = 2048;

    explicit ShaperCache(IShaper& shaper) : m_shaper(shaper) {}
    /// Nothing for an empty text or one the shaper cannot lay out (not cached).
    std::shared_ptr<const ShaperRun> shape(const QString& text, const QFont& font);
    bool contains(const QString& text, const QFont& font) const;
    std::size_t size() const { return m_cache.size(); }

private:
    struct Key {
        QFont font;
        QString text;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const { return qHash(key.text, qHash(key.font)); }
    };
    void insert(const Key& key, std::shared_ptr<const ShaperRun> run);

    IShaper& m_shaper;
    std::unordered_map<Key, std::shared_ptr<const ShaperRun>, KeyHash> m_cache;
    std::deque<Key> m_order;
};

/// Turns text into atlas rectangles for the GPU renderer: shapes a row's segments, rasterises
/// font glyphs into the grayscale or colour atlas, paints geometric glyphs into the grayscale
/// atlas, and remembers where each went. When an atlas is wiped every entry is dropped; when
/// it grows, texture coordinates computed from its old side are stale: either way the renderer
/// learns it through `onRowCacheInvalidated` and `atlasInvalidatedDuringBuild()`.
///
/// Owned by the renderer; GUI thread only.
class GlyphProvider {
public:
    /// Nothing when either atlas cannot be made.
    static std::unique_ptr<GlyphProvider> create(IGpuDevice& device, IShaper& shaper,
                                                 IGlyphRasterizer& rasterizer,
                                                 ILogSink& log = defaultLogSink(),
                                                 int startSize = 1024);

    std::vector<ShapedSegment> buildShapedSegments(const std::vector<ViewLineSegment>& segments,
                                                   const FontSet& fontSet);
    /// The font at `scale` times its pixel size; the same object for the same font and size.
    const QRawFont& scaledFontFor(const QRawFont& font, double scale);
    /// `font` is already at device-pixel size. Nothing for an empty glyph (never cached, so a
    /// space is rasterised on every call) or when no atlas room is left.
    std::optional<GlyphEntry> glyphEntry(const QRawFont& font, quint32 glyph);
    std::optional<CustomGlyphEntry> customGlyphEntry(uint32_t codePoint, int cellWidthPx,
                                                     int cellHeightPx, double scale,
                                                     int baseThicknessPx, bool antiAlias);
    /// After every atlas request, with the atlas's side from before it.
    void handleAtlasChange(GlyphAtlas& atlas, int previousSize);

    GlyphAtlas& grayscaleAtlas() { return *m_grayscaleAtlas; }
    GlyphAtlas& colorAtlas() { return *m_colorAtlas; }
    GlyphAtlas& atlas(GlyphAtlasKind kind)
    {
        return kind == GlyphAtlasKind::color ? *m_colorAtlas : *m_grayscaleAtlas;
    }
    ShaperCache& shaperCache() { return m_shaperCache; }
    IGlyphRasterizer& rasterizer() { return m_rasterizer; }

    bool atlasInvalidatedDuringBuild() const { return m_atlasInvalidatedDuringBuild; }
    void setAtlasInvalidatedDuringBuild(bool value) { m_atlasInvalidatedDuringBuild = value; }
    /// Called when the renderer's row cache must be emptied.
    std::function<void()> onRowCacheInvalidated;

    std::size_t glyphCacheSize() const { return m_glyphCache.size(); }
    std::size_t customGlyphCacheSize() const { return m_customGlyphCache.size(); }

    /// The custom-glyph key's scale: the nearest integer (halves away from zero), at least 1.
    static int customGlyphKeyScale(double scale);

private:
    GlyphProvider(IShaper& shaper, IGlyphRasterizer& rasterizer,
                  std::unique_ptr<GlyphAtlas> grayscale, std::unique_ptr<GlyphAtlas> color);

    // Keys hold their font; lookups borrow one (a QRawFont copy costs more than the lookup).
    struct GlyphKey {
        QRawFont font;
        quint32 glyph = 0;
    };
    struct GlyphKeyRef {
        const QRawFont* font;
        quint32 glyph;
    };
    struct GlyphKeyHash {
        using is_transparent = void;
        std::size_t operator()(const GlyphKey& key) const { return qHash(key.font, key.glyph); }
        std::size_t operator()(const GlyphKeyRef& key) const
        {
            return qHash(*key.font, key.glyph);
        }
    };
    struct GlyphKeyEqual {
        using is_transparent = void;
        static GlyphKeyRef ref(const GlyphKey& key) { return {&key.font, key.glyph}; }
        static GlyphKeyRef ref(const GlyphKeyRef& key) { return key; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const
        {
            return ref(a).glyph == ref(b).glyph && *ref(a).font == *ref(b).font;
        }
    };
    struct ScaledFontKey {
        QRawFont font;
        double size = 0;
    };
    struct ScaledFontKeyRef {
        const QRawFont* font;
        double size;
    };
    struct ScaledFontKeyHash {
        using is_transparent = void;
        std::size_t operator()(const ScaledFontKey& key) const
        {
            return qHash(key.font, qHash(key.size));
        }
        std::size_t operator()(const ScaledFontKeyRef& key) const
        {
            return qHash(*key.font, qHash(key.size));
        }
    };
    struct ScaledFontKeyEqual {
        using is_transparent = void;
        static ScaledFontKeyRef ref(const ScaledFontKey& key) { return {&key.font, key.size}; }
        static ScaledFontKeyRef ref(const ScaledFontKeyRef& key) { return key; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const
        {
            return ref(a).size == ref(b).size && *ref(a).font == *ref(b).font;
        }
    };
    struct CustomGlyphKeyHash {
        std::size_t operator()(const CustomGlyphKey& key) const;
    };

    IGlyphRasterizer& m_rasterizer;
    ShaperCache m_shaperCache;
    std::unique_ptr<GlyphAtlas> m_grayscaleAtlas;
    std::unique_ptr<GlyphAtlas> m_colorAtlas;
    std::unordered_map<GlyphKey, GlyphEntry, GlyphKeyHash, GlyphKeyEqual> m_glyphCache;
    std::unordered_map<ScaledFontKey, QRawFont, ScaledFontKeyHash, ScaledFontKeyEqual>
        m_scaledFontCache;
    std::unordered_map<CustomGlyphKey, CustomGlyphEntry, CustomGlyphKeyHash> m_customGlyphCache;
    bool m_atlasInvalidatedDuringBuild = false;
};

/// Paints a geometric glyph in white on a cell of `cellWidthPx` × `cellHeightPx` device pixels
/// (the bitmap layout of IGlyphRasterizer) with the raster view's own painters: powerline
/// separators antialiased, box drawing never antialiased, block elements antialiased only when
/// asked. Nothing for other code points or an empty cell.
std::optional<GlyphBitmap> paintCustomGlyph(uint32_t codePoint, int cellWidthPx, int cellHeightPx,
                                            double scale, int baseThicknessPx, bool antiAlias);

} // namespace veldatron
