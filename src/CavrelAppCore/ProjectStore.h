#pragma once

#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace cavrel {

// The recently opened project folders, newest first, persisted in the user's settings, and the
// active project that the agent tabs start in and the hub screens query. A project is known to
// the hub by its git "origin" URL, resolved when the folder is opened.
//
// Owned by the application state for the application's life; main thread only.
class ProjectStore : public QObject {
    Q_OBJECT

public:
    struct Project {
        QString path;                        // also the project's identity
        std::optional<QString> gitRemoteURL; // trimmed; none when the folder has no origin

        const QString& id() const { return path; }
        bool operator==(const Project&) const = default;
    };

    using GitRemoteResolver = std::function<std::optional<QString>(const QString& path)>;

    static constexpr int maxRecents = 10;
    static constexpr const char* recentsKey = "cavrel.recentProjects";

    // Loads the persisted list at once; its first entry becomes the active project.
    explicit ProjectStore(std::unique_ptr<QSettings> defaults,
                          GitRemoteResolver gitRemoteResolver = &ProjectStore::resolveGitRemote,
                          QObject* parent = nullptr);
    ~ProjectStore() override;

    const QList<Project>& recents() const { return m_recents; }
    const std::optional<Project>& activeProject() const { return m_activeProject; }

    // Resolves the folder's remote (blocking while git runs), moves the folder to the front of
    // the list, keeps the newest ten, makes it active and saves the list. Never fails.
    void openProject(const QString& path);

    // Reads the persisted list; a missing or unreadable value leaves the store as it is.
    void load();
    // Writes the list as the UTF-8 bytes of a compact JSON array.
    void save();

    // The folder's "origin" URL from `git remote get-url origin`, or none when the folder is no
    // repository, has no such remote, or git cannot be run.
    static std::optional<QString> resolveGitRemote(const QString& path);

    // The list's persisted form, and its reading; one malformed element spoils the whole list.
    static QByteArray encodeRecents(const QList<Project>& projects);
    static std::optional<QList<Project>> decodeRecents(const QByteArray& json);

signals:
    void recentsChanged();
    void activeProjectChanged();

private:
    QList<Project> m_recents;
    std::optional<Project> m_activeProject;
    std::unique_ptr<QSettings> m_defaults;
    GitRemoteResolver m_gitRemoteResolver;
};

} // namespace cavrel
