#include "DictationOverlayTextView.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QTextOption>

#include <algorithm>

namespace veldatron {

DictationOverlayTextView::DictationOverlayTextView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("markedTextOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void DictationOverlayTextView::setContent(const QString& text,
                                          const QList<QTextLayout::FormatRange>& formats,
                                          const Layout& layout) {
    QFont font = layout.font;
    font.setLetterSpacing(QFont::AbsoluteSpacing, layout.kerning);
    m_layout.clearLayout();
    m_layout.setText(text);
    m_layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_layout.setTextOption(option);
    m_layout.setFormats(formats);

    m_fragments.clear();
    const double width = std::max(layout.width, 1.0);
    const double characterWidth =
        QFontMetricsF(layout.font).horizontalAdvance(QLatin1Char('W')) + layout.kerning;
    // A first line with no room for a character (the caret at the right edge) stays empty.
    int lineIndex = width - layout.firstLineIndent < characterWidth ? 1 : 0;
    m_layout.beginLayout();
    for (QTextLine line = m_layout.createLine(); line.isValid(); line = m_layout.createLine()) {
        const double x = lineIndex == 0 ? layout.firstLineIndent : 0;
        line.setLineWidth(std::max(0.0, width - x));
        const double top = lineIndex * layout.lineHeight;
        line.setPosition(QPointF(x, top + layout.baseline - line.ascent()));
        m_fragments.append(QRectF(x, top, width - x, layout.lineHeight));
        ++lineIndex;
    }
    m_layout.endLayout();
    m_height = m_fragments.isEmpty() ? layout.lineHeight : lineIndex * layout.lineHeight;
    update();
}

void DictationOverlayTextView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    drawPerFragmentBackground(painter, QRectF(event->rect()));
    painter.setPen(m_textColor);
    m_layout.draw(&painter, QPointF(0, 0));
}

void DictationOverlayTextView::drawPerFragmentBackground(QPainter& painter,
                                                         const QRectF& dirtyRect) {
    for (const QRectF& fragment : m_fragments) {
        if (fragment.intersects(dirtyRect)) {
            painter.fillRect(fragment, m_overlayBackgroundColor);
        }
    }
}

} // namespace veldatron
