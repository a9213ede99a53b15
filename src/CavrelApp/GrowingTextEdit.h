#pragma once

#include <QPlainTextEdit>

namespace cavrel {

// A multi-line text field that grows with its text between a minimum and a maximum number of
// lines, then scrolls. Tab moves to the next field rather than typing a tab.
class GrowingTextEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    GrowingTextEdit(int minimumLines, int maximumLines, const QString& placeholder,
                    QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int heightForLines(int lines) const;
    void fitToText();

    int m_minimumLines;
    int m_maximumLines;
    int m_lines;
};

} // namespace cavrel
