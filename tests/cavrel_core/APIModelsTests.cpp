#include "APIModels.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QTimeZone>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace cavrel;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

const char* const sessionA =
    R"({"id":1,"project_id":3,"tool":"claude","source":"watch","started_at":"2025-01-05T15:04:05Z",)"
    R"("ended_at":"2025-01-05T15:30:00.250+02:00","summary":null,"status":"completed"})";
const char* const sessionB =
    R"({"id":2,"project_id":3,"tool":"codex","source":"cli","started_at":"2025-01-06T09:00:00.125Z",)"
    R"("ended_at":"2025-01-06T09:12:41Z","summary":"","status":"running","extra":{"nested":[1,2]}})";
const char* const sessionC =
    R"({"id":9007199254740993,"project_id":-4,"tool":"agy","source":"s","started_at":"2025-01-07T00:00:00Z",)"
    R"("ended_at":"2025-01-07T00:00:01Z","summary":"Fixed the build","status":"done"})";

QByteArray bytes(const std::string& text) {
    return QByteArray::fromStdString(text);
}

TEST(APIModels, SessionListKeepsOrderDatesAndOptionals) {
    const auto result = decodeHubReply<QList<SessionSummary>>(
        bytes(std::string("[") + sessionA + "," + sessionB + "," + sessionC + "]"));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    const auto& list = result.value();
    ASSERT_EQ(list.size(), 3);

    EXPECT_EQ(list[0].id, 1);
    EXPECT_EQ(list[0].projectID, 3);
    EXPECT_EQ(list[0].tool, "claude");
    EXPECT_EQ(list[0].source, "watch");
    EXPECT_EQ(list[0].status, "completed");
    EXPECT_EQ(list[0].startedAt, utc(2025, 1, 5, 15, 4, 5));
    EXPECT_EQ(list[0].endedAt, utc(2025, 1, 5, 13, 30, 0, 250));
    EXPECT_FALSE(list[0].summary.has_value()) << "null summary is absent";

    EXPECT_EQ(list[1].startedAt.toMSecsSinceEpoch() % 1000, 125) << "milliseconds kept";
    ASSERT_TRUE(list[1].summary.has_value()) << "an empty summary is present";
    EXPECT_EQ(*list[1].summary, "");

    // Integers beyond 2^53 must not pass through a double.
    EXPECT_EQ(list[2].id, 9007199254740993LL);
    EXPECT_EQ(list[2].projectID, -4);
    EXPECT_EQ(list[2].summary, std::optional<QString>("Fixed the build"));
}

TEST(APIModels, RecordsReadTheirKeysAndIgnoreOthers) {
    {
        const auto rule = decodeHubReply<Rule>(
            R"({"id":42,"scope":"project","title":"T","body":"B","updated_by":"me","project":"x","weight":3})");
        ASSERT_TRUE(rule.ok()) << rule.error().message.toStdString();
        EXPECT_EQ(rule.value(), (Rule{42, "project", "T", "B", "me"}));
    }
    {
        const auto skill = decodeHubReply<Skill>(
            R"({"id":-1,"scope":"global","name":"deploy","description":"","body":"1. go","updated_by":"u"})");
        ASSERT_TRUE(skill.ok()) << skill.error().message.toStdString();
        EXPECT_EQ(skill.value(), (Skill{-1, "global", "deploy", "", "1. go", "u"}));
    }
    {
        const auto memory = decodeHubReply<MemoryEntry>(
            R"({"id":9223372036854775807,"scope":"project","type":"feedback","title":"T","body":"é😀","updated_by":"x"})");
        ASSERT_TRUE(memory.ok()) << memory.error().message.toStdString();
        EXPECT_EQ(memory.value(), (MemoryEntry{9223372036854775807LL, "project", "feedback", "T",
                                               QString::fromUtf8("é😀")}));
    }
    {
        const auto detail = decodeHubReply<SessionDetail>(
            R"({"id":7,"project_id":1,"tool":"claude","source":"w","started_at":"2025-01-05T15:04:05Z",)"
            R"("ended_at":"2025-01-05T15:04:06Z","status":"s","messages":[)"
            R"({"seq":1,"role":"user","content":"hi"},)"
            R"({"seq":2,"role":"assistant","content":"hello","tool_name":"bash"},)"
            R"({"seq":3,"role":"tool","content":"","tool_name":null}]})");
        ASSERT_TRUE(detail.ok()) << detail.error().message.toStdString();
        EXPECT_EQ(detail.value().id, 7);
        EXPECT_FALSE(detail.value().summary.has_value()) << "missing summary is absent";
        ASSERT_EQ(detail.value().messages.size(), 3);
        EXPECT_EQ(detail.value().messages[0], (SessionMessage{1, "user", "hi", std::nullopt}));
        EXPECT_EQ(detail.value().messages[1],
                  (SessionMessage{2, "assistant", "hello", QString("bash")}));
        EXPECT_EQ(detail.value().messages[2], (SessionMessage{3, "tool", "", std::nullopt}));
    }
    {
        const auto detail = decodeHubReply<SessionDetail>(
            R"({"id":8,"project_id":1,"tool":"t","source":"w","started_at":"2025-01-05T15:04:05Z",)"
            R"("ended_at":"2025-01-05T15:04:06Z","summary":"s","status":"s","messages":[]})");
        ASSERT_TRUE(detail.ok()) << detail.error().message.toStdString();
        EXPECT_TRUE(detail.value().messages.isEmpty());
    }
    {
        const auto context = decodeHubReply<ProjectContext>(
            R"({"rules":[],"skills":[],"memory":[],"recent_sessions":[]})");
        ASSERT_TRUE(context.ok()) << context.error().message.toStdString();
        EXPECT_TRUE(context.value().rules.isEmpty());
        EXPECT_TRUE(context.value().recentSessions.isEmpty());
    }
    {
        const auto context = decodeHubReply<ProjectContext>(bytes(
            std::string(
                R"({"rules":[{"id":1,"scope":"global","title":"t","body":"b","updated_by":"u"}],)") +
            R"("skills":[],"memory":[],"recent_sessions":[)" + sessionA + "]}"));
        ASSERT_TRUE(context.ok()) << context.error().message.toStdString();
        EXPECT_EQ(context.value().rules.size(), 1);
        EXPECT_EQ(context.value().recentSessions.value(0).id, 1);
    }
    {
        const auto empty = decodeHubReply<QList<Rule>>("[]");
        ASSERT_TRUE(empty.ok());
        EXPECT_TRUE(empty.value().isEmpty());
    }
}

// Every way a reply can fail to read, each failing the whole reply with a Decoding error.
TEST(APIModels, OneBadValueFailsTheWholeReply) {
    using Decode = std::function<std::optional<APIError>(const QByteArray&)>;
    auto as = [](auto tag) -> Decode {
        using T = typename decltype(tag)::type;
        return [](const QByteArray& body) -> std::optional<APIError> {
            const auto result = decodeHubReply<T>(body);
            if (result.ok()) {
                return std::nullopt;
            }
            return result.error();
        };
    };
    const Decode sessions = as(std::type_identity<QList<SessionSummary>>{});
    const Decode session = as(std::type_identity<SessionSummary>{});
    const Decode detail = as(std::type_identity<SessionDetail>{});
    const Decode rules = as(std::type_identity<QList<Rule>>{});
    const Decode rule = as(std::type_identity<Rule>{});
    const Decode skills = as(std::type_identity<QList<Skill>>{});
    const Decode context = as(std::type_identity<ProjectContext>{});

    auto sessionWith = [](const std::string& replace, const std::string& by) {
        std::string text = sessionB;
        const auto at = text.find(replace);
        return text.substr(0, at) + by + text.substr(at + replace.size());
    };
    const std::string list = std::string("[") + sessionA + ",";

    struct Case {
        const char* name;
        Decode decode;
        QByteArray body;
        QString message; // exact when `exact`, else a part of the message
        bool exact = false;
    } cases[] = {
        {"null ended_at in the second element", sessions,
         bytes(list + sessionWith(R"("2025-01-06T09:12:41Z")", "null") + "]"), "[1].ended_at"},
        {"missing ended_at", sessions,
         bytes(list + sessionWith(R"("ended_at":"2025-01-06T09:12:41Z",)", "") + "]"),
         "no value at [1].ended_at"},
        {"blank in place of T", session,
         bytes(sessionWith("2025-01-06T09:00:00.125Z", "2025-01-06 09:00:00.125Z")),
         "Invalid ISO8601 date: 2025-01-06 09:00:00.125Z", true},
        {"date without zone", sessions,
         bytes(list + sessionWith("2025-01-06T09:12:41Z", "2025-01-06T09:12:41") + "]"),
         "Invalid ISO8601 date: 2025-01-06T09:12:41", true},
        {"date as a number is a type error", session,
         bytes(sessionWith(R"("2025-01-06T09:00:00.125Z")", "1736154000")),
         "expected a date as text but found a number at started_at"},
        {"summary of the wrong type", session,
         bytes(sessionWith(R"("summary":"")", R"("summary":5)")),
         "expected text but found a number at summary"},
        {"id as a string of digits", session, bytes(sessionWith(R"("id":2)", R"("id":"2")")),
         "at id"},
        {"id with a fraction", session, bytes(sessionWith(R"("id":2)", R"("id":2.5)")),
         "64-bit integer"},
        {"id beyond 64 bits", session,
         bytes(sessionWith(R"("id":2)", R"("id":9223372036854775808)")), "64-bit integer"},
        {"id as a boolean", session, bytes(sessionWith(R"("id":2)", R"("id":true)")),
         "found a boolean at id"},
        {"tool missing", session, bytes(sessionWith(R"("tool":"codex",)", "")), "no value at tool"},
        {"tool null", session, bytes(sessionWith(R"("tool":"codex")", R"("tool":null)")),
         "null in place of text at tool"},
        {"skill without description", skills,
         R"([{"id":1,"scope":"global","name":"n","description":"","body":"b","updated_by":"u"},)"
         R"({"id":2,"scope":"global","name":"n","body":"b","updated_by":"u"}])",
         "no value at [1].description"},
        {"rule without updated_by", rule, R"({"id":1,"scope":"global","title":"t","body":"b"})",
         "updated_by"},
        {"element that is null", rules, R"([null])", "null in place of an object at [0]"},
        {"detail without messages", detail,
         R"({"id":7,"project_id":1,"tool":"t","source":"w","started_at":"2025-01-05T15:04:05Z",)"
         R"("ended_at":"2025-01-05T15:04:06Z","status":"s"})",
         "no value at messages"},
        {"message without seq", detail,
         R"({"id":7,"project_id":1,"tool":"t","source":"w","started_at":"2025-01-05T15:04:05Z",)"
         R"("ended_at":"2025-01-05T15:04:06Z","status":"s","messages":[{"role":"r","content":"c"}]})",
         "no value at messages[0].seq"},
        {"tool_name of the wrong type", detail,
         R"({"id":7,"project_id":1,"tool":"t","source":"w","started_at":"2025-01-05T15:04:05Z",)"
         R"("ended_at":"2025-01-05T15:04:06Z","status":"s","messages":[{"seq":1,"role":"r","content":"c","tool_name":1}]})",
         "messages[0].tool_name"},
        {"context without recent_sessions", context, R"({"rules":[],"skills":[],"memory":[]})",
         "no value at recent_sessions"},
        {"bad session inside a context", context,
         bytes(std::string(R"({"rules":[],"skills":[],"memory":[],"recent_sessions":[)") +
               sessionWith(R"("2025-01-06T09:12:41Z")", "null") + "]}"),
         "recent_sessions[0].ended_at"},
        {"object where a list is expected", rules, R"({"id":1})",
         "expected an array but found an object"},
        {"list where a record is expected", rule, R"([])", "expected an object but found an array"},
        {"a bare string", rules, R"("rules")", "not valid JSON"},
        {"empty body", rule, "", "the reply is empty"},
        {"truncated JSON", rules, R"([{"id":1,)", "not valid JSON"},
        {"trailing garbage", rules, R"([] x)", "not valid JSON"},
        {"invalid UTF-8 inside a string", rule,
         QByteArray(R"({"id":1,"scope":"global","title":"t)") + "\xff" +
             R"(","body":"b","updated_by":"u"})",
         "not valid JSON"},
        {"nesting too deep to be a reply", rules, QByteArray(100000, '[') + QByteArray(100000, ']'),
         "Cannot read the hub's reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = c.decode(c.body);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->kind, APIError::Kind::Decoding);
        if (c.exact) {
            EXPECT_EQ(error->message, c.message);
        } else {
            EXPECT_TRUE(error->message.contains(c.message)) << error->message.toStdString();
            EXPECT_FALSE(error->message.startsWith("Invalid ISO8601 date"))
                << error->message.toStdString();
        }
        EXPECT_EQ(error->errorDescription(), error->message);
    }
}

// Resident memory of this process: now, and the most since resetPeak().
struct ResidentMemory {
    qint64 now = 0;
    qint64 peak = 0;
};

ResidentMemory residentMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    ResidentMemory memory;
    if (!status.open(QIODevice::ReadOnly)) {
        return memory;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        const auto kilobytes = [&] {
            return line.mid(6).trimmed().split(' ')[0].toLongLong() * 1024;
        };
        if (line.startsWith("VmRSS:")) {
            memory.now = kilobytes();
        } else if (line.startsWith("VmHWM:")) {
            memory.peak = kilobytes();
        }
    }
    return memory;
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

// A reply of many small records once took over ten times its size to decode. Measured in a
// process of its own, whose memory holds nothing else of note.
TEST(APIModelsDeathTest, ManySmallRecordsDecodeWithinAFewTimesTheReplysSize) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own bookkeeping would be measured too";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const QByteArray record =
                R"({"id":1,"scope":"g","title":"t","body":"b","updated_by":"u"})";
            constexpr qsizetype count = 150'000;
            QByteArray body;
            body.reserve(count * (record.size() + 1) + 1);
            body += '[';
            for (qsizetype i = 0; i < count; ++i) {
                body += record;
                body += i + 1 < count ? ',' : ']';
            }
            resetPeak();
            const ResidentMemory before = residentMemory();
            const auto rules = decodeHubReply<QList<Rule>>(body);
            const qint64 used = residentMemory().peak - before.now;
            std::fprintf(
                stderr, "decoded %lld of %lld rules from %lld bytes, %lld bytes more at the peak\n",
                static_cast<long long>(rules.ok() ? rules.value().size() : -1),
                static_cast<long long>(count), static_cast<long long>(body.size()),
                static_cast<long long>(used));
            std::_Exit(rules.ok() && rules.value().size() == count && before.now > 0 &&
                               used <= 6 * body.size()
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "decoded");
}

TEST(APIModels, AbsentAndEmptyOptionalsStayApartInEqualityAndHash) {
    SessionSummary absent{
        1, 2, "t", "s", utc(2025, 1, 1, 0, 0, 0), utc(2025, 1, 1, 0, 0, 1), std::nullopt, "x"};
    SessionSummary empty = absent;
    empty.summary = QString();
    EXPECT_NE(absent, empty);
    EXPECT_NE(qHash(absent, 0), qHash(empty, 0));

    // The same instant written with another offset is the same value.
    SessionSummary shifted = absent;
    shifted.startedAt = absent.startedAt.toTimeZone(QTimeZone(7200));
    EXPECT_EQ(absent, shifted);

    SessionMessage noTool{1, "user", "hi", std::nullopt};
    SessionMessage emptyTool{1, "user", "hi", QString()};
    EXPECT_NE(noTool, emptyTool);
    EXPECT_NE(qHash(noTool, 0), qHash(emptyTool, 0));
}

TEST(APIModels, WrittenRecordsReadBackUnchanged) {
    const SessionDetail detail{
        5,
        6,
        "claude",
        "watch",
        utc(2025, 1, 5, 15, 4, 5, 250),
        utc(2025, 1, 5, 16, 0, 0),
        std::nullopt,
        "completed",
        {{1, "user", "hi", std::nullopt}, {2, "assistant", "ok", QString("bash")}}};
    const QJsonObject written = toJson(detail);
    EXPECT_FALSE(written.contains("summary")) << "an absent optional is left out";
    const auto back = decodeHubReply<SessionDetail>(QJsonDocument(written).toJson());
    ASSERT_TRUE(back.ok()) << back.error().message.toStdString();
    EXPECT_EQ(back.value().startedAt, detail.startedAt);
    EXPECT_EQ(back.value().summary, detail.summary);
    EXPECT_EQ(back.value().messages, detail.messages);

    const ProjectContext context{
        {{1, "global", "t", "b", "u"}},
        {{2, "project", "n", "", "b", "u"}},
        {{3, "project", "user", "t", "b"}},
        {{4, 5, "t", "s", utc(2025, 1, 1, 0, 0, 0), utc(2025, 1, 1, 0, 0, 1), QString(""), "x"}}};
    const auto contextBack =
        decodeHubReply<ProjectContext>(QJsonDocument(toJson(context)).toJson());
    ASSERT_TRUE(contextBack.ok()) << contextBack.error().message.toStdString();
    EXPECT_EQ(contextBack.value().rules, context.rules);
    EXPECT_EQ(contextBack.value().skills, context.skills);
    EXPECT_EQ(contextBack.value().memory, context.memory);
    EXPECT_EQ(contextBack.value().recentSessions, context.recentSessions);
}

} // namespace
