#include "InternetDateTime.h"

namespace cavrel {

namespace {

class Cursor {
public:
    explicit Cursor(QStringView text) : m_text(text) {}

    bool atEnd() const { return m_pos == m_text.size(); }
    bool peek(char16_t c) const { return !atEnd() && m_text[m_pos] == QChar(c); }
    bool peekDigit() const {
        return !atEnd() && m_text[m_pos] >= QLatin1Char('0') && m_text[m_pos] <= QLatin1Char('9');
    }
    bool take(char16_t c) {
        if (!peek(c)) {
            return false;
        }
        ++m_pos;
        return true;
    }
    // Exactly `count` ASCII digits.
    std::optional<int> digits(int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (!peekDigit()) {
                return std::nullopt;
            }
            value = value * 10 + (m_text[m_pos].unicode() - u'0');
            ++m_pos;
        }
        return value;
    }
    int takeDigit() { return m_text[m_pos++].unicode() - u'0'; }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given proleptic Gregorian date (valid for every four-digit year).
qint64 daysFromCivil(qint64 year, qint64 month, qint64 day) {
    year -= month <= 2 ? 1 : 0;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<QDateTime> parseInternetDateTime(QStringView text) {
    Cursor in(text);
    const auto year = in.digits(4);
    if (!year || !in.take(u'-')) {
        return std::nullopt;
    }
    const auto month = in.digits(2);
    if (!month || *month < 1 || *month > 12 || !in.take(u'-')) {
        return std::nullopt;
    }
    const auto day = in.digits(2);
    if (!day || *day < 1 || *day > daysInMonth(*year, *month) || !in.take(u'T')) {
        return std::nullopt;
    }
    const auto hour = in.digits(2);
    if (!hour || *hour > 23 || !in.take(u':')) {
        return std::nullopt;
    }
    const auto minute = in.digits(2);
    if (!minute || *minute > 59 || !in.take(u':')) {
        return std::nullopt;
    }
    const auto second = in.digits(2);
    if (!second || *second > 59) {
        return std::nullopt;
    }
    int millis = 0;
    if (in.take(u'.')) {
        if (!in.peekDigit()) {
            return std::nullopt;
        }
        int kept = 0;
        while (in.peekDigit()) {
            const int digit = in.takeDigit();
            if (kept < 3) {
                millis = millis * 10 + digit;
                ++kept;
            }
        }
        for (; kept < 3; ++kept) {
            millis *= 10;
        }
    }
    int offsetMinutes = 0;
    if (!in.take(u'Z')) {
        int sign = 0;
        if (in.take(u'+')) {
            sign = 1;
        } else if (in.take(u'-')) {
            sign = -1;
        } else {
            return std::nullopt;
        }
        const auto offsetHours = in.digits(2);
        if (!offsetHours || *offsetHours > 23 || !in.take(u':')) {
            return std::nullopt;
        }
        const auto offsetMins = in.digits(2);
        if (!offsetMins || *offsetMins > 59) {
            return std::nullopt;
        }
        offsetMinutes = sign * (*offsetHours * 60 + *offsetMins);
    }
    if (!in.atEnd()) {
        return std::nullopt;
    }

    const qint64 days = daysFromCivil(*year, *month, *day);
    const qint64 localSeconds = days * 86400 + *hour * 3600 + *minute * 60 + *second;
    const qint64 utcMillis = (localSeconds - qint64(offsetMinutes) * 60) * 1000 + millis;
    return QDateTime::fromMSecsSinceEpoch(utcMillis, Qt::UTC);
}

QString formatInternetDateTime(const QDateTime& instant) {
    return instant.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

} // namespace cavrel
