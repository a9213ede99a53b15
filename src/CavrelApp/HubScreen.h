#pragma once

#include "CavrelAPIClient.h"
#include "ProjectStore.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace cavrel {

// What the four hub screens share: their copies of the hub client and of the active project,
// and the "Error" alert that shows the message of a failed hub request.
//
// A screen is built by its window each time it is selected and lives while it stays selected;
// when only the active project changes, the window hands the new project to the same screen,
// which reloads when the project's folder or its origin URL changed. Every reply of a load for
// an earlier project is dropped, its error included: leaving a project is the user's own doing,
// not a failure to report.
class HubScreen : public QWidget {
    Q_OBJECT

public:
    HubScreen(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent = nullptr);
    ~HubScreen() override;

    const CavrelAPIClient& apiClient() const { return m_apiClient; }
    const ProjectStore::Project& project() const { return m_project; }

    // A newer client serves the requests made from now on; nothing is reloaded.
    void setApiClient(const CavrelAPIClient& apiClient) { m_apiClient = apiClient; }
    void setProject(const ProjectStore::Project& project);

    // The message of the alert while it is up.
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    QMessageBox* errorAlert() const { return m_alert; }

protected:
    // Starts the load of the screen's list for the current project, showing the loading state.
    virtual void runLoadTask() = 0;
    // The window the alert is shown over: the screen's, or an open sheet's.
    virtual QWidget* alertParent() { return this; }

    // Shows the alert with `message`, or puts the message into the alert already up.
    void showError(const QString& message);

    // Changes with every change of project; a reply that carries an older value is stale.
    quint64 projectGeneration() const { return m_projectGeneration; }
    QString folderName() const;

private:
    CavrelAPIClient m_apiClient;
    ProjectStore::Project m_project;
    quint64 m_projectGeneration = 0;
    std::optional<QString> m_errorMessage;
    QPointer<QMessageBox> m_alert;
};

} // namespace cavrel
