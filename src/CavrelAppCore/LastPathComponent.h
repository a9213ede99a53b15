#pragma once

#include <QString>

namespace cavrel {

// The last component of a file path: the name after the last "/", trailing slashes ignored
// ("/a/api/" gives "api"); the root stays "/". QFileInfo::fileName() gives "" for both "/a/"
// and "/", which would leave a tab or a folder row without a name.
QString lastPathComponent(const QString& path);

} // namespace cavrel
