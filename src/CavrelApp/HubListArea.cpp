#include "HubListArea.h"
#include "ContentUnavailableView.h"
#include "LoadingView.h"
#include "UiStyle.h"

#include <QFrame>
#include <QScrollArea>
#include <QVBoxLayout>

namespace cavrel {

HubListArea::HubListArea(const QString& loadingText, const QString& emptyTitle,
                         const QString& emptySymbol, QWidget* parent)
    : QStackedWidget(parent) {
    setObjectName(QStringLiteral("stateArea"));
    m_loadingView = new LoadingView(loadingText, this);
    addWidget(m_loadingView);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("list"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // Rows wrap their texts at the list's width; should a row still need more than the list
    // has (a very narrow window), it scrolls rather than push its buttons out of reach.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listPage = new QWidget(scroll);
    m_listPage->setBackgroundRole(QPalette::Base);
    m_listPage->setAutoFillBackground(true);
    m_rowsLayout = new QVBoxLayout(m_listPage);
    m_rowsLayout->setContentsMargins(16, 4, 16, 4);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch(1);
    scroll->setWidget(m_listPage);
    m_list = scroll;
    addWidget(m_list);

    m_emptyState = new ContentUnavailableView(emptyTitle, emptySymbol, {}, this);
    addWidget(m_emptyState);
}

void HubListArea::showState(bool isLoading) {
    if (isLoading) {
        setCurrentWidget(m_loadingView);
    } else {
        setCurrentWidget(m_rows.isEmpty() ? static_cast<QWidget*>(m_emptyState) : m_list);
    }
}

void HubListArea::setRows(const QList<QWidget*>& rows) {
    for (const QList<QPointer<QWidget>>* old : {&m_rows, &m_dividers}) {
        for (const QPointer<QWidget>& widget : *old) {
            if (widget) {
                m_rowsLayout->removeWidget(widget);
                widget->hide();
                widget->deleteLater();
            }
        }
    }
    m_rows.clear();
    m_dividers.clear();
    for (QWidget* row : rows) {
        if (!m_rows.isEmpty()) {
            QFrame* divider = horizontalDivider(m_listPage);
            m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, divider);
            m_dividers.append(divider);
        }
        row->setParent(m_listPage);
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, row);
        m_rows.append(row);
    }
}

QList<QWidget*> HubListArea::rows() const {
    QList<QWidget*> rows;
    for (const QPointer<QWidget>& row : m_rows) {
        if (row) {
            rows.append(row);
        }
    }
    return rows;
}

} // namespace cavrel
