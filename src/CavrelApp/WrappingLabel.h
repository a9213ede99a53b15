#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

class QTextLayout;

namespace cavrel {

// Plain text shown whole at whatever width its layout gives it: wrapped between words where it
// can be, and inside a word that is wider than the line (a long path, a URL, a hash) where it
// cannot, so that no text ever makes its layout wider than the space there is. Its height is
// the height of the wrapped text at its width.
//
// A QLabel so that it is read, styled and found as one (text(), fonts, palettes); QLabel's own
// word wrap never breaks inside a word, so the layout and painting are done here.
class WrappingLabel : public QLabel {
    Q_OBJECT

public:
    explicit WrappingLabel(const QString& text = {}, QWidget* parent = nullptr);

    // The unwrapped text, each line as long as it is.
    QSize sizeHint() const override;
    // As narrow as a few characters (a shorter text keeps its own width), one line high.
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out in lines at most `width` wide; returns the height of the lines.
    qreal layOut(QTextLayout& layout, qreal width) const;
    // The text's extent laid out at `width` (unbounded when negative), cached for the last width.
    QSizeF textSize(qreal width) const;

    mutable QString m_cachedText;
    mutable QFont m_cachedFont;
    mutable qreal m_cachedWidth = -2;
    mutable QSizeF m_cachedSize;
};

} // namespace cavrel
