// Readable failure output for the hub client's value types.
#include "CavrelHubManager.h"
#include "ProjectStore.h"

#include <ostream>

namespace cavrel {

void PrintTo(const CavrelHubManager::Status& status, std::ostream* out) {
    using Kind = CavrelHubManager::Status::Kind;
    switch (status.kind) {
    case Kind::notStarted:
        *out << "notStarted";
        break;
    case Kind::starting:
        *out << "starting";
        break;
    case Kind::running:
        *out << "running(" << status.baseURL.toString().toStdString() << ", "
             << status.token.toStdString() << ")";
        break;
    case Kind::failed:
        *out << "failed(" << status.message.toStdString() << ")";
        break;
    }
}

void PrintTo(const CavrelHubManager::HubConfig& config, std::ostream* out) {
    *out << "{port " << config.port << ", dbPath " << config.dbPath.toStdString() << ", token "
         << config.token.toStdString() << "}";
}

void PrintTo(const ProjectStore::Project& project, std::ostream* out) {
    *out << "{" << project.path.toStdString() << ", "
         << (project.gitRemoteURL ? project.gitRemoteURL->toStdString() : "(no remote)") << "}";
}

} // namespace cavrel

QT_BEGIN_NAMESPACE
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE
