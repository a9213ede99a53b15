#pragma once

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <QVarLengthArray>

#include <cstdint>
#include <optional>

namespace cavrel {

// One value of a JSON text that has been checked whole (parseJson), read in place: a view of the
// value's bytes, decoded only when asked. The hub's replies are read this way because a
// QJsonDocument of a reply made of many small records takes over ten times the reply's size;
// read in place, decoding needs little beyond the reply and the records made from it.
//
// A value is valid while the text it views lives; copying it is cheap. Pure and thread-safe.
class JsonValue {
public:
    enum class Type { Undefined, Null, Bool, Number, String, Array, Object };

    // Undefined: what a missing object member reads as.
    JsonValue() = default;

    Type type() const;
    bool isUndefined() const { return m_begin == nullptr; }
    bool isNull() const { return type() == Type::Null; }

    // A string's text with its escapes resolved; empty for any other value.
    QString toString() const;
    // A number that is a whole number within the signed 64-bit range: exact when written without
    // a fraction or an exponent (also beyond 2^53), else the double's value. None for any other
    // number or value.
    std::optional<qint64> toInteger() const;
    // A number as the nearest double; 0 for any other value.
    double toDouble() const;

    // An array's elements in order, one scan each: for (JsonValue element : array).
    class ElementIterator;
    ElementIterator begin() const;
    ElementIterator end() const;
    // The number of elements of an array (a scan), 0 for any other value.
    qsizetype count() const;

    // An object's members, found by one scan and kept as two offsets each, for looking them up
    // by name. A name that repeats counts with its last value.
    class Members {
    public:
        qsizetype size() const { return m_entries.size(); }
        QString name(qsizetype i) const;
        JsonValue value(qsizetype i) const;
        // The value of the last member of that name; Undefined when there is none.
        JsonValue value(QLatin1StringView key) const;

    private:
        friend class JsonValue;
        struct Entry {
            uint32_t name;  // the opening quote, from the object's first byte
            uint32_t value; // the value's first byte, likewise
        };
        const char* m_object = nullptr;
        QVarLengthArray<Entry, 16> m_entries;
    };
    // Empty for any value that is no object.
    Members members() const;

private:
    friend JsonValue valueAt(const char* begin);
    explicit JsonValue(const char* begin) : m_begin(begin) {}

    // The value's first byte (its text runs to its natural end); null for Undefined.
    const char* m_begin = nullptr;
};

class JsonValue::ElementIterator {
public:
    JsonValue operator*() const { return m_current; }
    ElementIterator& operator++();
    bool operator==(const ElementIterator& other) const {
        return m_current.m_begin == other.m_current.m_begin;
    }

private:
    friend class JsonValue;
    explicit ElementIterator(JsonValue current) : m_current(current) {}
    JsonValue m_current; // Undefined at the end
};

// The outcome of checking a JSON text: its top-level value, or what is wrong and where.
struct JsonParseResult {
    std::optional<JsonValue> value;
    QString error;        // in QJsonParseError's words: "illegal value" and the like
    qsizetype offset = 0; // the byte at which the text stops being JSON
};

// Checks a whole JSON text, without allocating, before anything is read from it. The syntax is
// the one QJsonDocument accepts, with which the hub's replies were read before: RFC 8259 JSON
// with an object or an array at the top, and these allowances: a leading UTF-8 byte order mark;
// control characters inside strings; a backslash before any character but "u" standing for
// that character; numbers as -?(0|[1-9][0-9]*)?(.[0-9]*)?([eE][+-]?[0-9]+)? (".5" and "1."
// included) that convert to a finite double and do not round a nonzero value to zero. Strings
// must be valid UTF-8, nesting is limited to 1024 levels. The returned value views `text`.
JsonParseResult parseJson(QByteArrayView text);

} // namespace cavrel
