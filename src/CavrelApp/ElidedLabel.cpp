#include "ElidedLabel.h"

#include <QPainter>

namespace cavrel {

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
    QString line = lineEnd >= 0 ? m_text.left(lineEnd) + QStringLiteral("…") : m_text;
    return fontMetrics().elidedText(line, Qt::ElideRight, width());
}

QSize ElidedLabel::sizeHint() const {
    const qsizetype lineEnd = m_text.indexOf(u'\n');
    return {fontMetrics().horizontalAdvance(lineEnd >= 0 ? m_text.left(lineEnd) : m_text),
            fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
}

} // namespace cavrel
