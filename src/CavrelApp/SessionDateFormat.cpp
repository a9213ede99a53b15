#include "SessionDateFormat.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>

namespace cavrel {

QString sessionDateLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty()) {
            // "en_US.UTF-8@euro" names the locale "en_US".
            value.truncate(value.indexOf(u'.') >= 0 ? value.indexOf(u'.') : value.size());
            value.truncate(value.indexOf(u'@') >= 0 ? value.indexOf(u'@') : value.size());
            if (value == QLatin1String("C") || value == QLatin1String("POSIX")) {
                return QStringLiteral("en_US_POSIX");
            }
            return value;
        }
    }
    return QStringLiteral("en_US_POSIX");
}

QString formatSessionDate(const QDateTime& time) {
    return formatSessionDate(time, sessionDateLocaleName());
}

QString formatSessionDate(const QDateTime& time, const QString& localeName) {
    // Making a format loads locale data; a list of sessions uses one (main thread only).
    static QString cachedLocale;
    static std::unique_ptr<icu::DateFormat> format;
    if (!format || cachedLocale != localeName) {
        const icu::Locale locale(localeName.toLatin1().constData());
        format.reset(icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium,
                                                             icu::DateFormat::kShort, locale));
        cachedLocale = localeName;
    }
    if (!format) {
        return time.toString(Qt::ISODate);
    }
    icu::UnicodeString text;
    format->format(static_cast<UDate>(time.toMSecsSinceEpoch()), text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

} // namespace cavrel
