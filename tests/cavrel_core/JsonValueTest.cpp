#include "JsonValue.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <random>
#include <string>

using namespace cavrel;

namespace {

// A value's tree as text, in a form both readers can produce: every UTF-16 unit of a string,
// a number as its 64-bit integer when it has one and as its double, an object's members sorted
// by name with the last of a repeated name.
QString unitsOf(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        out += QString::number(c.unicode(), 16) + u' ';
    }
    return out + u'"';
}

QString numberText(std::optional<qint64> integer, double value) {
    return (integer ? QString::number(*integer) : QStringLiteral("-")) + u'/' +
           QString::number(value, 'g', 17);
}

QString dump(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        // Two fallbacks tell a whole number apart from one QJsonValue cannot give as an integer.
        const qint64 a = value.toInteger(0);
        const bool whole = a == value.toInteger(1);
        return numberText(whole ? std::optional<qint64>(a) : std::nullopt, value.toDouble());
    }
    case QJsonValue::String:
        return unitsOf(value.toString());
    case QJsonValue::Array: {
        QString out = QStringLiteral("[");
        for (const QJsonValue element : value.toArray()) {
            out += dump(element) + u',';
        }
        return out + u']';
    }
    case QJsonValue::Object: {
        std::map<QString, QString> members;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            members[it.key()] = dump(it.value());
        }
        QString out = QStringLiteral("{");
        for (const auto& [name, text] : members) {
            out += unitsOf(name) + u':' + text + u',';
        }
        return out + u'}';
    }
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("undefined");
}

QString dump(const JsonValue& value) {
    switch (value.type()) {
    case JsonValue::Type::Null:
        return QStringLiteral("null");
    case JsonValue::Type::Bool:
        return QStringLiteral("bool");
    case JsonValue::Type::Number:
        return numberText(value.toInteger(), value.toDouble());
    case JsonValue::Type::String:
        return unitsOf(value.toString());
    case JsonValue::Type::Array: {
        QString out = QStringLiteral("[");
        for (const JsonValue element : value) {
            out += dump(element) + u',';
        }
        return out + u']';
    }
    case JsonValue::Type::Object: {
        std::map<QString, QString> members;
        const JsonValue::Members all = value.members();
        for (qsizetype i = 0; i < all.size(); ++i) {
            members[all.name(i)] = dump(all.value(i));
        }
        QString out = QStringLiteral("{");
        for (const auto& [name, text] : members) {
            out += unitsOf(name) + u':' + text + u',';
        }
        return out + u'}';
    }
    case JsonValue::Type::Undefined:
        break;
    }
    return QStringLiteral("undefined");
}

// The hub's records hold no booleans, so the reader tells only their type: compare them as such.
QString withoutBooleans(QString text) {
    return text.replace(QStringLiteral("true"), QStringLiteral("bool"))
        .replace(QStringLiteral("false"), QStringLiteral("bool"));
}

// Random JSON texts with what replies may hold and what the syntax allows around it.
class JsonWriter {
public:
    explicit JsonWriter(unsigned seed) : m_random(seed) {}

    QByteArray document() {
        m_text.clear();
        space();
        if (pick(2) == 0) {
            array(0);
        } else {
            object(0);
        }
        space();
        return m_text;
    }

private:
    unsigned pick(unsigned n) { return unsigned(m_random() % n); }

    void space() {
        static const char* const spaces[] = {"", "", "", " ", "\n", "\t", "\r\n  "};
        m_text += spaces[pick(std::size(spaces))];
    }

    void value(int depth) {
        switch (pick(depth < 4 ? 9 : 7)) {
        case 0:
        case 1:
        case 2:
            string();
            return;
        case 3:
        case 4:
            number();
            return;
        case 5:
            m_text += pick(2) ? "true" : "false";
            return;
        case 6:
            m_text += "null";
            return;
        case 7:
            array(depth + 1);
            return;
        default:
            object(depth + 1);
            return;
        }
    }

    void array(int depth) {
        m_text += '[';
        space();
        for (unsigned n = pick(5), i = 0; i < n; ++i) {
            if (i > 0) {
                m_text += ',';
                space();
            }
            value(depth);
            space();
        }
        m_text += ']';
    }

    void object(int depth) {
        static const char* const names[] = {"id", "title", "body", "\\u0069d", "", "t\\u00eftle"};
        m_text += '{';
        space();
        for (unsigned n = pick(6), i = 0; i < n; ++i) {
            if (i > 0) {
                m_text += ',';
                space();
            }
            if (pick(3) == 0) {
                string();
            } else {
                m_text += '"';
                m_text += names[pick(std::size(names))];
                m_text += '"';
            }
            space();
            m_text += ':';
            space();
            value(depth);
            space();
        }
        m_text += '}';
    }

    void string() {
        static const char* const pieces[] = {
            "a",    "Z",    " ",   "\xc3\xa9",     "\xe2\x82\xac",   "\xf0\x9f\x98\x80", "\\n",
            "\\\"", "\\\\", "\\/", "\\u00e9",      "\\ud83d\\ude00", "\\ud800",          "\\u0000",
            "\\x",  "\x01", "\t",  "\xef\xbf\xbf", "\\b\\f\\r\\t",
        };
        m_text += '"';
        for (unsigned n = pick(6), i = 0; i < n; ++i) {
            m_text += pieces[pick(std::size(pieces))];
        }
        m_text += '"';
    }

    void number() {
        static const char* const numbers[] = {
            "0",
            "-0",
            "7",
            "-42",
            "9007199254740993",
            "9223372036854775807",
            "9223372036854775808",
            "-9223372036854775808",
            "-9223372036854775809",
            "123456789012345678901234567890",
            "1.5",
            "-0.25",
            "1.0",
            "1e3",
            "1E+2",
            "2.5e-3",
            "1.",
            ".5",
            "-.5",
            "1.e5",
            "1e308",
            "4.9e-324",
            "1e-310",
            "0.0e-400",
            "1e2",
        };
        m_text += numbers[pick(std::size(numbers))];
    }

    std::mt19937 m_random;
    QByteArray m_text;
};

// Both readers over the same text: the same verdict, and for valid text the same tree.
void expectSameAsQt(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    const JsonParseResult parsed = parseJson(text);
    const bool qtAccepts = error.error == QJsonParseError::NoError;
    ASSERT_EQ(parsed.value.has_value(), qtAccepts)
        << text.toPercentEncoding(" []{}\":,.-+").toStdString()
        << "\n  Qt: " << error.errorString().toStdString()
        << ", ours: " << parsed.error.toStdString();
    if (qtAccepts) {
        const QString qt =
            dump(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()));
        EXPECT_EQ(dump(*parsed.value), withoutBooleans(qt))
            << text.toPercentEncoding(" []{}\":,.-+").toStdString();
    } else {
        EXPECT_FALSE(parsed.error.isEmpty());
        EXPECT_GE(parsed.offset, 0);
        EXPECT_LE(parsed.offset, text.size());
    }
}

TEST(JsonValue, ReadsWhatQtReadsAndRefusesWhatItRefuses) {
    JsonWriter writer(121);
    std::mt19937 random(12);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray valid = writer.document();
        expectSameAsQt(valid);
        // The same text broken in one place: a byte changed, dropped or added, or cut short.
        QByteArray broken = valid;
        const qsizetype at = qsizetype(random() % unsigned(valid.size()));
        static const char bytes[] = "[]{}\",:\\ -.0e1tnu\x80\xc3\xff\x00";
        const char byte = bytes[random() % (sizeof bytes)];
        switch (random() % 4) {
        case 0:
            broken[at] = byte;
            break;
        case 1:
            broken.remove(at, 1);
            break;
        case 2:
            broken.insert(at, byte);
            break;
        default:
            broken.truncate(at);
            break;
        }
        if (!broken.isEmpty()) {
            expectSameAsQt(broken);
        }
    }
}

TEST(JsonValue, TheEdgesOfTheSyntax) {
    const char* const texts[] = {
        "[1]",
        "\xef\xbb\xbf[1]",
        "\xef\xbb\xbf\xef\xbb\xbf[1]",
        " \xef\xbb\xbf[1]",
        "1",
        "\"x\"",
        "[1] x",
        "[1]\n",
        "[01]",
        "[-]",
        "[.]",
        "[1e]",
        "[1e400]",
        "[2e-324]",
        "[+1]",
        "[0x1]",
        "[1,]",
        "{\"a\":1,}",
        "{\"a\" 1}",
        "{1:2}",
        "[\"\\u12\"]",
        "[\"\\\xc3\"]",
        "[\"\\\xc3\xa9\"]",
        "[\"\xed\xa0\x80\"]",
        "[\"\xc0\xaf\"]",
        "[\"\xf4\x90\x80\x80\"]",
        "[tru]",
        "[true1]",
        "{\"a\":1,\"a\":2}",
        "[\"abc",
        "[",
        "{",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        expectSameAsQt(QByteArray(text));
    }
    expectSameAsQt(QByteArray("[1]\0", 4));
    expectSameAsQt(QByteArray("[\"a\0b\"]", 7));
    for (const int depth : {1024, 1025}) {
        SCOPED_TRACE(depth);
        expectSameAsQt(QByteArray(depth, '[') + QByteArray(depth, ']'));
    }
    const JsonParseResult deep = parseJson(QByteArray(1'000'000, '['));
    EXPECT_EQ(deep.error, "too deeply nested document");
}

TEST(JsonValue, LookUpAndIterate) {
    const QByteArray text = R"( {"a": [1, "two", {"b": null}], "a\u0062": true, "a": [], "n": 5} )";
    const JsonParseResult parsed = parseJson(text);
    ASSERT_TRUE(parsed.value);
    const JsonValue::Members members = parsed.value->members();
    EXPECT_EQ(members.size(), 4);
    EXPECT_EQ(members.value(QLatin1StringView("a")).count(), 0) << "the last of a repeated name";
    EXPECT_EQ(members.value(QLatin1StringView("ab")).type(), JsonValue::Type::Bool)
        << "names are compared with their escapes resolved";
    EXPECT_TRUE(members.value(QLatin1StringView("missing")).isUndefined());
    EXPECT_EQ(members.value(QLatin1StringView("n")).toInteger(), 5);
    const JsonValue first = members.value(0);
    EXPECT_EQ(first.count(), 3);
    QStringList seen;
    for (const JsonValue element : first) {
        seen << dump(element);
    }
    EXPECT_EQ(seen.size(), 3);
    EXPECT_TRUE(first.members().value(QLatin1StringView("a")).isUndefined()) << "not an object";
    EXPECT_EQ(first.toString(), QString());
}

} // namespace
