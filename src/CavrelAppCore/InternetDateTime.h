#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

namespace cavrel {

// Reads an RFC 3339 internet date-time, the only form in which the hub sends points in time:
// "YYYY-MM-DDTHH:MM:SS", an optional "." with one or more fraction digits, then "Z" or an
// offset "+HH:MM" / "-HH:MM". Nothing else is accepted: no blank for "T", no lower-case "t" or
// "z", no missing zone, no week or ordinal dates, no leap second, no non-ASCII digits.
// QDateTime::fromString(Qt::ISODate) is not used because it takes zone-less local times and
// other forms the hub never sends. The result is in UTC and keeps milliseconds; further
// fraction digits are accepted and truncated.
std::optional<QDateTime> parseInternetDateTime(QStringView text);

// The written form of a point in time: UTC with three fraction digits and "Z".
QString formatInternetDateTime(const QDateTime& instant);

} // namespace cavrel
