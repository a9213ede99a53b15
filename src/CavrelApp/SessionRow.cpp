#include "SessionRow.h"
#include "ElidedLabel.h"
#include "SessionDateFormat.h"
#include "UiStyle.h"
#include "WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace cavrel {

SessionRow::SessionRow(const SessionSummary& session, std::function<void(bool)> onToggle,
                       QWidget* parent)
    : QWidget(parent), m_sessionID(session.id), m_onToggle(std::move(onToggle)) {
    setObjectName(QStringLiteral("sessionRow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    m_arrow = new QToolButton(this);
    m_arrow->setObjectName(QStringLiteral("disclosure"));
    m_arrow->setAutoRaise(true);
    m_arrow->setArrowType(Qt::RightArrow);
    m_arrow->setIconSize(QSize(10, 10));
    header->addWidget(m_arrow, 0, Qt::AlignTop);
    auto* label = new QVBoxLayout;
    label->setSpacing(2);
    m_title = new WrappingLabel(
        tr("%1 — %2").arg(session.tool, formatSessionDate(session.startedAt)), this);
    m_title->setObjectName(QStringLiteral("sessionTitle"));
    m_title->setFont(headlineFont());
    label->addWidget(m_title);
    m_summary = new ElidedLabel(session.summary.value_or(QStringLiteral("—")), this);
    m_summary->setObjectName(QStringLiteral("sessionSummary"));
    setSecondary(m_summary);
    label->addWidget(m_summary);
    header->addLayout(label, 1);
    layout->addLayout(header);

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("sessionContent"));
    m_contentLayout = new QVBoxLayout(m_content);
    m_contentLayout->setContentsMargins(22, 8, 0, 8);
    m_contentLayout->setSpacing(12);
    m_content->hide();
    layout->addWidget(m_content);

    connect(m_arrow, &QToolButton::clicked, this, [this] { m_onToggle(!m_expanded); });
}

QString SessionRow::title() const {
    return m_title->text();
}

QString SessionRow::summaryLine() const {
    return m_summary->text();
}

void SessionRow::mousePressEvent(QMouseEvent* event) {
    // The whole header toggles, as the arrow does; clicks in the transcript do not.
    if (event->button() == Qt::LeftButton &&
        (!m_content->isVisible() || event->position().y() < m_content->y())) {
        m_onToggle(!m_expanded);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void SessionRow::clearContent() {
    while (QLayoutItem* item = m_contentLayout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void SessionRow::setState(bool expanded, const SessionDetail* detail) {
    const bool showTranscript = expanded && detail;
    if (expanded == m_expanded && showTranscript == m_showsTranscript && !showTranscript) {
        return;
    }
    m_expanded = expanded;
    m_showsTranscript = showTranscript;
    m_arrow->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    clearContent();
    m_content->setVisible(expanded);
    if (!expanded) {
        return;
    }
    if (!detail) {
        auto* loading = new QWidget(m_content);
        loading->setObjectName(QStringLiteral("transcriptLoading"));
        auto* row = new QHBoxLayout(loading);
        row->setContentsMargins(0, 0, 0, 0);
        auto* busy = new QProgressBar(loading);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        busy->setFixedWidth(80);
        row->addWidget(busy);
        QLabel* text = plainLabel(tr("Loading transcript…"), loading);
        setSecondary(text);
        row->addWidget(text);
        row->addStretch(1);
        m_contentLayout->addWidget(loading);
        return;
    }
    if (detail->summary && !detail->summary->isEmpty()) {
        // Wrapped also inside a long word (a path, a URL): the transcript never widens the list.
        auto* summary = new WrappingLabel(*detail->summary, m_content);
        summary->setObjectName(QStringLiteral("transcriptSummary"));
        m_contentLayout->addWidget(summary);
    }
    for (const SessionMessage& message : detail->messages) {
        auto* block = new QWidget(m_content);
        block->setObjectName(QStringLiteral("transcriptMessage"));
        auto* column = new QVBoxLayout(block);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        auto* role = new WrappingLabel(message.role.toUpper(), block);
        role->setObjectName(QStringLiteral("messageRole"));
        role->setFont(captionFont());
        setSecondary(role);
        column->addWidget(role);
        auto* content = new WrappingLabel(message.content, block);
        content->setObjectName(QStringLiteral("messageContent"));
        content->setFont(monospaceFont());
        column->addWidget(content);
        m_contentLayout->addWidget(block);
    }
}

} // namespace cavrel
