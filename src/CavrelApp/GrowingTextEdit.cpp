#include "GrowingTextEdit.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>
#include <QtMath>

namespace cavrel {

GrowingTextEdit::GrowingTextEdit(int minimumLines, int maximumLines, const QString& placeholder,
                                 QWidget* parent)
    : QPlainTextEdit(parent), m_minimumLines(minimumLines), m_maximumLines(maximumLines),
      m_lines(minimumLines) {
    setPlaceholderText(placeholder);
    setTabChangesFocus(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(heightForLines(m_lines));
    connect(this, &QPlainTextEdit::textChanged, this, &GrowingTextEdit::fitToText);
}

QSize GrowingTextEdit::sizeHint() const {
    return {QPlainTextEdit::sizeHint().width(), heightForLines(m_lines)};
}

QSize GrowingTextEdit::minimumSizeHint() const {
    return {QPlainTextEdit::minimumSizeHint().width(), heightForLines(m_lines)};
}

void GrowingTextEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    fitToText();
}

int GrowingTextEdit::heightForLines(int lines) const {
    const int frame = 2 * frameWidth();
    const int margins = contentsMargins().top() + contentsMargins().bottom() +
                        viewportMargins().top() + viewportMargins().bottom();
    const qreal documentMargin = 2 * document()->documentMargin();
    return qCeil(lines * fontMetrics().lineSpacing() + documentMargin) + frame + margins;
}

void GrowingTextEdit::fitToText() {
    // Wrapped lines count: lay each paragraph out at the viewport's width.
    const qreal width = qMax(1.0, viewport()->width() - 2 * document()->documentMargin());
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout layout(block.text(), font());
        QTextOption option = document()->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int blockLines = 0;
        while (true) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(width);
            ++blockLines;
        }
        layout.endLayout();
        lines += qMax(1, blockLines);
        if (lines >= m_maximumLines) {
            break;
        }
    }
    lines = qBound(m_minimumLines, lines, m_maximumLines);
    if (lines != m_lines) {
        m_lines = lines;
        setFixedHeight(heightForLines(lines));
    }
}

} // namespace cavrel
