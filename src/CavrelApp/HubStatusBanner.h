#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace cavrel {

class AppState;

// The strip above every screen of a window that says why the hub did not start, with "Retry".
// Hidden unless the hub's status is failed; follows the status as it changes.
class HubStatusBanner : public QWidget {
    Q_OBJECT

public:
    explicit HubStatusBanner(AppState& appState, QWidget* parent = nullptr);

    QString text() const;
    QPushButton* retryButton() const { return m_retry; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppState& m_appState;
    QLabel* m_text;
    QPushButton* m_retry;
};

} // namespace cavrel
