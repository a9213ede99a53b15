#include "SessionsView.h"
#include "ContentUnavailableView.h"
#include "HubListArea.h"
#include "LoadingView.h"
#include "SessionRow.h"

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
    m_stateArea = new HubListArea(tr("Loading sessions…"), tr("No sessions yet"),
                                  QStringLiteral("clock.arrow.circlepath"), this);
    layout->addWidget(m_stateArea);

    runLoadTask();
}

LoadingView* SessionsView::loadingView() const {
    return m_stateArea->loadingView();
}

ContentUnavailableView* SessionsView::emptyState() const {
    return m_stateArea->emptyState();
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
    m_stateArea->emptyState()->setDescription(emptyDescription(folderName()));
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
    m_stateArea->showState(m_isLoading);
}

void SessionsView::rebuildRows() {
    QList<QWidget*> rows;
    m_rows.clear();
    for (const SessionSummary& session : std::as_const(m_sessions)) {
        const qint64 id = session.id;
        auto* row = new SessionRow(
            session, [this, id](bool expand) { setExpanded(id, expand); }, m_stateArea->listPage());
        rows.append(row);
        m_rows.append(row);
    }
    m_stateArea->setRows(rows);
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
