// The hub configuration file, ~/.cavrel/config.yaml, shared with the `cavrel` program. It is
// read with a line rule of its own (no YAML parser) and written whole when it is missing,
// unreadable or incomplete.
#include "CavrelHubManager.h"
#include "StrictUtf8.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cavrel {

namespace {

// Blanks of any script and tabs; line ends are not trimmed here.
bool isBlank(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// An optional sign followed by decimal digits only, within the signed 64-bit range.
std::optional<qint64> parsePort(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // Accumulate negatively so that the most negative value does not overflow on the way.
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c.unicode() - u'0';
        if (value < (LLONG_MIN + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == LLONG_MIN) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

QString systemError(const QString& what, const QString& path, int error) {
    return QStringLiteral("%1 %2: %3").arg(what, path, qt_error_string(error));
}

// Creates `path` and any missing parents. Only `path` itself gets `mode`: the folder holds
// the bearer token, so it is made private to the user; parents get the usual mode.
QString createFolder(const QString& path, mode_t mode) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), mode) == 0) {
        return {};
    }
    int error = errno;
    if (error == ENOENT) {
        const QString parent = QFileInfo(path).path();
        if (parent != path) {
            QString parentError = createFolder(parent, 0777);
            if (!parentError.isEmpty()) {
                return parentError;
            }
            if (::mkdir(native.constData(), mode) == 0) {
                return {};
            }
            error = errno;
        }
    }
    if (error == EEXIST) {
        struct stat info {};
        if (::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return {};
        }
        error = ENOTDIR;
    }
    return systemError(QStringLiteral("Could not create the folder"), path, error);
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Writes the file atomically (aside, then renamed over the old one) with mode 0600, since it
// holds the bearer token. An existing file is first renamed to "<file>.bak": it is shared with
// the `cavrel` program and may hold settings of its own that a rewrite would otherwise lose.
QString replaceFile(const QString& path, const QByteArray& bytes) {
    const QString what = QStringLiteral("Could not write");
    QByteArray temporary = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return systemError(what, path, errno);
    }
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        return systemError(what, path, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return systemError(what, path, error);
    }

    const QByteArray target = QFile::encodeName(path);
    const QByteArray backup = QFile::encodeName(path + QStringLiteral(".bak"));
    struct stat info {};
    bool backedUp = false;
    if (::lstat(target.constData(), &info) == 0) {
        if (::rename(target.constData(), backup.constData()) != 0) {
            const int error = errno;
            ::unlink(temporary.constData());
            return systemError(QStringLiteral("Could not keep a backup of"), path, error);
        }
        backedUp = true;
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        if (backedUp) {
            ::rename(backup.constData(), target.constData());
        }
        return systemError(what, path, error);
    }
    return {};
}

} // namespace

std::optional<QString> CavrelHubManager::yamlValue(const QString& key, const QString& text) {
    const QString prefix = key + u':';
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        // A file saved with CRLF line ends must read like the same file with LF ends.
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        const QStringView trimmed = trimBlanks(line);
        if (!trimmed.startsWith(prefix)) {
            continue;
        }
        QStringView value = trimBlanks(trimmed.sliced(prefix.size()));
        if (value.startsWith(u'"') && value.endsWith(u'"')) {
            value = value.size() >= 2 ? value.sliced(1, value.size() - 2) : QStringView();
        }
        return value.toString();
    }
    return std::nullopt;
}

std::optional<CavrelHubManager::HubConfig>
CavrelHubManager::parseExistingConfig(const QString& configPath, QString* readError) {
    QFile file(configPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (readError) {
            *readError = file.errorString();
        }
        return std::nullopt;
    }
    const std::optional<QString> text = decodeStrictUtf8(file.readAll());
    if (file.error() != QFileDevice::NoError || !text) {
        if (readError) {
            *readError = file.error() != QFileDevice::NoError
                             ? file.errorString()
                             : QStringLiteral("%1 is not UTF-8 text").arg(configPath);
        }
        return std::nullopt;
    }

    const std::optional<QString> listenAddr = yamlValue(QStringLiteral("listen_addr"), *text);
    const std::optional<QString> token = yamlValue(QStringLiteral("token"), *text);
    const std::optional<QString> dbPath = yamlValue(QStringLiteral("db_path"), *text);
    if (!listenAddr || !token || !dbPath) {
        return std::nullopt;
    }
    // The host part is ignored: the hub is always reached on 127.0.0.1.
    const QList<QStringView> pieces = QStringView(*listenAddr).split(u':', Qt::SkipEmptyParts);
    if (pieces.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<qint64> port = parsePort(pieces.last());
    if (!port) {
        return std::nullopt;
    }
    return HubConfig{*port, *dbPath, *token};
}

QString CavrelHubManager::configText(const HubConfig& config) {
    const QString port = QString::number(config.port);
    return QStringLiteral("listen_addr: \"127.0.0.1:%1\"\n"
                          "db_path: \"%2\"\n"
                          "tokens: [\"%3\"]\n"
                          "hub_url: \"http://127.0.0.1:%1\"\n"
                          "token: \"%3\"")
        .arg(port, config.dbPath, config.token);
}

CavrelHubManager::ConfigResult CavrelHubManager::loadOrCreateConfig(const QString& configPath) {
    if (std::optional<HubConfig> existing = parseExistingConfig(configPath)) {
        return {std::move(existing), {}};
    }

    const QString folder = QFileInfo(configPath).path();
    HubConfig config;
    config.port = 20000 + QRandomGenerator::system()->bounded(20001);
    config.dbPath = folder + QStringLiteral("/cavrel.db");
    config.token = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();

    if (QString error = createFolder(folder, S_IRWXU); !error.isEmpty()) {
        return {std::nullopt, error};
    }
    if (QString error = replaceFile(configPath, configText(config).toUtf8()); !error.isEmpty()) {
        return {std::nullopt, error};
    }
    return {config, {}};
}

} // namespace cavrel
