#include "InternetDateTime.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using cavrel::formatInternetDateTime;
using cavrel::parseInternetDateTime;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

TEST(InternetDateTime, ReadsEveryFormTheHubSends) {
    struct Case {
        const char* text;
        QDateTime expected;
    } cases[] = {
        {"2025-01-05T15:04:05Z", utc(2025, 1, 5, 15, 4, 5)},
        {"2025-01-05T15:04:05.250Z", utc(2025, 1, 5, 15, 4, 5, 250)},
        {"2025-01-05T15:04:05.5Z", utc(2025, 1, 5, 15, 4, 5, 500)},
        // Digits past milliseconds are accepted and truncated, never rounded into the next second.
        {"2025-01-05T15:04:05.9999999Z", utc(2025, 1, 5, 15, 4, 5, 999)},
        // An offset east of UTC is the instant that many hours earlier.
        {"2025-01-05T15:04:05+02:00", utc(2025, 1, 5, 13, 4, 5)},
        {"2025-01-05T15:04:05.125-05:30", utc(2025, 1, 5, 20, 34, 5, 125)},
        {"2025-01-05T15:04:05-00:00", utc(2025, 1, 5, 15, 4, 5)},
        // Offsets carry the instant across days, months and years.
        {"2025-01-01T00:30:00+01:00", utc(2024, 12, 31, 23, 30, 0)},
        {"2024-02-29T23:59:59Z", utc(2024, 2, 29, 23, 59, 59)},
        {"2000-02-29T00:00:00Z", utc(2000, 2, 29, 0, 0, 0)},
        {"1969-12-31T23:59:59.999Z", utc(1969, 12, 31, 23, 59, 59, 999)},
        {"0001-01-01T00:00:00Z", utc(1, 1, 1, 0, 0, 0)},
        {"9999-12-31T23:59:59Z", utc(9999, 12, 31, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseInternetDateTime(QString::fromLatin1(c.text));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->toMSecsSinceEpoch(), c.expected.toMSecsSinceEpoch());
        EXPECT_EQ(parsed->timeSpec(), Qt::UTC);
    }
}

TEST(InternetDateTime, RefusesEverythingElse) {
    const char16_t* cases[] = {
        u"",
        u"2025-01-05 15:04:05Z",      // blank for "T"
        u"2025-01-05t15:04:05Z",      // lower-case t
        u"2025-01-05T15:04:05z",      // lower-case z
        u"2025-01-05T15:04:05",       // no zone: a local time names no instant
        u"2025-01-05T15:04Z",         // no seconds
        u"2025-01-05",                // date only
        u"2025-1-05T15:04:05Z",       // one-digit month
        u"25-01-05T15:04:05Z",        // two-digit year
        u"2025-01-05T15:04:05.Z",     // "." without digits
        u"2025-01-05T15:04:05,250Z",  // comma fraction
        u"2025-01-05T15:04:05+0200",  // offset without colon
        u"2025-01-05T15:04:05+02",    // offset without minutes
        u"2025-01-05T15:04:05+24:00", // offset hour out of range
        u"2025-01-05T15:04:05+02:60", // offset minute out of range
        u"2025-13-05T15:04:05Z",      // month 13
        u"2025-00-05T15:04:05Z",      // month 0
        u"2025-02-29T15:04:05Z",      // not a leap year
        u"1900-02-29T15:04:05Z",      // century, not a leap year
        u"2025-04-31T15:04:05Z",      // April has 30 days
        u"2025-01-00T15:04:05Z",      // day 0
        u"2025-01-05T24:00:00Z",      // hour 24
        u"2025-01-05T15:60:05Z",      // minute 60
        u"2025-01-05T15:04:60Z",      // leap second
        u" 2025-01-05T15:04:05Z",     // leading blank
        u"2025-01-05T15:04:05Z ",     // trailing blank
        u"2025-01-05T15:04:05ZZ",     // trailing garbage
        u"+2025-01-05T15:04:05Z",     // signed year
        u"2025-W01-1T15:04:05Z",      // week date
        u"２０２５-01-05T15:04:05Z",  // full-width digits
        u"2025-01-05T15:04:05.١٢Z",   // Arabic-Indic fraction digits
        u"1736089445",                // seconds since the epoch as text
    };
    for (const char16_t* text : cases) {
        const QString value = QString::fromUtf16(text);
        SCOPED_TRACE(value.toStdString());
        EXPECT_FALSE(parseInternetDateTime(value).has_value());
    }
}

TEST(InternetDateTime, WrittenFormReadsBackToTheSameInstant) {
    const QDateTime instants[] = {utc(2025, 1, 5, 15, 4, 5, 250), utc(1, 1, 1, 0, 0, 0),
                                  QDateTime(QDate(2025, 6, 1), QTime(12, 0), QTimeZone(3600 * 9))};
    for (const QDateTime& instant : instants) {
        const QString text = formatInternetDateTime(instant);
        SCOPED_TRACE(text.toStdString());
        const auto back = parseInternetDateTime(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->toMSecsSinceEpoch(), instant.toMSecsSinceEpoch());
    }
    EXPECT_EQ(formatInternetDateTime(utc(2025, 1, 5, 15, 4, 5, 250)),
              QStringLiteral("2025-01-05T15:04:05.250Z"));
}

} // namespace
