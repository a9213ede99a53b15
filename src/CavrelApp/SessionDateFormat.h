#pragma once

#include <QDateTime>
#include <QString>

namespace cavrel {

// A session's start as its row shows it: the abbreviated date and the short time of the
// user's locale, in the local time zone ("Jan 5, 2025, 3:04 PM" in US English). The locale is
// taken from LC_ALL, LC_TIME or LANG, the first that is set.
QString formatSessionDate(const QDateTime& time);
QString formatSessionDate(const QDateTime& time, const QString& localeName);
QString sessionDateLocaleName();

} // namespace cavrel
