#pragma once

#include "APIModels.h"
#include "HubScreen.h"

#include <QList>
#include <QPointer>

#include <optional>

namespace cavrel {

class ContentUnavailableView;
class HubListArea;
class LoadingView;
class SessionRow;

// The agent sessions the hub recorded for the active project, newest as the hub orders them.
// Expanding a row (one at a time) fetches that session's transcript anew and shows it under the
// row. Read-only.
class SessionsView : public HubScreen {
    Q_OBJECT

public:
    SessionsView(CavrelAPIClient apiClient, ProjectStore::Project project,
                 QWidget* parent = nullptr);

    const QList<SessionSummary>& sessions() const { return m_sessions; }
    const std::optional<qint64>& expandedID() const { return m_expandedID; }
    const std::optional<SessionDetail>& detail() const { return m_detail; }
    bool isLoading() const { return m_isLoading; }

    HubListArea* stateArea() const { return m_stateArea; }
    LoadingView* loadingView() const;
    ContentUnavailableView* emptyState() const;
    QList<SessionRow*> rows() const;

    // What the disclosure of a row does.
    void setExpanded(qint64 sessionID, bool expanded);

protected:
    void runLoadTask() override;

private:
    void loadDetail(qint64 sessionID);
    void renderState();
    void rebuildRows();
    void renderRows();

    QList<SessionSummary> m_sessions;
    std::optional<qint64> m_expandedID;
    std::optional<SessionDetail> m_detail;
    bool m_isLoading = true;
    APIRequest m_loadTask;
    quint64 m_detailRequest = 0;

    HubListArea* m_stateArea;
    QList<QPointer<SessionRow>> m_rows;
};

} // namespace cavrel
