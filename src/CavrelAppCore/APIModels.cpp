#include "APIModels.h"

#include "InternetDateTime.h"
#include "JsonValue.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonValue>

namespace cavrel {

namespace {

QString describe(const JsonValue& value) {
    switch (value.type()) {
    case JsonValue::Type::Null:
        return QStringLiteral("null");
    case JsonValue::Type::Bool:
        return QStringLiteral("a boolean");
    case JsonValue::Type::Number:
        return QStringLiteral("a number");
    case JsonValue::Type::String:
        return QStringLiteral("text");
    case JsonValue::Type::Array:
        return QStringLiteral("an array");
    case JsonValue::Type::Object:
        return QStringLiteral("an object");
    case JsonValue::Type::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// Walks a parsed reply, keeping the path to the value being read so that a failure can say
// where it happened ("[2].ended_at"). The first failure is kept; reading stops there.
class Reader {
public:
    std::optional<APIError> error;

    bool fail(const QString& problem) {
        const QString where = m_path.isEmpty() ? QStringLiteral("the top level") : m_path;
        error =
            APIError(QStringLiteral("Cannot read the hub's reply: %1 at %2").arg(problem, where),
                     APIError::Kind::Decoding);
        return false;
    }
    bool failExactly(const QString& message) {
        error = APIError(message, APIError::Kind::Decoding);
        return false;
    }

    // RAII step into a key or an index of the path.
    class Step {
    public:
        Step(Reader& reader, const QString& segment)
            : m_reader(reader), m_size(reader.m_path.size()) {
            if (!segment.startsWith(u'[') && !reader.m_path.isEmpty()) {
                reader.m_path += u'.';
            }
            reader.m_path += segment;
        }
        ~Step() { m_reader.m_path.truncate(m_size); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        Reader& m_reader;
        qsizetype m_size;
    };

    bool expect(const JsonValue& value, JsonValue::Type type, const char* what) {
        if (value.type() == type) {
            return true;
        }
        if (value.isUndefined()) {
            return fail(QStringLiteral("no value"));
        }
        if (value.isNull()) {
            return fail(QStringLiteral("null in place of %1").arg(QLatin1String(what)));
        }
        return fail(
            QStringLiteral("expected %1 but found %2").arg(QLatin1String(what), describe(value)));
    }

    bool read(const JsonValue& value, QString& out) {
        if (!expect(value, JsonValue::Type::String, "text")) {
            return false;
        }
        out = value.toString();
        return true;
    }

    bool read(const JsonValue& value, qint64& out) {
        if (!expect(value, JsonValue::Type::Number, "an integer")) {
            return false;
        }
        const std::optional<qint64> integer = value.toInteger();
        if (!integer) {
            return fail(QStringLiteral("expected a 64-bit integer but found %1")
                            .arg(QString::number(value.toDouble(), 'g', 17)));
        }
        out = *integer;
        return true;
    }

    bool read(const JsonValue& value, QDateTime& out) {
        if (!expect(value, JsonValue::Type::String, "a date as text")) {
            return false;
        }
        const QString text = value.toString();
        const auto instant = parseInternetDateTime(text);
        if (!instant) {
            return failExactly(QStringLiteral("Invalid ISO8601 date: ") + text);
        }
        out = *instant;
        return true;
    }

    bool read(const JsonValue& value, std::optional<QString>& out) {
        if (value.isUndefined() || value.isNull()) {
            out.reset();
            return true;
        }
        QString text;
        if (!read(value, text)) {
            return false;
        }
        out = std::move(text);
        return true;
    }

    template <class T> bool read(const JsonValue& value, QList<T>& out) {
        if (!expect(value, JsonValue::Type::Array, "an array")) {
            return false;
        }
        QList<T> items;
        items.reserve(value.count());
        qsizetype i = 0;
        for (const JsonValue element : value) {
            Step step(*this, QStringLiteral("[%1]").arg(i++));
            T item;
            if (!read(element, item)) {
                return false;
            }
            items.append(std::move(item));
        }
        out = std::move(items);
        return true;
    }

    template <class T> bool field(const JsonValue::Members& object, const char* key, T& out) {
        Step step(*this, QLatin1String(key));
        return read(object.value(QLatin1String(key)), out);
    }

    bool object(const JsonValue& value, JsonValue::Members& out) {
        if (!expect(value, JsonValue::Type::Object, "an object")) {
            return false;
        }
        out = value.members();
        return true;
    }

    // Records, each field in the order of its key table. A detail starts with a summary's fields.
    template <class Session> bool summaryFields(const JsonValue::Members& o, Session& out) {
        return field(o, "id", out.id) && field(o, "project_id", out.projectID) &&
               field(o, "tool", out.tool) && field(o, "source", out.source) &&
               field(o, "started_at", out.startedAt) && field(o, "ended_at", out.endedAt) &&
               field(o, "summary", out.summary) && field(o, "status", out.status);
    }
    bool read(const JsonValue& value, SessionSummary& out) {
        JsonValue::Members o;
        return object(value, o) && summaryFields(o, out);
    }
    bool read(const JsonValue& value, SessionMessage& out) {
        JsonValue::Members o;
        return object(value, o) && field(o, "seq", out.seq) && field(o, "role", out.role) &&
               field(o, "content", out.content) && field(o, "tool_name", out.toolName);
    }
    bool read(const JsonValue& value, SessionDetail& out) {
        JsonValue::Members o;
        return object(value, o) && summaryFields(o, out) && field(o, "messages", out.messages);
    }
    bool read(const JsonValue& value, Rule& out) {
        JsonValue::Members o;
        return object(value, o) && field(o, "id", out.id) && field(o, "scope", out.scope) &&
               field(o, "title", out.title) && field(o, "body", out.body) &&
               field(o, "updated_by", out.updatedBy);
    }
    bool read(const JsonValue& value, Skill& out) {
        JsonValue::Members o;
        return object(value, o) && field(o, "id", out.id) && field(o, "scope", out.scope) &&
               field(o, "name", out.name) && field(o, "description", out.description) &&
               field(o, "body", out.body) && field(o, "updated_by", out.updatedBy);
    }
    bool read(const JsonValue& value, MemoryEntry& out) {
        JsonValue::Members o;
        return object(value, o) && field(o, "id", out.id) && field(o, "scope", out.scope) &&
               field(o, "type", out.type) && field(o, "title", out.title) &&
               field(o, "body", out.body);
    }
    bool read(const JsonValue& value, ProjectContext& out) {
        JsonValue::Members o;
        return object(value, o) && field(o, "rules", out.rules) && field(o, "skills", out.skills) &&
               field(o, "memory", out.memory) && field(o, "recent_sessions", out.recentSessions);
    }

private:
    QString m_path;
};

// The reply checked whole: a syntax error anywhere is reported before anything is read.
std::optional<JsonValue> parse(const QByteArray& body, Reader& reader) {
    if (body.isEmpty()) {
        reader.failExactly(QStringLiteral("Cannot read the hub's reply: the reply is empty"));
        return std::nullopt;
    }
    JsonParseResult parsed = parseJson(body);
    if (!parsed.value) {
        reader.failExactly(
            QStringLiteral("Cannot read the hub's reply: it is not valid JSON (%1 at byte %2)")
                .arg(parsed.error, QString::number(parsed.offset)));
        return std::nullopt;
    }
    return parsed.value;
}

size_t hashOptional(const std::optional<QString>& text, size_t seed) {
    return qHashMulti(seed, text.has_value(), text.value_or(QString()));
}

QJsonArray toJsonArray(const auto& list) {
    QJsonArray array;
    for (const auto& item : list) {
        array.append(toJson(item));
    }
    return array;
}

void insertOptional(QJsonObject& object, const char* key, const std::optional<QString>& text) {
    if (text) {
        object.insert(QLatin1String(key), *text);
    }
}

template <class Session> QJsonObject summaryJson(const Session& v) {
    QJsonObject o{{"id", v.id},
                  {"project_id", v.projectID},
                  {"tool", v.tool},
                  {"source", v.source},
                  {"started_at", formatInternetDateTime(v.startedAt)},
                  {"ended_at", formatInternetDateTime(v.endedAt)},
                  {"status", v.status}};
    insertOptional(o, "summary", v.summary);
    return o;
}

} // namespace

template <class T> APIResult<T> decodeHubReply(const QByteArray& body) {
    Reader reader;
    const auto value = parse(body, reader);
    T result;
    if (!value || !reader.read(*value, result)) {
        return *reader.error;
    }
    return result;
}

template APIResult<SessionSummary> decodeHubReply(const QByteArray&);
template APIResult<SessionMessage> decodeHubReply(const QByteArray&);
template APIResult<SessionDetail> decodeHubReply(const QByteArray&);
template APIResult<Rule> decodeHubReply(const QByteArray&);
template APIResult<Skill> decodeHubReply(const QByteArray&);
template APIResult<MemoryEntry> decodeHubReply(const QByteArray&);
template APIResult<ProjectContext> decodeHubReply(const QByteArray&);
template APIResult<QList<SessionSummary>> decodeHubReply(const QByteArray&);
template APIResult<QList<Rule>> decodeHubReply(const QByteArray&);
template APIResult<QList<Skill>> decodeHubReply(const QByteArray&);
template APIResult<QList<MemoryEntry>> decodeHubReply(const QByteArray&);

size_t qHash(const SessionSummary& v, size_t seed) noexcept {
    seed = qHashMulti(seed, v.id, v.projectID, v.tool, v.source, v.startedAt, v.endedAt);
    return qHashMulti(hashOptional(v.summary, seed), v.status);
}

size_t qHash(const SessionMessage& v, size_t seed) noexcept {
    return hashOptional(v.toolName, qHashMulti(seed, v.seq, v.role, v.content));
}

size_t qHash(const Rule& v, size_t seed) noexcept {
    return qHashMulti(seed, v.id, v.scope, v.title, v.body, v.updatedBy);
}

size_t qHash(const Skill& v, size_t seed) noexcept {
    return qHashMulti(seed, v.id, v.scope, v.name, v.description, v.body, v.updatedBy);
}

size_t qHash(const MemoryEntry& v, size_t seed) noexcept {
    return qHashMulti(seed, v.id, v.scope, v.type, v.title, v.body);
}

QJsonObject toJson(const SessionSummary& v) {
    return summaryJson(v);
}

QJsonObject toJson(const SessionMessage& v) {
    QJsonObject o{{"seq", v.seq}, {"role", v.role}, {"content", v.content}};
    insertOptional(o, "tool_name", v.toolName);
    return o;
}

QJsonObject toJson(const SessionDetail& v) {
    QJsonObject o = summaryJson(v);
    o.insert(QStringLiteral("messages"), toJsonArray(v.messages));
    return o;
}

QJsonObject toJson(const Rule& v) {
    return {{"id", v.id},
            {"scope", v.scope},
            {"title", v.title},
            {"body", v.body},
            {"updated_by", v.updatedBy}};
}

QJsonObject toJson(const Skill& v) {
    return {{"id", v.id},     {"scope", v.scope},
            {"name", v.name}, {"description", v.description},
            {"body", v.body}, {"updated_by", v.updatedBy}};
}

QJsonObject toJson(const MemoryEntry& v) {
    return {
        {"id", v.id}, {"scope", v.scope}, {"type", v.type}, {"title", v.title}, {"body", v.body}};
}

QJsonObject toJson(const ProjectContext& v) {
    return {{"rules", toJsonArray(v.rules)},
            {"skills", toJsonArray(v.skills)},
            {"memory", toJsonArray(v.memory)},
            {"recent_sessions", toJsonArray(v.recentSessions)}};
}

} // namespace cavrel
