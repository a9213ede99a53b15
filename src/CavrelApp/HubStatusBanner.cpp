#include "HubStatusBanner.h"
#include "AppState.h"
#include "UiStyle.h"
#include "WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace cavrel {

HubStatusBanner::HubStatusBanner(AppState& appState, QWidget* parent)
    : QWidget(parent), m_appState(appState) {
    setObjectName(QStringLiteral("hubStatusBanner"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    auto* icon = new QLabel(this);
    icon->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), this).pixmap(16));
    layout->addWidget(icon);

    // The reason may hold a long path: wrapped, it never widens the window.
    m_text = new WrappingLabel({}, this);
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::WindowText, destructiveColor());
    m_text->setPalette(palette);
    layout->addWidget(m_text, 1);

    m_retry = new QPushButton(tr("Retry"), this);
    layout->addWidget(m_retry);

    // The start is the application's, not this window's: closing the window does not stop it.
    connect(m_retry, &QPushButton::clicked, this, [this] { m_appState.start(); });
    connect(&m_appState.hubManager(), &CavrelHubManager::statusChanged, this,
            &HubStatusBanner::refresh);
    refresh();
}

QString HubStatusBanner::text() const {
    return m_text->text();
}

void HubStatusBanner::refresh() {
    const CavrelHubManager::Status& status = m_appState.hubManager().status();
    const bool failed = status.kind == CavrelHubManager::Status::Kind::failed;
    m_text->setText(failed ? tr("cavrel hub failed to start: %1").arg(status.message) : QString());
    setVisible(failed);
}

void HubStatusBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor fill = destructiveColor();
    fill.setAlphaF(0.1);
    painter.fillRect(rect(), fill);
}

} // namespace cavrel
