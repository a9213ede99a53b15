#include "LoginShell.h"
#include "PasswordEntry.h"

#include <QFileInfo>

#include <algorithm>

namespace cavrel {

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QString loginShellPath() {
    const std::optional<QString> variable = qEnvironmentVariableIsSet("SHELL")
                                                ? std::optional(qEnvironmentVariable("SHELL"))
                                                : std::nullopt;
    const std::optional<PasswordEntry> entry = currentPasswordEntry();
    return loginShellPath(variable, entry ? std::optional(entry->shell) : std::nullopt,
                          &isExecutableFile);
}

QString loginShellPath(const std::optional<QString>& shellVariable,
                       const std::optional<QString>& passwordEntryShell,
                       const std::function<bool(const QString&)>& isExecutable) {
    if (shellVariable && shellVariable->startsWith(u'/') && isExecutable(*shellVariable)) {
        return *shellVariable;
    }
    if (passwordEntryShell && !passwordEntryShell->isEmpty()) {
        return *passwordEntryShell;
    }
    const QString zsh = QStringLiteral("/bin/zsh");
    if (isExecutable(zsh)) {
        return zsh;
    }
    return QStringLiteral("/bin/sh");
}

QStringList loginShellArguments() {
    return {QStringLiteral("-il")};
}

QString shellQuotedIfNeeded(const QString& word) {
    const auto plain = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
               QStringView(u"_@%+=:,./-").contains(c);
    };
    if (std::all_of(word.begin(), word.end(), plain)) {
        return word;
    }
    QString quoted = word;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString agentCommandLine(const QString& cavrelBinaryPath, const QString& tool) {
    return shellQuotedIfNeeded(cavrelBinaryPath) + u' ' + tool + u'\n';
}

} // namespace cavrel
