#pragma once

#include <QString>
#include <QWidget>

namespace cavrel {

// One line of plain text cut to the width it is given: the first line of the text, ended with
// "…" when the text goes on or does not fit. Never widens its layout (a layout may squeeze it
// down to the ellipsis where its size policy allows). Drawn inside its contents margins.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    // What is drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

} // namespace cavrel
