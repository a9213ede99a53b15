#include "CaretView.h"
#include "CellShaper.h"
#include "TerminalView.h"
#include "UnicodeUtil.h"

#include <QEasingCurve>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace veldatron {

namespace {

bool isBlinkingStyle(CursorStyle style) {
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
           style == CursorStyle::blinkBar;
}

bool isPowerlineSeparator(uint32_t code) {
    return code == 0xE0B0 || code == 0xE0B2 || code == 0xE0B4 || code == 0xE0B6;
}

// The platform's colour for selected controls: what a caret is drawn in until its colours are
// set (while the view's default caret colours are in force it follows the text colours).
PlatformColor systemCaretColor() {
    const QColor color = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    return {color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

// The ease-in curve of the fade: a cubic Bezier from (0, 0) through (0.42, 0) and (1, 1).
const QEasingCurve& easeIn() {
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(1, 1), QPointF(1, 1));
        return c;
    }();
    return curve;
}

} // namespace

CaretView::CaretView(const QRectF& frame, CursorStyle cursorStyle, TerminalView* terminal)
    : QWidget(terminal), m_terminal(terminal), m_style(cursorStyle),
      m_defaultCaretColor(systemCaretColor()), m_caretColor(m_defaultCaretColor) {
    setObjectName(QStringLiteral("caret"));
    // Clicks go to the terminal view beneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // The caret paints the rows beneath it itself (from a copy kept while they do not change),
    // so that its blinking repaints the caret alone and never the terminal's rows: Qt repaints
    // what lies under a child that does not paint every pixel of its own.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setFrame(frame);
    update();
}

CaretView::~CaretView() {
    m_blinkFrame.cancel();
}

void CaretView::setFrame(const QRectF& frame) {
    if (frame == m_frame && geometry() == frame.toAlignedRect()) {
        return;
    }
    m_frame = frame;
    setGeometry(frame.toAlignedRect());
    m_backdropStale = true;
    update();
}

void CaretView::invalidateBackdrop() {
    m_backdropStale = true;
}

void CaretView::renderBackdrop() {
    const double scale = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * scale).toSize();
    if (m_backdrop.size() != pixels) {
        m_backdrop = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    }
    m_backdrop.setDevicePixelRatio(scale);
    m_backdrop.fill(Qt::transparent);
    TerminalView* view = m_terminal;
    if (view != nullptr) {
        QPainter painter(&m_backdrop);
        const QRectF area(geometry());
        painter.translate(-area.topLeft());
        view->drawTerminalContents(area, painter, view->terminal().buffer().yDisp());
    }
    m_backdropStale = false;
}

// ---- The character under the caret ----------------------------------------------------------

void CaretView::setText(const CharData& ch) {
    m_glyphColumnWidth = ch.width() > 1 ? ch.width() : 1;
    TerminalView* view = m_terminal;
    const bool shown = view == nullptr || !ch.attribute().style().contains(CharacterStyle::blink) ||
                       view->textBlinkVisible();
    std::u32string character = U" ";
    if (shown) {
        const uint32_t code = uint32_t(ch.code());
        m_powerlineCodePoint =
            isPowerlineSeparator(code) ? std::optional<uint32_t>(code) : std::nullopt;
        if (view != nullptr && code != 0) {
            character = view->terminal().character(ch.code());
        }
    } else {
        m_powerlineCodePoint = std::nullopt;
    }
    character = UnicodeUtil::textPresentationAdjusted(character);
    const QString text = QString::fromStdU32String(character);

    FontStyle fontStyle = FontStyle::normal;
    if (view != nullptr) {
        // Only the font of these attributes matters: the drawing picks its own colours.
        fontStyle = view->getAttributedValue(ch.attribute(), view->effectiveCaretColor(),
                                             view->effectiveCaretTextColor())
                        .font;
    }
    layOutGlyphs(text, fontStyle);
    m_text = text;
    update();
}

void CaretView::layOutGlyphs(const QString& text, FontStyle fontStyle) {
    m_glyphs.clear();
    TerminalView* view = m_terminal;
    if (view == nullptr || text == QLatin1String(" ")) {
        return;
    }
    const FontSet& fonts = view->fontSet();
    const QRawFont& rawFont = fonts.rawFont(fontStyle);
    const int columns = m_glyphColumnWidth;
    const auto place = [&](const QRawFont& font, quint32 index, QPointF offset) {
        QRawFont used = font;
        if (columns >= 2) {
            const TerminalView::GlyphSlotFit fit = view->glyphSlotFit(font, index, columns);
            offset += QPointF(fit.dx, -fit.dy);
            if (fit.scale != 1) {
                used.setPixelSize(font.pixelSize() * fit.scale);
            }
        }
        m_glyphs.push_back({used, index, offset});
    };
    if (text.size() == 1 && !text[0].isSurrogate() && !CellShaper::prefersEmojiPresentation(text)) {
        const QChar c = text[0];
        quint32 glyph = 0;
        int count = 1;
        if (rawFont.glyphIndexesForChars(&c, 1, &glyph, &count) && glyph != 0) {
            place(rawFont, glyph, QPointF());
            return;
        }
    }
    // Marks keep the offsets the shaping gave them from the cell's first glyph.
    const double slotWidth = view->cellDimension().width() * columns;
    for (const CellShaper::Glyph& glyph :
         view->cellShaper().shape(text, fonts.font(fontStyle), int(fontStyle), slotWidth)) {
        place(glyph.font, glyph.index, glyph.offset);
    }
}

// ---- Style and blinking ---------------------------------------------------------------------

void CaretView::updateCursorStyle() {
    const bool focused = m_tracksFocus && m_terminal ? m_terminal->terminalHasFocus() : true;
    if (isBlinkingStyle(m_style)) {
        updateAnimation(focused);
    } else {
        stopBlinking();
    }
    update();
}

void CaretView::stopBlinking() {
    m_blinkFrame.cancel();
    m_blinking = false;
    m_opacity = 1;
}

void CaretView::updateAnimation(bool focused) {
    stopBlinking();
    TerminalView* view = m_terminal;
    if (focused && view != nullptr) {
        m_blinking = true;
        m_blinkStartNs = view->uptimeNs();
        scheduleBlinkFrame();
    }
    update();
}

void CaretView::scheduleBlinkFrame() {
    QPointer<CaretView> self(this);
    m_blinkFrame = m_terminal->executor().postAfter(blinkFrameInterval, [self] {
        if (self != nullptr && self->m_terminal != nullptr) {
            self->blinkFrame();
        }
    });
}

void CaretView::blinkFrame() {
    const double seconds = double(m_terminal->uptimeNs() - m_blinkStartNs) / 1e9;
    const double opacity = blinkOpacity(seconds);
    if (opacity != m_opacity) {
        m_opacity = opacity;
        update();
    }
    scheduleBlinkFrame();
}

bool CaretView::isBlinking() const {
    return m_blinking;
}

double CaretView::blinkOpacity(double seconds) {
    const double half = blinkHalfPeriodMs / 1000.0;
    double phase = std::fmod(seconds, 2 * half);
    if (phase < 0) {
        phase += 2 * half;
    }
    const double progress = phase <= half ? phase / half : (2 * half - phase) / half;
    return 1 - easeIn().valueForProgress(progress);
}

// ---- Drawing --------------------------------------------------------------------------------

void CaretView::paintEvent(QPaintEvent*) {
    if (m_backdropStale || m_backdrop.size() != (QSizeF(size()) * devicePixelRatioF()).toSize()) {
        renderBackdrop();
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), m_backdrop);
    painter.setOpacity(m_opacity);
    // The widget covers the caret in whole pixels; the caret itself may start between them.
    const QRectF bounds(m_frame.topLeft() - QPointF(geometry().topLeft()), m_frame.size());
    const bool hasFocus = m_tracksFocus && m_terminal ? m_terminal->terminalHasFocus() : true;
    drawCursor(painter, bounds, hasFocus);
}

void CaretView::drawCursor(QPainter& painter, const QRectF& bounds, bool hasFocus) {
    TerminalView* view = m_terminal;
    if (!m_text || view == nullptr) {
        return;
    }
    const QColor caretColor = view->effectiveCaretColor().toQColor();
    painter.save();
    painter.setClipRect(bounds, Qt::IntersectClip);
    if (!hasFocus) {
        // A 3-point line along the edge, half of it clipped away: a frame 1.5 points thick.
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(caretColor, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(bounds);
        painter.restore();
        return;
    }
    switch (m_style) {
    case CursorStyle::blinkBlock:
    case CursorStyle::steadyBlock:
        painter.fillRect(bounds, caretColor);
        break;
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
        painter.fillRect(QRectF(bounds.left(), bounds.bottom() - 2, bounds.width(), 2),
                         caretColor);
        painter.restore();
        return;
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
        painter.fillRect(QRectF(bounds.left(), bounds.top(), 2, bounds.height()), caretColor);
        painter.restore();
        return;
    }

    // The character over the block, in the caret text colour.
    const QColor textColor = view->effectiveCaretTextColor().toQColor();
    if (m_powerlineCodePoint && view->customBlockGlyphs()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(textColor);
        drawPowerline(painter, bounds, *m_powerlineCodePoint);
        painter.restore();
        return;
    }
    const QFontMetricsF metrics(view->fontSet().normal);
    const double baseline = bounds.bottom() - std::ceil(metrics.descent() + metrics.leading());
    painter.setPen(textColor);
    for (const Glyph& glyph : m_glyphs) {
        QGlyphRun run;
        run.setRawFont(glyph.font);
        run.setGlyphIndexes({glyph.index});
        run.setPositions({QPointF(bounds.left(), baseline) + glyph.position});
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    painter.restore();
}

void CaretView::drawPowerline(QPainter& painter, const QRectF& bounds, uint32_t code) {
    const double e = devicePixelRatioF();
    if (!(e > 0)) {
        return;
    }
    // The cell's edges on the device-pixel grid, outwards.
    const double left = std::floor(e * bounds.left()) / e;
    const double right = std::ceil(e * bounds.right()) / e;
    const double top = std::floor(e * bounds.top()) / e;
    const double bottom = std::ceil(e * bounds.bottom()) / e;
    const bool pointsRight = code == 0xE0B0 || code == 0xE0B4;
    const double flat = pointsRight ? left : right;
    const double tip = pointsRight ? right : left;

    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(flat, bottom);
    if (code == 0xE0B0 || code == 0xE0B2) {
        path.lineTo(tip, std::round(e * (top + bottom) / 2) / e);
        path.lineTo(flat, top);
    } else {
        // A half disc: one cubic whose control points lie 4/3 of the width out from the flat
        // side, at the bottom and at the top.
        const double reach = (pointsRight ? 1.0 : -1.0) * 4.0 / 3.0 * (right - left);
        path.cubicTo(flat + reach, bottom, flat + reach, top, flat, top);
    }
    path.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawPath(path);
}

} // namespace veldatron
