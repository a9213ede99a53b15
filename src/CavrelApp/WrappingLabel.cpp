#include "WrappingLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <cmath>
#include <limits>

namespace cavrel {

namespace {

// How narrow a long text may be squeezed, in average character widths.
constexpr int minimumCharacters = 12;

} // namespace

WrappingLabel::WrappingLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // Keeps the height-for-width size policy that QLabel gives a wrapping label.
    setWordWrap(true);
    setText(text);
}

qreal WrappingLabel::layOut(QTextLayout& layout, qreal width) const {
    // A line feed ends a line here, as it does in a label; the layout takes only the
    // Unicode line separator for that.
    QString shown = text();
    shown.replace(u'\n', QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(QFont(font(), this));
    QTextOption option(QStyle::visualAlignment(layoutDirection(), alignment()) &
                       Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const qreal lineWidth = width < 0 ? std::numeric_limits<qreal>::max() / 4 : width;
    const qreal leading = fontMetrics().leading();
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        if (height > 0) {
            height += leading;
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

QSizeF WrappingLabel::textSize(qreal width) const {
    if (width != m_cachedWidth || text() != m_cachedText || font() != m_cachedFont) {
        QTextLayout layout;
        const qreal height = layOut(layout, width);
        qreal widest = 0;
        for (int i = 0; i < layout.lineCount(); ++i) {
            widest = qMax(widest, layout.lineAt(i).naturalTextWidth());
        }
        m_cachedText = text();
        m_cachedFont = font();
        m_cachedWidth = width;
        m_cachedSize = QSizeF(widest, height);
    }
    return m_cachedSize;
}

QSize WrappingLabel::sizeHint() const {
    const QSizeF text = textSize(-1);
    const QMargins margins = contentsMargins();
    return QSize(int(std::ceil(text.width())), int(std::ceil(text.height()))) +
           QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize WrappingLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    const int width = qMin(sizeHint().width() - margins.left() - margins.right(),
                           fontMetrics().averageCharWidth() * minimumCharacters);
    return QSize(width + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

int WrappingLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int textWidth = qMax(1, width - margins.left() - margins.right());
    return int(std::ceil(textSize(textWidth).height())) + margins.top() + margins.bottom();
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    const QRect area = contentsRect();
    QTextLayout layout;
    const qreal height = layOut(layout, area.width());
    qreal top = area.top();
    if (alignment() & Qt::AlignVCenter) {
        top += (area.height() - height) / 2;
    } else if (alignment() & Qt::AlignBottom) {
        top += area.height() - height;
    }
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, QPointF(area.left(), top));
}

} // namespace cavrel
