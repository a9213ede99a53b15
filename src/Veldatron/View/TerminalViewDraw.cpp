#include "CaretView.h"
#include "CellShaper.h"
#include "TerminalView.h"
#include "TerminalViewMetalHosting.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace veldatron {

namespace {

// Glyphs of one font (and size) waiting to be drawn in one call.
struct GlyphBatch {
    QRawFont font;
    QList<quint32> indexes;
    QList<QPointF> positions;
};

GlyphBatch& batchFor(std::vector<GlyphBatch>& batches, const QRawFont& font) {
    for (GlyphBatch& batch : batches) {
        if (batch.font == font) {
            return batch;
        }
    }
    batches.push_back({font, {}, {}});
    return batches.back();
}

int resolveUnderlineStyle(const RunAttributes& attributes) {
    if (attributes.veldatronUnderlineStyle && *attributes.veldatronUnderlineStyle >= 0 &&
        *attributes.veldatronUnderlineStyle <= 5) {
        return *attributes.veldatronUnderlineStyle;
    }
    if (!attributes.underlineStyle) {
        return int(UnderlineStyle::none);
    }
    const int bits = *attributes.underlineStyle;
    if ((bits & UnderlineBits::double_) == UnderlineBits::double_) {
        return int(UnderlineStyle::double_);
    }
    if ((bits & UnderlineBits::patternDot) != 0) {
        return int(UnderlineStyle::dotted);
    }
    if ((bits & 0x0600) != 0) {
        return int(UnderlineStyle::dashed);
    }
    return bits != 0 ? int(UnderlineStyle::single) : int(UnderlineStyle::none);
}

// Line thickness snapped to device pixels, at least half a pixel.
double snappedThickness(double thickness, double scale) {
    return std::max(std::round(scale * thickness) / scale, 0.5);
}

} // namespace

// ---- Glyphs in wide slots -------------------------------------------------------------------

TerminalView::GlyphSlotFit TerminalView::glyphSlotFit(const QRawFont& font, quint32 glyph,
                                                      int columnWidth) const {
    const QSizeF cell = m_cellDimension;
    if (columnWidth < 2 || cell.isEmpty()) {
        return {};
    }
    const QList<QPointF> advances = font.advancesForGlyphIndexes(QList<quint32>{glyph});
    const double advance = advances.isEmpty() ? 0 : advances.first().x();
    if (!(advance > 0)) {
        return {};
    }
    const double slotWidth = cell.width() * columnWidth;
    const QRectF box = font.boundingRect(glyph);
    if ((box.width() <= slotWidth && box.height() <= cell.height()) || !(box.width() > 0) ||
        !(box.height() > 0)) {
        return {(slotWidth - advance) / 2, 0, 1};
    }
    const double scale = std::clamp(
        std::min({cell.height() / box.height(), slotWidth / box.width(), 1.0}), 0.1, 1.0);
    GlyphSlotFit fit{(slotWidth - scale * advance) / 2, 0, scale};
    if (scale != 1) {
        // Centres the scaled ink about the middle of the cell. The box is y-down from the
        // baseline, so its centre lies -box.center().y() above it.
        fit.dy = cell.height() / 2 - m_baselineOffset + scale * box.center().y();
    }
    return fit;
}

// ---- The frame ------------------------------------------------------------------------------

void TerminalView::paintEvent(QPaintEvent* event) {
    // The GPU view covers the whole view.
    if (m_metalHosting && m_metalHosting->hasMetalView()) {
        return;
    }
    // The caret paints the rows beneath it itself (Qt leaves its rectangle out of this region).
    if (m_caretView != nullptr && event->rect().intersects(m_caretView->geometry())) {
        m_caretView->invalidateBackdrop();
    }
    QPainter painter(this);
    // One pass over the region's bounds: rows are drawn whole, and a row drawn once per
    // rectangle of the region would have its antialiased edges blended twice.
    drawTerminalContents(event->region().boundingRect(), painter, m_terminal->buffer().yDisp());
}

void TerminalView::drawTerminalContents(const QRectF& dirtyRect, QPainter& painter,
                                        int bufferOffset) {
    const double h = m_cellDimension.height();
    // Rows whose band the rectangle touches (an edge on a row boundary takes no part of the
    // row beyond it), and the rows of the screen around them whose ink may reach into it: drawn
    // in order and cut to the rectangle, they leave what a repaint of everything would.
    const int first = bufferOffset + int(std::max(0.0, dirtyRect.top()) / h) - inkOverflowRows;
    const int last =
        bufferOffset + std::max(0, int(std::ceil(dirtyRect.bottom() / h)) - 1) + inkOverflowRows;

    forgetUnstoredKittyPictures();
    painter.save();
    painter.setClipRect(dirtyRect, Qt::IntersectClip);
    // Cells in the default background are never filled one by one: this is their colour.
    painter.fillRect(dirtyRect, effectiveNativeBackgroundColor().toQColor());
    // Read-only: painting never creates a row.
    const Buffer& buffer = std::as_const(*m_terminal).buffer();
    const int count = buffer.lines().count();
    const int lastShown = std::min(last, bufferOffset + m_terminal->rows() - 1);
    for (int row = std::max({first, bufferOffset, 0}); row <= lastShown && row < count; ++row) {
        drawRow(row, buffer.lines().row(row), bufferOffset, dirtyRect, painter);
    }
    const double bandHeight = std::fmod(double(height()), h);
    const QRectF band(0, height() - bandHeight, width(), bandHeight);
    if (bandHeight > 0 && band.intersects(dirtyRect)) {
        painter.fillRect(band, effectiveNativeBackgroundColor().toQColor());
    }
    painter.restore();
}

void TerminalView::drawRow(int row, const BufferLine& line, int bufferOffset,
                           const QRectF& dirtyRect, QPainter& painter) {
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    const double top = h * (row - bufferOffset);
    const BufferLine::RenderLineMode mode = line.renderMode();
    painter.save();
    // The row's ink goes no further than the rows its repaints cover.
    painter.setClipRect(QRectF(0, top - inkOverflowRows * h, std::max(dirtyRect.right(), 0.0),
                               (2 * inkOverflowRows + 1) * h),
                        Qt::IntersectClip);
    if (mode != BufferLine::RenderLineMode::single) {
        if (mode == BufferLine::RenderLineMode::doubleWidth) {
            painter.scale(2, 1);
        } else {
            // Twice the size about the row's top edge shows the upper half of the glyphs; about
            // its bottom edge, the lower half.
            painter.setClipRect(QRectF(0, top, dirtyRect.width(), h), Qt::IntersectClip);
            const double pivot = mode == BufferLine::RenderLineMode::doubledTop ? top : top + h;
            painter.translate(0, pivot);
            painter.scale(2, 2);
            painter.translate(0, -pivot);
        }
    }

    const ViewLineInfo info = buildAttributedString(row, line, m_terminal->cols());

    // Backgrounds, on whole pixels.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const PlatformColor defaultBackground = effectiveNativeBackgroundColor();
    for (const ViewLineSegment& segment : info.segments) {
        const std::vector<int>& ordinals = segment.utf16ToCellOrdinal;
        for (const AttributedText::Run& run : segment.attributedString.runs()) {
            const std::optional<PlatformColor>& background = run.attributes->drawnBackground();
            if (!background || *background == defaultBackground || run.length <= 0) {
                continue;
            }
            int firstOrdinal = run.start;
            int lastOrdinal = run.start + run.length - 1;
            if (!segment.utf16IsCellIdentity) {
                const auto begin = ordinals.begin() + run.start;
                const auto [low, high] = std::minmax_element(begin, begin + run.length);
                firstOrdinal = *low;
                lastOrdinal = *high;
            }
            const int startColumn = segment.column + firstOrdinal * segment.columnWidth;
            const int endColumn = segment.column + (lastOrdinal + 1) * segment.columnWidth;
            if (endColumn > startColumn) {
                painter.fillRect(QRectF(w * startColumn, top, w * (endColumn - startColumn), h),
                                 background->toQColor());
            }
        }
    }

    drawRowImages(info, top, RowImageLayer::underText, painter);
    drawCustomGlyphs(info, top, mode, painter);

    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const double baseline = top + h - m_baselineOffset;
    for (const ViewLineSegment& segment : info.segments) {
        drawSegmentText(segment, baseline, painter);
    }
    drawKittyPlaceholders(info, top, painter);
    drawRowImages(info, top, RowImageLayer::overText, painter);

    painter.restore();
}

void TerminalView::drawSegmentText(const ViewLineSegment& segment, double baseline,
                                   QPainter& painter) {
    const double w = m_cellDimension.width();
    const QString& text = segment.attributedString.string();
    const std::vector<int>& ordinals = segment.utf16ToCellOrdinal;
    const int columnWidth = segment.columnWidth;
    std::vector<GlyphBatch> batches;
    std::vector<QPointF> decorations;

    for (const AttributedText::Run& run : segment.attributedString.runs()) {
        const RunAttributes& attributes = *run.attributes;
        const QRawFont& rawFont = m_fontSet.rawFont(attributes.font);
        for (GlyphBatch& batch : batches) {
            batch.indexes.clear();
            batch.positions.clear();
        }
        decorations.clear();

        const auto place = [&](const QRawFont& font, quint32 glyph, QPointF position) {
            if (columnWidth >= 2) {
                const GlyphSlotFit fit = glyphSlotFit(font, glyph, columnWidth);
                position += QPointF(fit.dx, -fit.dy);
                if (fit.scale != 1) {
                    QRawFont scaled = font;
                    scaled.setPixelSize(font.pixelSize() * fit.scale);
                    GlyphBatch& batch = batchFor(batches, scaled);
                    batch.indexes.append(glyph);
                    batch.positions.append(position);
                    return;
                }
            }
            GlyphBatch& batch = batchFor(batches, font);
            batch.indexes.append(glyph);
            batch.positions.append(position);
        };

        int unit = run.start;
        const int end = run.start + run.length;
        while (unit < end) {
            // The units of one cell.
            const int ordinal = ordinals[size_t(unit)];
            int next = unit + 1;
            while (next < end && ordinals[size_t(next)] == ordinal) {
                ++next;
            }
            const QPointF slot(w * (segment.column + ordinal * columnWidth), baseline);
            const QChar first = text[unit];
            // (An emoji of one unit, such as U+26A1, may have a plain outline in the cell font:
            // shaped, it is drawn from the emoji font.)
            if (next - unit == 1 && !first.isSurrogate() &&
                (first.unicode() < 0x80 ||
                 !CellShaper::prefersEmojiPresentation(QStringView(&first, 1)))) {
                if (first == QLatin1Char(' ')) {
                    decorations.push_back(slot);
                    unit = next;
                    continue;
                }
                quint32 glyph = 0;
                int glyphCount = 1;
                if (rawFont.glyphIndexesForChars(&first, 1, &glyph, &glyphCount) && glyph != 0) {
                    place(rawFont, glyph, slot);
                    decorations.push_back(slot);
                    unit = next;
                    continue;
                }
            }
            // Not in the cell font, or more than one unit: shaped with fallback fonts, each
            // glyph keeping its offset from the cell's first (combining marks sit where the
            // shaping put them).
            const std::vector<CellShaper::Glyph>& glyphs =
                m_shaper->shape(text.mid(unit, next - unit), m_fontSet.font(attributes.font),
                                int(attributes.font), w * columnWidth);
            for (const CellShaper::Glyph& glyph : glyphs) {
                place(glyph.font, glyph.index, slot + glyph.offset);
                decorations.push_back(slot);
            }
            unit = next;
        }

        painter.setPen(attributes.foreground ? attributes.foreground->toQColor()
                                             : effectiveNativeForegroundColor().toQColor());
        for (const GlyphBatch& batch : batches) {
            if (batch.indexes.isEmpty()) {
                continue;
            }
            QGlyphRun glyphRun;
            glyphRun.setRawFont(batch.font);
            glyphRun.setGlyphIndexes(batch.indexes);
            glyphRun.setPositions(batch.positions);
            painter.drawGlyphRun(QPointF(0, 0), glyphRun);
        }
        if (attributes.hasDecorations()) {
            drawRunAttributes(attributes, decorations, w * columnWidth, painter);
        }
    }
}

// ---- Decorations ----------------------------------------------------------------------------

void TerminalView::drawRunAttributes(const RunAttributes& attributes,
                                     std::span<const QPointF> positions, double slotWidth,
                                     QPainter& painter) {
    if (!attributes.hasDecorations() || positions.empty()) {
        return;
    }
    const double scale = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const double length = std::ceil(slotWidth);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);

    if (attributes.underlineStyle) {
        const QRawFont& normal = m_fontSet.rawFont(FontStyle::normal);
        const double t = snappedThickness(normal.lineThickness(), scale);
        // Below the baseline: Qt's underline position grows downwards.
        const double offset = normal.underlinePosition();
        const PlatformColor color =
            attributes.underlineColor.value_or(effectiveNativeForegroundColor());
        QPen pen(color.toQColor(), t, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        const int style = resolveUnderlineStyle(attributes);
        const double w = std::max(t, 1.0);
        for (const QPointF& position : positions) {
            const double x = position.x();
            const double y = position.y() + offset;
            switch (UnderlineStyle(style)) {
            case UnderlineStyle::none:
                break;
            case UnderlineStyle::single:
                painter.setPen(pen);
                painter.drawLine(QPointF(x, y), QPointF(x + length, y));
                break;
            case UnderlineStyle::double_:
                painter.setPen(pen);
                painter.drawLine(QPointF(x, y), QPointF(x + length, y));
                painter.drawLine(QPointF(x, y + t + 1), QPointF(x + length, y + t + 1));
                break;
            case UnderlineStyle::curly: {
                const double period = std::max(4 * t, 4.0);
                QPainterPath path(QPointF(x, y));
                for (double u = x; u <= x + length; u += w) {
                    path.lineTo(u, y - w * std::sin(2 * std::numbers::pi * (u - x) / period));
                }
                painter.setPen(pen);
                painter.drawPath(path);
                break;
            }
            case UnderlineStyle::dotted: {
                // Pen dash lengths count pen widths.
                QPen dotted = pen;
                dotted.setCapStyle(Qt::RoundCap);
                dotted.setDashPattern({w / t, 2 * w / t});
                painter.setPen(dotted);
                painter.drawLine(QPointF(x, y), QPointF(x + length, y));
                break;
            }
            case UnderlineStyle::dashed: {
                const double dash = std::max(2 * t, 2.0);
                QPen dashed = pen;
                dashed.setDashPattern({dash / t, dash / t});
                painter.setPen(dashed);
                painter.drawLine(QPointF(x, y), QPointF(x + length, y));
                break;
            }
            }
        }
    }

    if (attributes.strikethroughStyle) {
        const int style = *attributes.strikethroughStyle;
        const QRawFont& font = m_fontSet.rawFont(attributes.font);
        const double th = snappedThickness(font.lineThickness(), scale);
        const double rise = (font.xHeight() + th) / 2;
        const PlatformColor color =
            attributes.strikethroughColor.value_or(effectiveNativeForegroundColor());
        QPen pen(color.toQColor(), th, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        if ((style & UnderlineBits::patternDash) != 0) {
            pen.setDashPattern({2 / th, 2 / th});
        }
        painter.setPen(pen);
        const bool twoLines = (style & UnderlineBits::double_) == UnderlineBits::double_;
        for (const QPointF& position : positions) {
            const double x = position.x();
            const double y = position.y() - rise;
            painter.drawLine(QPointF(x, y), QPointF(x + length, y));
            if (twoLines) {
                painter.drawLine(QPointF(x, y + th + 1), QPointF(x + length, y + th + 1));
            }
        }
    }
    painter.restore();
}

} // namespace veldatron
