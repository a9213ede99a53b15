#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace cavrel {

// A busy indicator with its label, shown while a list loads.
class LoadingView : public QWidget {
    Q_OBJECT

public:
    explicit LoadingView(const QString& label, QWidget* parent = nullptr);
    QString label() const;

private:
    QLabel* m_label;
};

} // namespace cavrel
