#include "ProjectStore.h"
#include "StrictUtf8.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace cavrel {

ProjectStore::ProjectStore(std::unique_ptr<QSettings> defaults, GitRemoteResolver gitRemoteResolver,
                           QObject* parent)
    : QObject(parent), m_defaults(std::move(defaults)),
      m_gitRemoteResolver(std::move(gitRemoteResolver)) {
    load();
}

ProjectStore::~ProjectStore() = default;

void ProjectStore::openProject(const QString& path) {
    std::optional<QString> remote =
        m_gitRemoteResolver ? m_gitRemoteResolver(path) : std::optional<QString>();
    m_recents.removeIf([&path](const Project& project) { return project.path == path; });
    m_recents.prepend(Project{path, remote});
    while (m_recents.size() > maxRecents) {
        m_recents.removeLast();
    }
    emit recentsChanged();
    m_activeProject = Project{path, std::move(remote)};
    emit activeProjectChanged();
    save();
}

void ProjectStore::load() {
    const QVariant value = m_defaults->value(QString::fromLatin1(recentsKey));
    // Only a data value counts; a string put there by hand is no list.
    if (value.typeId() != QMetaType::QByteArray) {
        return;
    }
    std::optional<QList<Project>> decoded = decodeRecents(value.toByteArray());
    if (!decoded) {
        return;
    }
    m_recents = std::move(*decoded);
    emit recentsChanged();
    m_activeProject = m_recents.isEmpty() ? std::nullopt : std::optional(m_recents.first());
    emit activeProjectChanged();
}

void ProjectStore::save() {
    m_defaults->setValue(QString::fromLatin1(recentsKey), encodeRecents(m_recents));
}

QByteArray ProjectStore::encodeRecents(const QList<Project>& projects) {
    QJsonArray array;
    for (const Project& project : projects) {
        QJsonObject object{{QStringLiteral("path"), project.path}};
        if (project.gitRemoteURL) {
            object.insert(QStringLiteral("gitRemoteURL"), *project.gitRemoteURL);
        }
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<ProjectStore::Project>> ProjectStore::decodeRecents(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    QList<Project> projects;
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject()) {
            return std::nullopt;
        }
        const QJsonObject object = element.toObject();
        const QJsonValue path = object.value(QStringLiteral("path"));
        const QJsonValue remote = object.value(QStringLiteral("gitRemoteURL"));
        if (!path.isString()) {
            return std::nullopt;
        }
        Project project{path.toString(), std::nullopt};
        if (remote.isString()) {
            project.gitRemoteURL = remote.toString();
        } else if (!remote.isUndefined() && !remote.isNull()) {
            return std::nullopt;
        }
        projects.append(std::move(project));
    }
    return projects;
}

std::optional<QString> ProjectStore::resolveGitRemote(const QString& path) {
    QProcess git;
    git.setProgram(QStringLiteral("/usr/bin/env"));
    git.setArguments({QStringLiteral("git"), QStringLiteral("-C"), path, QStringLiteral("remote"),
                      QStringLiteral("get-url"), QStringLiteral("origin")});
    git.setInputChannelMode(QProcess::ForwardedInputChannel);
    git.setStandardErrorFile(QProcess::nullDevice());
    git.start();
    if (!git.waitForStarted(-1)) {
        return std::nullopt;
    }
    git.waitForFinished(-1);
    if (git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0) {
        return std::nullopt;
    }
    const std::optional<QString> output = decodeStrictUtf8(git.readAllStandardOutput());
    if (!output) {
        return std::nullopt;
    }
    QString remote = output->trimmed();
    if (remote.isEmpty()) {
        return std::nullopt;
    }
    return remote;
}

} // namespace cavrel
