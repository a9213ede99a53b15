#include "JsonValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace cavrel {

// The value whose text starts there (the parser's way to hand out values).
JsonValue valueAt(const char* begin);

namespace {

constexpr int maximumDepth = 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// ---- Reading checked text ----------------------------------------------------------------------
// Checked text needs no bounds: every value ends before a delimiter of its container, and the top
// value is a container.

const char* skipSpace(const char* at) {
    while (isSpace(*at)) {
        ++at;
    }
    return at;
}

// From the opening quote to after the closing one.
const char* skipString(const char* at) {
    ++at;
    for (;;) {
        while (*at != '"' && *at != '\\') {
            ++at;
        }
        if (*at == '"') {
            return at + 1;
        }
        at += 2; // a backslash and the byte it escapes; the hex digits of \u are plain bytes
    }
}

const char* skipNumber(const char* at) {
    while (isDigit(*at) || *at == '-' || *at == '+' || *at == '.' || *at == 'e' || *at == 'E') {
        ++at;
    }
    return at;
}

const char* skipValue(const char* at) {
    switch (*at) {
    case '"':
        return skipString(at);
    case 't':
    case 'n':
        return at + 4;
    case 'f':
        return at + 5;
    case '[':
    case '{': {
        int depth = 0;
        for (;;) {
            const char c = *at;
            if (c == '"') {
                at = skipString(at);
                continue;
            }
            if (c == '[' || c == '{') {
                ++depth;
            } else if ((c == ']' || c == '}') && --depth == 0) {
                return at + 1;
            }
            ++at;
        }
    }
    default:
        return skipNumber(at);
    }
}

// The value after a comma, or the end of the container.
const char* nextInContainer(const char* afterValue) {
    const char* at = skipSpace(afterValue);
    return *at == ',' ? skipSpace(at + 1) : nullptr;
}

QString decodeString(const char* at) {
    const char* const begin = at + 1;
    const char* end = begin;
    bool escaped = false;
    while (*end != '"') {
        if (*end == '\\') {
            escaped = true;
            ++end;
        }
        ++end;
    }
    if (!escaped) {
        return QString::fromUtf8(begin, end - begin);
    }
    QString text;
    text.reserve(end - begin);
    const char* run = begin;
    for (const char* p = begin; p < end;) {
        if (*p != '\\') {
            ++p;
            continue;
        }
        text += QString::fromUtf8(run, p - run);
        const char c = p[1];
        p += 2;
        switch (c) {
        case 'b':
            text += QChar(u'\b');
            break;
        case 'f':
            text += QChar(u'\f');
            break;
        case 'n':
            text += QChar(u'\n');
            break;
        case 'r':
            text += QChar(u'\r');
            break;
        case 't':
            text += QChar(u'\t');
            break;
        case 'u':
            text += QChar(char16_t(hexValue(p[0]) << 12 | hexValue(p[1]) << 8 |
                                   hexValue(p[2]) << 4 | hexValue(p[3])));
            p += 4;
            break;
        default:
            // Any other escaped byte stands for itself, read as Latin-1.
            text += QChar(char16_t(uint8_t(c)));
            break;
        }
        run = p;
    }
    text += QString::fromUtf8(run, end - run);
    return text;
}

// The number's text; the converted double of checked text is finite.
double numberValue(const char* at) {
    double value = 0;
    std::from_chars(at, skipNumber(at), value);
    return value;
}

// ---- Checking ------------------------------------------------------------------------------

class Checker {
public:
    Checker(const char* begin, const char* end) : m_begin(begin), m_at(begin), m_end(end) {}

    JsonParseResult check() {
        // A byte order mark is allowed once, before anything else.
        if (m_end - m_at >= 3 && std::memcmp(m_at, "\xef\xbb\xbf", 3) == 0) {
            m_at += 3;
        }
        skipSpaces();
        const char* top = m_at;
        if (!atAny("[{")) {
            return failure("illegal value");
        }
        if (!value(0)) {
            return failure(m_error);
        }
        skipSpaces();
        if (m_at != m_end) {
            return failure("garbage at the end of the document");
        }
        return JsonParseResult{valueAt(top), {}, 0};
    }

private:
    JsonParseResult failure(const char* error) const {
        return JsonParseResult{std::nullopt, QString::fromLatin1(error), m_at - m_begin};
    }

    bool fail(const char* error) {
        m_error = error;
        return false;
    }

    bool atAny(const char* bytes) const {
        return m_at < m_end && *m_at != '\0' && std::strchr(bytes, *m_at) != nullptr;
    }

    void skipSpaces() {
        while (m_at < m_end && isSpace(*m_at)) {
            ++m_at;
        }
    }

    bool value(int depth) {
        if (m_at == m_end) {
            return fail("illegal value");
        }
        switch (*m_at) {
        case '"':
            return string();
        case '[':
        case '{':
            return container(depth + 1);
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            if (isDigit(*m_at) || *m_at == '-' || *m_at == '.') {
                return number();
            }
            return fail("illegal value");
        }
    }

    bool literal(const char* word) {
        const size_t length = std::strlen(word);
        if (size_t(m_end - m_at) < length || std::memcmp(m_at, word, length) != 0) {
            return fail("illegal value");
        }
        m_at += length;
        return true;
    }

    bool container(int depth) {
        if (depth > maximumDepth) {
            return fail("too deeply nested document");
        }
        const bool isObject = *m_at == '{';
        const char close = isObject ? '}' : ']';
        ++m_at;
        skipSpaces();
        if (m_at < m_end && *m_at == close) {
            ++m_at;
            return true;
        }
        for (;;) {
            if (isObject) {
                if (!atAny("\"")) {
                    return fail("unterminated object");
                }
                if (!string()) {
                    return false;
                }
                skipSpaces();
                if (!atAny(":")) {
                    return fail("missing name separator");
                }
                ++m_at;
                skipSpaces();
            }
            if (!value(depth)) {
                return false;
            }
            skipSpaces();
            if (atAny(",")) {
                ++m_at;
                skipSpaces();
                continue;
            }
            if (m_at < m_end && *m_at == close) {
                ++m_at;
                return true;
            }
            return fail(m_at == m_end ? (isObject ? "unterminated object" : "unterminated array")
                                      : "missing value separator");
        }
    }

    bool string() {
        ++m_at; // the opening quote
        while (m_at < m_end) {
            const auto c = uint8_t(*m_at);
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c == '\\') {
                if (m_end - m_at < 2) {
                    break;
                }
                if (m_at[1] == 'u') {
                    if (m_end - m_at < 6 || hexValue(m_at[2]) < 0 || hexValue(m_at[3]) < 0 ||
                        hexValue(m_at[4]) < 0 || hexValue(m_at[5]) < 0) {
                        return fail("invalid escape sequence");
                    }
                    m_at += 6;
                } else {
                    m_at += 2;
                }
                continue;
            }
            if (c < 0x80) {
                ++m_at; // control characters included
                continue;
            }
            if (!utf8Sequence()) {
                return fail("invalid UTF8 string");
            }
        }
        return fail("unterminated string");
    }

    // One well-formed UTF-8 sequence of two to four bytes: no overlong form, no surrogate,
    // nothing beyond U+10FFFF.
    bool utf8Sequence() {
        const auto lead = uint8_t(*m_at);
        int continuation;
        uint8_t low = 0x80;
        uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            continuation = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuation = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            continuation = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (m_end - m_at <= continuation) {
            return false;
        }
        for (int i = 1; i <= continuation; ++i) {
            const auto byte = uint8_t(m_at[i]);
            if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) {
                return false;
            }
        }
        m_at += continuation + 1;
        return true;
    }

    bool number() {
        const char* const start = m_at;
        const auto digits = [this] {
            while (m_at < m_end && isDigit(*m_at)) {
                ++m_at;
            }
        };
        if (*m_at == '-') {
            ++m_at;
        }
        if (m_at < m_end && *m_at == '0') {
            ++m_at;
        } else {
            digits();
        }
        if (atAny(".")) {
            ++m_at;
            digits();
        }
        if (atAny("eE")) {
            ++m_at;
            if (atAny("+-")) {
                ++m_at;
            }
            if (!(m_at < m_end && isDigit(*m_at))) {
                return fail("illegal number");
            }
            digits();
        }
        // The whole text must convert; overflow, and a nonzero value that rounds to zero, do not.
        double value = 0;
        const auto [end, error] = std::from_chars(start, m_at, value);
        if (error != std::errc() || end != m_at || !std::isfinite(value)) {
            return fail("illegal number");
        }
        return true;
    }

    const char* const m_begin;
    const char* m_at;
    const char* const m_end;
    const char* m_error = "";
};

} // namespace

JsonValue valueAt(const char* begin) {
    return JsonValue(begin);
}

JsonParseResult parseJson(QByteArrayView text) {
    return Checker(text.data(), text.data() + text.size()).check();
}

JsonValue::Type JsonValue::type() const {
    if (m_begin == nullptr) {
        return Type::Undefined;
    }
    switch (*m_begin) {
    case '"':
        return Type::String;
    case '[':
        return Type::Array;
    case '{':
        return Type::Object;
    case 'n':
        return Type::Null;
    case 't':
    case 'f':
        return Type::Bool;
    default:
        return Type::Number;
    }
}

QString JsonValue::toString() const {
    return type() == Type::String ? decodeString(m_begin) : QString();
}

std::optional<qint64> JsonValue::toInteger() const {
    if (type() != Type::Number) {
        return std::nullopt;
    }
    const char* const end = skipNumber(m_begin);
    if (std::find_if(m_begin, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) ==
        end) {
        qint64 value = 0;
        const auto [stop, error] = std::from_chars(m_begin, end, value);
        if (error == std::errc() && stop == end) {
            return value;
        }
    }
    // A fraction, an exponent or a whole number beyond 64 bits: through the double, like
    // QJsonValue::toInteger.
    const double value = numberValue(m_begin);
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::trunc(value) != value || value < -limit || value >= limit) {
        return std::nullopt;
    }
    return qint64(value);
}

double JsonValue::toDouble() const {
    return type() == Type::Number ? numberValue(m_begin) : 0.0;
}

JsonValue::ElementIterator JsonValue::begin() const {
    if (type() != Type::Array) {
        return end();
    }
    const char* first = skipSpace(m_begin + 1);
    return ElementIterator(*first == ']' ? JsonValue() : JsonValue(first));
}

JsonValue::ElementIterator JsonValue::end() const {
    return ElementIterator(JsonValue());
}

JsonValue::ElementIterator& JsonValue::ElementIterator::operator++() {
    const char* next = nextInContainer(skipValue(m_current.m_begin));
    m_current = next ? JsonValue(next) : JsonValue();
    return *this;
}

qsizetype JsonValue::count() const {
    qsizetype n = 0;
    for (auto it = begin(); it != end(); ++it) {
        ++n;
    }
    return n;
}

JsonValue::Members JsonValue::members() const {
    Members members;
    if (type() != Type::Object) {
        return members;
    }
    members.m_object = m_begin;
    const char* at = skipSpace(m_begin + 1);
    while (*at == '"') {
        const char* value = skipSpace(skipSpace(skipString(at)) + 1);
        members.m_entries.append({uint32_t(at - m_begin), uint32_t(value - m_begin)});
        at = nextInContainer(skipValue(value));
        if (at == nullptr) {
            break;
        }
    }
    return members;
}

QString JsonValue::Members::name(qsizetype i) const {
    return decodeString(m_object + m_entries[i].name);
}

JsonValue JsonValue::Members::value(qsizetype i) const {
    return JsonValue(m_object + m_entries[i].value);
}

JsonValue JsonValue::Members::value(QLatin1StringView key) const {
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        const char* name = m_object + m_entries[i].name + 1;
        // Names are compared as written when they hold no escape, which they nearly never do.
        const char* end = name;
        bool escaped = false;
        while (*end != '"') {
            escaped |= *end == '\\';
            end += *end == '\\' ? 2 : 1;
        }
        const bool same = escaped ? decodeString(name - 1) == key
                                  : QByteArrayView(name, end - name) == QByteArrayView(key);
        if (same) {
            return JsonValue(m_object + m_entries[i].value);
        }
    }
    return JsonValue();
}

} // namespace cavrel
