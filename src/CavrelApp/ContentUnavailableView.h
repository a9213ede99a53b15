#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace cavrel {

// The centred placeholder of a screen that has nothing to show: a large symbol, a title and an
// optional description (plain text, wrapped).
class ContentUnavailableView : public QWidget {
    Q_OBJECT

public:
    ContentUnavailableView(const QString& title, const QString& symbol,
                           const QString& description = {}, QWidget* parent = nullptr);

    QString title() const;
    QString description() const;
    void setDescription(const QString& description);
    const QString& symbol() const { return m_symbol; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_symbol;
    QLabel* m_title;
    QLabel* m_description;
};

} // namespace cavrel
