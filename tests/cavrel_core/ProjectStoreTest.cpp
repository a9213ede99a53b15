#include "PrintTo.h"
#include "ProjectStore.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using cavrel::ProjectStore;
using Project = ProjectStore::Project;

namespace {

// Each store reads and writes a settings file of its own in a temporary folder, never the
// user's settings.
class ProjectStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::unique_ptr<QSettings> settings() const {
        return std::make_unique<QSettings>(m_dir.filePath("settings.conf"), QSettings::IniFormat);
    }

    // A store whose resolver answers "origin-of:<path>" and records its calls.
    std::unique_ptr<ProjectStore> makeStore() {
        return std::make_unique<ProjectStore>(settings(), [this](const QString& path) {
            m_resolved.append(path);
            return std::optional<QString>("origin-of:" + path);
        });
    }

    void storeValue(const QVariant& value) const {
        settings()->setValue(ProjectStore::recentsKey, value);
    }

    static QStringList paths(const QList<Project>& projects) {
        QStringList result;
        for (const Project& project : projects) {
            result.append(project.path);
        }
        return result;
    }

    static QByteArray storedList(QStringList paths) {
        QList<Project> projects;
        for (const QString& path : paths) {
            projects.append({path, "stored:" + path});
        }
        return ProjectStore::encodeRecents(projects);
    }

    static QStringList numbered(int first, int last) {
        QStringList result;
        for (int i = first; i <= last; ++i) {
            result.append("/p" + QString::number(i));
        }
        return result;
    }

    QTemporaryDir m_dir;
    QStringList m_resolved;
};

TEST_F(ProjectStoreTest, OpeningMovesToTheFrontAndKeepsTheNewestTen) {
    struct Case {
        const char* name;
        QStringList stored;
        QStringList opened;
        QStringList expected;
    };
    const Case cases[] = {
        {"first open of an empty list", {}, {"/a"}, {"/a"}},
        {"reopen moves to the front without growing",
         {"/a", "/b", "/c"},
         {"/c"},
         {"/c", "/a", "/b"}},
        {"reopening the newest keeps the order", {"/a", "/b"}, {"/a"}, {"/a", "/b"}},
        {"an eleventh folder drops the oldest",
         numbered(1, 10),
         {"/new"},
         QStringList{"/new"} + numbered(1, 9)},
        {"a stored list of twelve is cut to ten on the next open",
         numbered(1, 12),
         {"/p5"},
         QStringList{"/p5"} + numbered(1, 4) + numbered(6, 10)},
        {"every stored duplicate goes when the path is reopened",
         {"/a", "/b", "/a"},
         {"/a"},
         {"/a", "/b"}},
        {"paths compare as whole texts", {"/a"}, {"/a/"}, {"/a/", "/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeValue(storedList(c.stored));
        auto store = makeStore();
        EXPECT_EQ(paths(store->recents()), c.stored) << "loaded whole";
        for (const QString& path : c.opened) {
            store->openProject(path);
        }
        EXPECT_EQ(paths(store->recents()), c.expected);
        const Project front{c.opened.last(), "origin-of:" + c.opened.last()};
        EXPECT_EQ(store->recents().first(), front) << "a freshly resolved remote";
        EXPECT_EQ(store->activeProject(), front);
        // What was saved is what a new store loads.
        EXPECT_EQ(makeStore()->recents(), store->recents());
    }
}

TEST_F(ProjectStoreTest, PersistsCompactJsonBytesAndLoadsTheFirstAsActive) {
    {
        ProjectStore store(settings(), [](const QString& path) {
            return path == "/r" ? std::optional<QString>("git@host:r.git") : std::nullopt;
        });
        EXPECT_TRUE(store.recents().isEmpty());
        EXPECT_FALSE(store.activeProject());
        store.openProject("/plain");
        store.openProject("/r");
    }
    const QVariant stored = settings()->value(ProjectStore::recentsKey);
    EXPECT_EQ(stored.typeId(), QMetaType::QByteArray) << "a data value, not a string";
    EXPECT_EQ(stored.toByteArray(),
              R"([{"gitRemoteURL":"git@host:r.git","path":"/r"},{"path":"/plain"}])")
        << "no key for a missing remote";

    ProjectStore reloaded(settings(), [this](const QString& path) {
        m_resolved.append(path);
        return std::nullopt;
    });
    const QList<Project> expected{{"/r", "git@host:r.git"}, {"/plain", std::nullopt}};
    EXPECT_EQ(reloaded.recents(), expected);
    EXPECT_EQ(reloaded.activeProject(), expected.first());
    EXPECT_TRUE(m_resolved.isEmpty()) << "stored remotes are taken as stored";
}

TEST_F(ProjectStoreTest, AnUnreadableStoredListStartsEmptyAndIsOverwritten) {
    struct Case {
        const char* name;
        QVariant value;
    };
    const Case cases[] = {
        {"not JSON", QByteArray("[{\"path\":")},
        {"an element without a path", QByteArray(R"([{"path":"/a"},{"gitRemoteURL":"x"}])")},
        {"a path that is not text", QByteArray(R"([{"path":7}])")},
        {"a remote that is not text", QByteArray(R"([{"path":"/a","gitRemoteURL":1}])")},
        {"an element that is not an object", QByteArray(R"([{"path":"/a"},"/b"])")},
        {"an object instead of a list", QByteArray(R"({"path":"/a"})")},
        {"a string instead of data", QString(R"([{"path":"/a"}])")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeValue(c.value);
        auto store = makeStore();
        EXPECT_TRUE(store->recents().isEmpty());
        EXPECT_FALSE(store->activeProject());
        store->openProject("/new");
        EXPECT_EQ(paths(makeStore()->recents()), QStringList{"/new"});
    }
}

TEST_F(ProjectStoreTest, ReadsNullAndExtraKeysLeniently) {
    storeValue(QByteArray(R"([{"path":"/a","gitRemoteURL":null,"pinned":true},{"path":"/b"}])"));
    auto store = makeStore();
    EXPECT_EQ(store->recents(), (QList<Project>{{"/a", std::nullopt}, {"/b", std::nullopt}}));
    storeValue(QByteArray("[]"));
    EXPECT_FALSE(makeStore()->activeProject()) << "an empty list leaves no active project";
}

TEST_F(ProjectStoreTest, AnnouncesEachChangeWithTheNewValueInPlace) {
    auto store = makeStore();
    QStringList seen;
    QObject::connect(store.get(), &ProjectStore::recentsChanged,
                     [&] { seen.append("recents " + paths(store->recents()).join(',')); });
    QObject::connect(store.get(), &ProjectStore::activeProjectChanged, [&] {
        seen.append("active " + store->activeProject().value_or(Project{}).path);
    });
    store->openProject("/a");
    store->openProject("/b");
    EXPECT_EQ(seen, (QStringList{"recents /a", "active /a", "recents /b,/a", "active /b"}));
}

// The default resolver runs the real git.
class GitRemoteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    static void git(const QStringList& arguments) {
        QProcess process;
        process.start("git", arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }

    QString makeRepository(const QString& name) const {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        git({"init", "-q", path});
        return path;
    }

    QTemporaryDir m_dir;
};

TEST_F(GitRemoteTest, ResolvesTheOriginRemote) {
    const QString repository = makeRepository("with remote");
    git({"-C", repository, "remote", "add", "origin", "https://example.invalid/team/repo.git"});
    git({"-C", repository, "remote", "add", "upstream", "https://example.invalid/other.git"});
    EXPECT_EQ(ProjectStore::resolveGitRemote(repository), "https://example.invalid/team/repo.git")
        << "without git's trailing line feed";

    // Also from a folder inside the repository.
    QDir().mkpath(repository + "/src/deep");
    EXPECT_EQ(ProjectStore::resolveGitRemote(repository + "/src/deep"),
              "https://example.invalid/team/repo.git");
}

TEST_F(GitRemoteTest, FoldersWithoutAnOriginHaveNoRemote) {
    const QString noRemote = makeRepository("no remote");
    const QString otherRemote = makeRepository("other remote");
    git({"-C", otherRemote, "remote", "add", "upstream", "https://example.invalid/x.git"});
    const QString plain = m_dir.filePath("plain");
    QDir().mkpath(plain);

    for (const QString& path :
         {noRemote, otherRemote, plain, m_dir.filePath("missing"), QString("-C")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(ProjectStore::resolveGitRemote(path), std::nullopt);
    }

    ProjectStore store(std::make_unique<QSettings>(m_dir.filePath("s.conf"), QSettings::IniFormat));
    store.openProject(noRemote);
    EXPECT_EQ(store.activeProject(), (Project{noRemote, std::nullopt}));
}

} // namespace
