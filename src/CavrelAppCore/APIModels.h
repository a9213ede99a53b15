#pragma once

#include "APIResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace cavrel {

// The records in which the hub reports a project's sessions, rules, skills and memory. Plain
// values: every field is present unless it is a std::optional, where absent and empty differ
// (a null "summary" is absent, "" is a present empty summary). Lists keep the hub's order.
// Points in time are UTC QDateTimes with millisecond precision.

// One recorded agent session, as listed for a project.
struct SessionSummary {
    qint64 id = 0;
    qint64 projectID = 0;
    QString tool;
    QString source;
    QDateTime startedAt;
    QDateTime endedAt;
    std::optional<QString> summary;
    QString status;

    bool operator==(const SessionSummary&) const = default;
};

// One message of a session's transcript; `seq` is its identity.
struct SessionMessage {
    qint64 seq = 0;
    QString role;
    QString content;
    std::optional<QString> toolName;

    bool operator==(const SessionMessage&) const = default;
};

// One session with its transcript: the fields of SessionSummary, then the messages.
// Deliberately without equality: screens identify it by `id` only.
struct SessionDetail {
    qint64 id = 0;
    qint64 projectID = 0;
    QString tool;
    QString source;
    QDateTime startedAt;
    QDateTime endedAt;
    std::optional<QString> summary;
    QString status;
    QList<SessionMessage> messages;
};

// An instruction agents must follow, for one project (scope "project") or all ("global").
struct Rule {
    qint64 id = 0;
    QString scope;
    QString title;
    QString body;
    QString updatedBy;

    bool operator==(const Rule&) const = default;
};

// A named procedure agents may use; `description` may be empty but is always sent.
struct Skill {
    qint64 id = 0;
    QString scope;
    QString name;
    QString description;
    QString body;
    QString updatedBy;

    bool operator==(const Skill&) const = default;
};

// A remembered fact, extracted by the hub or added by the user.
struct MemoryEntry {
    qint64 id = 0;
    QString scope;
    QString type;
    QString title;
    QString body;

    bool operator==(const MemoryEntry&) const = default;
};

// Everything the hub holds for one project, in one reply.
struct ProjectContext {
    QList<Rule> rules;
    QList<Skill> skills;
    QList<MemoryEntry> memory;
    QList<SessionSummary> recentSessions;
};

// Hashes cover every field; an absent optional hashes apart from a present empty text.
size_t qHash(const SessionSummary& value, size_t seed = 0) noexcept;
size_t qHash(const SessionMessage& value, size_t seed = 0) noexcept;
size_t qHash(const Rule& value, size_t seed = 0) noexcept;
size_t qHash(const Skill& value, size_t seed = 0) noexcept;
size_t qHash(const MemoryEntry& value, size_t seed = 0) noexcept;

// Reads a whole hub reply as T: one of the records above or a QList of SessionSummary, Rule,
// Skill or MemoryEntry. The reply reads whole or not at all: a missing or null required key,
// a value of the wrong JSON type, an integer outside the signed 64-bit range or a date that is
// not an internet date-time in any element fails the whole reply with a Decoding error naming
// where it failed. A date's error is exactly "Invalid ISO8601 date: " and the text received.
// Keys a record does not know are ignored. The reply is read in place, so that decoding takes
// little memory beyond the reply and the records made from it. Pure and thread-safe.
template <class T> APIResult<T> decodeHubReply(const QByteArray& body);

// The written form of each record: the same keys, an absent optional left out, dates as
// formatInternetDateTime writes them.
QJsonObject toJson(const SessionSummary& value);
QJsonObject toJson(const SessionMessage& value);
QJsonObject toJson(const SessionDetail& value);
QJsonObject toJson(const Rule& value);
QJsonObject toJson(const Skill& value);
QJsonObject toJson(const MemoryEntry& value);
QJsonObject toJson(const ProjectContext& value);

} // namespace cavrel
