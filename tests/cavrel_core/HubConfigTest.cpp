#include "CavrelHubManager.h"
#include "PrintTo.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using cavrel::CavrelHubManager;
using HubConfig = CavrelHubManager::HubConfig;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

TEST(HubConfigYamlValue, FindsTheFirstMatchingLineByItsOwnRule) {
    struct Case {
        const char* name;
        const char* key;
        QString text;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"plain quoted value", "token", "token: \"abc\"", "abc"},
        {"indented by blanks and tabs", "token", " \t token: \"abc\"", "abc"},
        {"indented by a no-break space", "token", "\u00a0token: abc", "abc"},
        {"blank before the colon does not match", "token", "token : \"abc\"", std::nullopt},
        {"tokens never matches token", "token", "tokens: [\"A\"]\ntoken: \"B\"", "B"},
        {"only tokens present", "token", "tokens: [\"A\"]", std::nullopt},
        {"unquoted value taken verbatim", "db_path", "db_path:   /var/x y  ", "/var/x y"},
        {"single quotes are kept", "db_path", "db_path: '/x'", "'/x'"},
        {"a comment stays part of the value", "db_path", "db_path: \"/x\" # here", "\"/x\" # here"},
        {"a lone double quote becomes empty", "token", "token: \"", ""},
        {"quote at one end only is kept", "token", "token: \"abc", "\"abc"},
        {"empty value", "token", "token:", ""},
        {"first of duplicate keys wins", "token", "token: \"one\"\ntoken: \"two\"", "one"},
        {"empty lines are skipped", "token", "\n\n\ntoken: x\n\n", "x"},
        {"CRLF line ends read like LF", "token", "a: 1\r\ntoken: \"abc\"\r\nb: 2\r\n", "abc"},
        {"a key inside another line's value does not match", "token", "note: token: x",
         std::nullopt},
        {"missing key", "listen_addr", "token: x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CavrelHubManager::yamlValue(QString::fromLatin1(c.key), c.text), c.expected);
    }
}

class HubConfigFile : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral(".cavrel/config.yaml")); }
    QString folder() const { return m_dir.filePath(QStringLiteral(".cavrel")); }

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(folder()));
    }

    QTemporaryDir m_dir;
};

TEST_F(HubConfigFile, ParsesThePortTokenAndDatabaseOrRejectsTheFile) {
    const QByteArray rest = "\ndb_path: \"/d/cavrel.db\"\ntoken: \"T\"";
    struct Case {
        const char* name;
        QByteArray text;
        std::optional<HubConfig> expected;
    };
    const Case cases[] = {
        {"another host with a port", "listen_addr: \"0.0.0.0:9000\"" + rest,
         HubConfig{9000, "/d/cavrel.db", "T"}},
        {"leading plus sign", "listen_addr: \"127.0.0.1:+8080\"" + rest,
         HubConfig{8080, "/d/cavrel.db", "T"}},
        {"negative port accepted as parsed", "listen_addr: \"h:-5\"" + rest,
         HubConfig{-5, "/d/cavrel.db", "T"}},
        {"port above 65535 accepted as parsed", "listen_addr: \"h:70000\"" + rest,
         HubConfig{70000, "/d/cavrel.db", "T"}},
        {"empty pieces are dropped", "listen_addr: \"::9000::\"" + rest,
         HubConfig{9000, "/d/cavrel.db", "T"}},
        {"largest 64-bit port", "listen_addr: \"h:9223372036854775807\"" + rest,
         HubConfig{9223372036854775807LL, "/d/cavrel.db", "T"}},
        {"empty values are accepted", "listen_addr: 1\ndb_path:\ntoken: \"\"",
         HubConfig{1, "", ""}},
        {"CRLF line ends",
         "listen_addr: \"127.0.0.1:9000\"\r\ndb_path: \"/d/cavrel.db\"\r\n"
         "token: \"T\"\r\n",
         HubConfig{9000, "/d/cavrel.db", "T"}},
        {"other keys and comments ignored",
         "# hub\nsummarizer: x\n"
         "listen_addr: \":1\"" +
             rest,
         HubConfig{1, "/d/cavrel.db", "T"}},
        {"host name without a port", "listen_addr: \"localhost\"" + rest, std::nullopt},
        {"port with trailing letters", "listen_addr: \"h:12ab\"" + rest, std::nullopt},
        {"port overflowing 64 bits", "listen_addr: \"h:9223372036854775808\"" + rest, std::nullopt},
        {"sign without digits", "listen_addr: \"h:+\"" + rest, std::nullopt},
        {"only colons", "listen_addr: \":::\"" + rest, std::nullopt},
        {"listen_addr missing", "db_path: \"/d\"\ntoken: \"T\"", std::nullopt},
        {"token missing (tokens does not count)",
         "listen_addr: \":1\"\ndb_path: \"/d\"\ntokens: [\"T\"]", std::nullopt},
        {"db_path missing", "listen_addr: \":1\"\ntoken: \"T\"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path(), c.text);
        QString readError;
        EXPECT_EQ(CavrelHubManager::parseExistingConfig(path(), &readError), c.expected);
        EXPECT_TRUE(readError.isEmpty()) << readError.toStdString();
    }
}

TEST_F(HubConfigFile, UnreadableFilesReportAReadError) {
    QString readError;
    EXPECT_EQ(CavrelHubManager::parseExistingConfig(path(), &readError), std::nullopt);
    EXPECT_FALSE(readError.isEmpty()) << "missing file";

    // "\xC0\xBA" is an overlong ":"; a lenient decoder would turn it into U+FFFD and go on.
    writeFile(path(), "listen_addr: \"h:1\"\ndb_path: \"/d\xC0\xBA\"\ntoken: \"T\"");
    readError.clear();
    EXPECT_EQ(CavrelHubManager::parseExistingConfig(path(), &readError), std::nullopt);
    EXPECT_FALSE(readError.isEmpty()) << "invalid UTF-8";
}

TEST_F(HubConfigFile, NewFileHasTheFixedFormatAndPrivateModes) {
    ASSERT_TRUE(QDir(folder()).removeRecursively());
    const CavrelHubManager::ConfigResult created = CavrelHubManager::loadOrCreateConfig(path());
    ASSERT_TRUE(created.config) << created.error.toStdString();
    const HubConfig config = *created.config;

    EXPECT_GE(config.port, 20000);
    EXPECT_LE(config.port, 40000);
    EXPECT_EQ(config.dbPath, folder() + "/cavrel.db");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(config.token)
                    .hasMatch())
        << config.token.toStdString();

    const QString port = QString::number(config.port);
    const QString expected = "listen_addr: \"127.0.0.1:" + port + "\"\n" + "db_path: \"" +
                             config.dbPath + "\"\n" + "tokens: [\"" + config.token + "\"]\n" +
                             "hub_url: \"http://127.0.0.1:" + port + "\"\n" + "token: \"" +
                             config.token + "\"";
    EXPECT_EQ(QString::fromUtf8(readFile(path())), expected);

    // The file carries the bearer token: nobody else may read it.
    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_EQ(modeOf(path()), 0600u);
    EXPECT_FALSE(QFile::exists(path() + ".bak")) << "nothing was replaced";
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.yaml"})
        << "no temporary file is left behind";

    // Read back unchanged, and the file is left as it is.
    EXPECT_EQ(CavrelHubManager::parseExistingConfig(path()), config);
    const CavrelHubManager::ConfigResult again = CavrelHubManager::loadOrCreateConfig(path());
    EXPECT_EQ(again.config, config);
    EXPECT_EQ(QString::fromUtf8(readFile(path())), expected);
}

TEST_F(HubConfigFile, ValuesAreWrittenVerbatimAndReadBack) {
    const HubConfig config{31337, "/srv/my hub/\u00e9t\u00e9/cavrel.db", "tok:en"};
    writeFile(path(), CavrelHubManager::configText(config).toUtf8());
    EXPECT_EQ(CavrelHubManager::parseExistingConfig(path()), config);
}

TEST_F(HubConfigFile, AReplacedFileIsKeptAsABackup) {
    struct Case {
        const char* name;
        QByteArray old;
    };
    const Case cases[] = {
        {"incomplete", "listen_addr: \"127.0.0.1:9000\"\nsummarizer_key: \"keep me\""},
        {"not UTF-8", "token: \"\xff\xfe\""},
        {"port that does not parse", "listen_addr: \"localhost\"\ndb_path: x\ntoken: y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path(), c.old);
        writeFile(path() + ".bak", "an older backup");
        const CavrelHubManager::ConfigResult created = CavrelHubManager::loadOrCreateConfig(path());
        ASSERT_TRUE(created.config) << created.error.toStdString();
        EXPECT_EQ(readFile(path() + ".bak"), c.old);
        EXPECT_EQ(CavrelHubManager::parseExistingConfig(path()), created.config);
        EXPECT_EQ(modeOf(path()), 0600u);
    }
}

TEST_F(HubConfigFile, ACompleteCrlfFileIsKept) {
    const QByteArray text = "listen_addr: \"127.0.0.1:9000\"\r\ndb_path: \"/d/cavrel.db\"\r\n"
                            "token: \"T\"\r\nsummarizer: x\r\n";
    writeFile(path(), text);
    const CavrelHubManager::ConfigResult loaded = CavrelHubManager::loadOrCreateConfig(path());
    EXPECT_EQ(loaded.config, (HubConfig{9000, "/d/cavrel.db", "T"}));
    EXPECT_EQ(readFile(path()), text);
    EXPECT_FALSE(QFile::exists(path() + ".bak"));
}

TEST_F(HubConfigFile, AFolderThatCannotBeCreatedIsAnError) {
    // A home that is a regular file: creating ".cavrel" inside it fails even for root.
    const QString home = m_dir.filePath("plainfile");
    writeFile(home, "x");
    const CavrelHubManager::ConfigResult result =
        CavrelHubManager::loadOrCreateConfig(home + "/.cavrel/config.yaml");
    EXPECT_FALSE(result.config);
    EXPECT_TRUE(result.error.contains(home + "/.cavrel")) << result.error.toStdString();
    EXPECT_TRUE(result.error.contains("Not a directory")) << result.error.toStdString();
}

} // namespace
