#include "ElidedLabel.h"

#include <QPainter>

#include <cmath>

namespace cavrel {

namespace {

const QString ellipsis = QStringLiteral("…");

} // namespace

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QWidget(parent), m_text(text) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    m_text = text;
    updateGeometry();
    update();
}

QString ElidedLabel::shownText() const {
    const qsizetype lineEnd = m_text.indexOf(u'\n');
    QString line = lineEnd >= 0 ? m_text.left(lineEnd) + ellipsis : m_text;
    return fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const {
    const qsizetype lineEnd = m_text.indexOf(u'\n');
    const QMargins margins = contentsMargins();
    // Rounded up: eliding compares the exact advance, and a width rounded down by a fraction of
    // a pixel would cut a text that had all the room it asked for.
    const qreal advance =
        QFontMetricsF(font(), this).horizontalAdvance(lineEnd >= 0 ? m_text.left(lineEnd) : m_text);
    return {int(std::ceil(advance)) + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for the ellipsis at least, where the layout honours a minimum.
    const QMargins margins = contentsMargins();
    return {qMin(sizeHint().width(),
                 fontMetrics().horizontalAdvance(ellipsis) + margins.left() + margins.right()),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     shownText());
}

} // namespace cavrel
