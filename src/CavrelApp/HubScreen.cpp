#include "HubScreen.h"
#include "LastPathComponent.h"

#include <QMessageBox>

namespace cavrel {

HubScreen::HubScreen(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent)
    : QWidget(parent), m_apiClient(std::move(apiClient)), m_project(std::move(project)) {}

HubScreen::~HubScreen() {
    // The alert is a child and dies after this object's members: it must not clear them then.
    if (m_alert) {
        disconnect(m_alert, nullptr, this, nullptr);
    }
}

void HubScreen::setProject(const ProjectStore::Project& project) {
    // The pair, not the path alone: a folder reopened after its origin changed is another
    // project to the hub.
    if (project == m_project) {
        return;
    }
    m_project = project;
    ++m_projectGeneration;
    runLoadTask();
}

QString HubScreen::folderName() const {
    return lastPathComponent(m_project.path);
}

void HubScreen::showError(const QString& message) {
    m_errorMessage = message;
    if (m_alert) {
        m_alert->setText(message);
        return;
    }
    auto* alert = new QMessageBox(alertParent());
    alert->setObjectName(QStringLiteral("errorAlert"));
    alert->setWindowTitle(tr("Error"));
    alert->setIcon(QMessageBox::Warning);
    // The hub's message verbatim: a body with "<b>" is text, not markup.
    alert->setTextFormat(Qt::PlainText);
    alert->setText(message);
    alert->addButton(tr("OK"), QMessageBox::AcceptRole);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // However the alert goes (OK, Escape, its sheet closing under it), its message goes too.
    connect(alert, &QDialog::finished, this, [this] { m_errorMessage.reset(); });
    connect(alert, &QObject::destroyed, this, [this] { m_errorMessage.reset(); });
    m_alert = alert;
    alert->open();
}

} // namespace cavrel
