#include "LastPathComponent.h"

namespace cavrel {

QString lastPathComponent(const QString& path) {
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/') {
        --end;
    }
    if (end == 0) {
        return path.isEmpty() ? QString() : QStringLiteral("/");
    }
    const qsizetype slash = path.lastIndexOf(u'/', end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

} // namespace cavrel
