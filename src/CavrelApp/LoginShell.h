#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace cavrel {

// The interactive login shell an agent tab runs, and the one argument it gets. A Linux user's
// PATH (where the agent tools live) is set up by their own shell's login files, and Debian
// ships no zsh, so the user's shell comes first: $SHELL when it names an executable by
// absolute path, else the shell of the user's password entry, else /bin/zsh when installed,
// else /bin/sh.
QString loginShellPath();
QString loginShellPath(const std::optional<QString>& shellVariable,
                       const std::optional<QString>& passwordEntryShell,
                       const std::function<bool(const QString&)>& isExecutable);
QStringList loginShellArguments();

// The line typed into a new tab's shell: the program path, a blank, the tool name and a line
// feed. The path is typed as it is when it holds only [A-Za-z0-9_@%+=:,./-], which covers
// every ordinary install location; otherwise it is single-quoted (a quote inside written as
// '\'') so that a blank splits nothing and "$", "`" or ";" in a path run no shell code.
QString agentCommandLine(const QString& cavrelBinaryPath, const QString& tool);
QString shellQuotedIfNeeded(const QString& word);

} // namespace cavrel
