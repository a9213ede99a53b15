#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QTextLayout>
#include <QWidget>

namespace veldatron {

/// The input method's composition in progress, shown over the terminal at the caret: the text in
/// the terminal's font, one character per cell width, lines one cell high, the first line
/// starting at the caret and later ones at the overlay's left edge, each line on a background of
/// its own. A child of the terminal view that exists only while there is a composition; the
/// view lays it out again on every change.
class DictationOverlayTextView : public QWidget {
    Q_OBJECT

public:
    /// How to lay the composition out.
    struct Layout {
        QFont font;
        /// Extra space after each character, so that every character takes one cell width.
        double kerning = 0;
        double lineHeight = 1;
        /// From a line's top down to its baseline.
        double baseline = 0;
        double width = 1;
        /// Where the first line starts (the caret), from the overlay's left edge; 0 for none.
        double firstLineIndent = 0;
    };

    explicit DictationOverlayTextView(QWidget* parent);

    /// Replaces the text and lays it out: the overlay's height becomes that of its lines.
    void setContent(const QString& text, const QList<QTextLayout::FormatRange>& formats,
                    const Layout& layout);
    QColor overlayBackgroundColor() const { return m_overlayBackgroundColor; }
    void setOverlayBackgroundColor(const QColor& color) { m_overlayBackgroundColor = color; }
    QColor textColor() const { return m_textColor; }
    void setTextColor(const QColor& color) { m_textColor = color; }

    QString text() const { return m_layout.text(); }
    /// The height of the laid-out lines.
    double layoutHeight() const { return m_height; }
    /// Each laid-out line's rectangle (the background drawn behind it), in overlay coordinates.
    const QList<QRectF>& lineFragments() const { return m_fragments; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawPerFragmentBackground(QPainter& painter, const QRectF& dirtyRect);

    QTextLayout m_layout;
    QList<QRectF> m_fragments;
    double m_height = 0;
    QColor m_overlayBackgroundColor = Qt::transparent;
    QColor m_textColor = Qt::black;
};

} // namespace veldatron
