#include "CellShaper.h"
#include "UnicodeUtil.h"

#include <QFontInfo>
#include <QGlyphRun>
#include <QTextLayout>

#include <algorithm>
#include <optional>

namespace veldatron {

namespace {

// The scalar at `i`, moving `i` past it.
char32_t nextScalar(QStringView text, qsizetype& i) {
    const QChar c = text[i++];
    if (c.isHighSurrogate() && i < text.size() && text[i].isLowSurrogate()) {
        return QChar::surrogateToUcs4(c, text[i++]);
    }
    return c.unicode();
}

bool isMark(char32_t scalar) {
    const QChar::Category category = QChar::category(scalar);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// One character followed by combining marks only (variation selectors are marks too).
bool isBaseWithMarks(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    qsizetype i = 0;
    nextScalar(text, i);
    bool marks = false;
    while (i < text.size()) {
        if (!isMark(nextScalar(text, i))) {
            return false;
        }
        marks = true;
    }
    return marks;
}

QRectF inkOf(const CellShaper::Glyph& glyph) {
    return glyph.font.boundingRect(glyph.index).translated(glyph.offset);
}

// Marks that the font has no anchor for come out of the shaping after the base, as if they were
// the next cell's: with DejaVu Sans Mono, "A" and four U+0301 become the composed "Á" and three
// acute accents one advance to the right ("Á´"). Such marks go back over the base, centred on
// its ink and stacked: a mark above the baseline just above the base and the marks already put
// there, one below it just below them. Marks the shaping placed inside the slot stay where it
// put them.
void stackStrayMarks(std::vector<CellShaper::Glyph>& glyphs, double slotWidth, double gap) {
    std::optional<QRectF> stack; // the ink of the base and of the marks on it so far
    std::vector<size_t> stray;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        // A mark the font placed over its base has its ink there, whatever its pen position.
        if (inkOf(glyphs[i]).center().x() > slotWidth) {
            stray.push_back(i);
            continue;
        }
        const QRectF ink = inkOf(glyphs[i]);
        if (!ink.isEmpty()) {
            stack = stack ? stack->united(ink) : ink;
        }
    }
    const double centre = stack ? stack->center().x() : slotWidth / 2;
    for (size_t i : stray) {
        CellShaper::Glyph& mark = glyphs[i];
        const QRectF own = mark.font.boundingRect(mark.index);
        if (own.isEmpty()) {
            continue; // nothing to see (a variation selector's empty glyph)
        }
        const bool above = own.center().y() < 0;
        double y = 0;
        if (stack) {
            y = above ? std::min(0.0, stack->top() - gap - own.bottom())
                      : std::max(0.0, stack->bottom() + gap - own.top());
        }
        mark.offset = QPointF(centre - own.center().x(), y);
        const QRectF ink = inkOf(mark);
        stack = stack ? stack->united(ink) : ink;
    }
}

} // namespace

bool CellShaper::prefersEmojiPresentation(QStringView text) {
    if (text.contains(QChar(0xFE0F))) {
        return true;
    }
    if (text.isEmpty() || text.contains(QChar(0xFE0E))) {
        return false;
    }
    qsizetype i = 0;
    const char32_t first = nextScalar(text, i);
    return UnicodeUtil::bisearch(first, ucd::emojiPresentation,
                                 int(ucd::emojiPresentation.size()) - 1);
}

const QString& CellShaper::emojiFamily() {
    static const QString family = [] {
        // The system maps the generic name "emoji" to its emoji font. Without one the name
        // resolves like any unknown family, to the default font.
        const QString emoji = QFontInfo(QFont(QStringLiteral("emoji"))).family();
        const QString unknown =
            QFontInfo(QFont(QStringLiteral("veldatron-no-such-family"))).family();
        return emoji == unknown ? QString() : emoji;
    }();
    return family;
}

const std::vector<CellShaper::Glyph>& CellShaper::shape(const QString& text, const QFont& font,
                                                        int fontKey, double slotWidth) {
    Key key{text, fontKey, slotWidth};
    if (auto found = m_cache.find(key); found != m_cache.end()) {
        return found->second;
    }
    if (m_cache.size() >= limit) {
        m_cache.clear();
    }
    std::vector<Glyph> glyphs;
    QFont shapingFont = font;
    if (!emojiFamily().isEmpty() && prefersEmojiPresentation(text)) {
        // The fallback the system picks for an emoji after a text font is often a text font
        // with a plain outline of it: ask for the emoji font first.
        shapingFont.setFamilies({emojiFamily(), font.family()});
    }
    QTextLayout layout(text, shapingFont);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (line.isValid()) {
        // The cell's pen position is where the line starts, on its baseline: the base's pen. A
        // mark may lie left of it ("y" with U+0327 puts the cedilla's pen 2.8 px to the left)
        // or below it, and runs come per font, not left to right, so no glyph stands for it.
        const QPointF origin(line.x(), line.y() + line.ascent());
        const QList<QGlyphRun> runs = layout.glyphRuns();
        for (const QGlyphRun& run : runs) {
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < indexes.size() && i < positions.size(); ++i) {
                glyphs.push_back({run.rawFont(), indexes[i], positions[i] - origin});
            }
        }
        if (slotWidth > 0 && !glyphs.empty() && isBaseWithMarks(text)) {
            // A little air between stacked marks, growing with the font.
            stackStrayMarks(glyphs, slotWidth, std::max(1.0, glyphs[0].font.pixelSize() / 14.0));
        }
    }
    return m_cache.emplace(std::move(key), std::move(glyphs)).first->second;
}

} // namespace veldatron
