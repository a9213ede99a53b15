#include "SessionsView.h"
#include "ContentUnavailableView.h"
#include "LoadingView.h"
#include "SessionRow.h"
#include "UiStyle.h"

#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace cavrel {

namespace {

QString emptyDescription(const QString& folder) {
    return SessionsView::tr("No agent sessions have been recorded for \"%1\" yet. Run an agent "
                            "from the Agents tab to create one.")
        .arg(folder);
}

} // namespace

SessionsView::SessionsView(CavrelAPIClient apiClient, ProjectStore::Project project,
                           QWidget* parent)
    : HubScreen(std::move(apiClient), std::move(project), parent) {
    setObjectName(QStringLiteral("sessionsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stateArea = new QStackedWidget(this);
    m_stateArea->setObjectName(QStringLiteral("stateArea"));
    m_loadingView = new LoadingView(tr("Loading sessions…"), m_stateArea);
    m_stateArea->addWidget(m_loadingView);

    auto* scroll = new QScrollArea(m_stateArea);
    scroll->setObjectName(QStringLiteral("sessionList"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listPage = new QWidget(scroll);
    m_listPage->setBackgroundRole(QPalette::Base);
    m_listPage->setAutoFillBackground(true);
    m_rowsLayout = new QVBoxLayout(m_listPage);
    m_rowsLayout->setContentsMargins(16, 4, 16, 4);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch(1);
    scroll->setWidget(m_listPage);
    m_stateArea->addWidget(scroll);

    m_emptyState =
        new ContentUnavailableView(tr("No sessions yet"), QStringLiteral("clock.arrow.circlepath"),
                                   emptyDescription(folderName()), m_stateArea);
    m_stateArea->addWidget(m_emptyState);
    layout->addWidget(m_stateArea);

    runLoadTask();
}

QList<SessionRow*> SessionsView::rows() const {
    QList<SessionRow*> rows;
    for (const QPointer<SessionRow>& row : m_rows) {
        if (row) {
            rows.append(row);
        }
    }
    return rows;
}

void SessionsView::runLoadTask() {
    m_loadTask.cancel();
    m_isLoading = true;
    m_emptyState->setDescription(emptyDescription(folderName()));
    renderState();
    // The expanded row and its transcript stay: returning to this project shows them again.
    const std::optional<QString>& remote = project().gitRemoteURL;
    if (!remote) {
        m_isLoading = false;
        renderState();
        return;
    }
    const quint64 generation = projectGeneration();
    m_loadTask = apiClient().listSessions(
        *remote, this, [this, generation](APIResult<QList<SessionSummary>> result) {
            if (generation != projectGeneration()) {
                return;
            }
            if (result) {
                m_sessions = std::move(result).value();
                rebuildRows();
            } else {
                showError(result.error().errorDescription());
            }
            m_isLoading = false;
            renderState();
        });
}

void SessionsView::renderState() {
    if (m_isLoading) {
        m_stateArea->setCurrentWidget(m_loadingView);
    } else if (!m_sessions.isEmpty()) {
        m_stateArea->setCurrentIndex(1);
    } else {
        m_stateArea->setCurrentWidget(m_emptyState);
    }
}

void SessionsView::rebuildRows() {
    for (const QPointer<QWidget>& widget : std::as_const(m_rowWidgets)) {
        if (widget) {
            m_rowsLayout->removeWidget(widget);
            widget->hide();
            widget->deleteLater();
        }
    }
    m_rowWidgets.clear();
    m_rows.clear();
    for (qsizetype i = 0; i < m_sessions.size(); ++i) {
        if (i > 0) {
            QFrame* divider = horizontalDivider(m_listPage);
            m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, divider);
            m_rowWidgets.append(divider);
        }
        const qint64 id = m_sessions[i].id;
        auto* row = new SessionRow(
            m_sessions[i], [this, id](bool expand) { setExpanded(id, expand); }, m_listPage);
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, row);
        m_rowWidgets.append(row);
        m_rows.append(row);
    }
    renderRows();
}

void SessionsView::renderRows() {
    for (const QPointer<SessionRow>& row : std::as_const(m_rows)) {
        if (!row) {
            continue;
        }
        const bool expanded = m_expandedID == row->sessionID();
        row->setState(expanded, expanded && m_detail ? &*m_detail : nullptr);
    }
}

void SessionsView::setExpanded(qint64 sessionID, bool expanded) {
    if (expanded) {
        m_expandedID = sessionID;
        loadDetail(sessionID);
    } else if (m_expandedID == sessionID) {
        // Collapsing neither cancels the request nor forgets the transcript.
        m_expandedID.reset();
    }
    renderRows();
}

void SessionsView::loadDetail(qint64 sessionID) {
    m_detail.reset();
    const quint64 request = ++m_detailRequest;
    // Only the latest request for the row still expanded may fill it, or raise its error: a
    // late reply for another row would show under the wrong session.
    apiClient().getSession(sessionID, this,
                           [this, sessionID, request](APIResult<SessionDetail> result) {
                               if (request != m_detailRequest || m_expandedID != sessionID) {
                                   return;
                               }
                               if (result) {
                                   m_detail = std::move(result).value();
                                   renderRows();
                               } else {
                                   showError(result.error().errorDescription());
                               }
                           });
}

} // namespace cavrel
