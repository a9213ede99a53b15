#include "AppTestSupport.h"
#include "ContentUnavailableView.h"
#include "HubListArea.h"
#include "LoadingView.h"
#include "SessionDateFormat.h"
#include "SessionRow.h"
#include "SessionsView.h"
#include "UiStyle.h"

#include <QJsonArray>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPushButton>
#include <QThreadPool>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace cavrel;
using cavrel::fake::FakeHub;
using cavrel::test::cartURL;
using cavrel::test::shopURL;
using cavrel::test::waitUntil;

namespace {

QJsonObject session(const QString& tool, const QString& startedAt, const QJsonValue& summary,
                    QJsonArray messages = {}) {
    return {{"tool", tool},
            {"source", "watch"},
            {"started_at", startedAt},
            {"ended_at", "2025-01-05T16:00:00Z"},
            {"summary", summary},
            {"status", "completed"},
            {"messages", messages}};
}

QJsonObject message(int seq, const QString& role, const QString& content) {
    return {{"seq", seq}, {"role", role}, {"content", content}};
}

class SessionsViewTest : public ::testing::Test {
protected:
    SessionsViewTest() {
        EXPECT_TRUE(m_hub.listen());
        m_client.emplace(m_hub.baseUrl(), m_hub.token());
    }

    SessionsView& shown() {
        return test::showScreen(m_view, new SessionsView(*m_client, {"/work/shop", shopURL}));
    }

    SessionsView& loaded() { return test::whenLoaded(shown()); }

    qsizetype requestsFor(const QString& path) const {
        return test::recordedRequests(m_hub, "GET", path).size();
    }

    static QStringList texts(const QWidget* root, const char* name) {
        QStringList found;
        for (const QLabel* label : root->findChildren<QLabel*>(name)) {
            found.append(label->text());
        }
        return found;
    }

    FakeHub m_hub;
    std::optional<CavrelAPIClient> m_client;
    std::unique_ptr<SessionsView> m_view;
};

TEST(SessionDateFormat, AbbreviatedDateAndShortTime) {
    const QDateTime time = QDateTime::fromString("2025-01-05T15:04:05Z", Qt::ISODate);
    QString text = formatSessionDate(time, "en_US");
    text.replace(QChar(0x202F), u' '); // ICU puts a narrow no-break space before "PM"
    EXPECT_EQ(text, "Jan 5, 2025, 3:04 PM");
}

TEST_F(SessionsViewTest, ListsTheProjectsSessionsOrTheEmptyState) {
    SessionsView& empty = shown();
    EXPECT_EQ(empty.stateArea()->currentWidget(), empty.loadingView());
    EXPECT_EQ(empty.loadingView()->label(), "Loading sessions…");
    ASSERT_TRUE(waitUntil([&] { return !empty.isLoading(); }));
    EXPECT_EQ(empty.stateArea()->currentWidget(), empty.emptyState());
    EXPECT_EQ(empty.emptyState()->title(), "No sessions yet");
    EXPECT_EQ(empty.emptyState()->description(),
              "No agent sessions have been recorded for \"shop\" yet. Run an agent from the "
              "Agents tab to create one.");

    m_hub.addRecord(FakeHub::Kind::Sessions, shopURL,
                    session("claude", "2025-01-05T15:04:05Z", "First line\nsecond line"));
    m_hub.addRecord(FakeHub::Kind::Sessions, shopURL,
                    session("codex", "2025-01-06T09:00:00.125+02:00", QJsonValue::Null));
    m_hub.addRecord(FakeHub::Kind::Sessions, shopURL, session("agy", "2025-01-07T10:00:00Z", ""));
    SessionsView& listed = loaded();
    ASSERT_EQ(listed.rows().size(), 3);
    EXPECT_EQ(listed.rows()[0]->title(),
              QString("claude — %1").arg(formatSessionDate(listed.sessions()[0].startedAt)));
    EXPECT_EQ(listed.rows()[0]->summaryLine(), "First line\nsecond line");
    EXPECT_EQ(listed.rows()[1]->summaryLine(), "—") << "no summary";
    EXPECT_EQ(listed.rows()[2]->summaryLine(), "") << "an empty summary is an empty line";
    EXPECT_FALSE(listed.rows()[0]->isExpanded());
}

TEST_F(SessionsViewTest, ExpandingARowFetchesItsTranscriptEveryTime) {
    const qint64 first = m_hub.addRecord(
        FakeHub::Kind::Sessions, shopURL,
        session("claude", "2025-01-05T15:04:05Z", "Did <b>it</b>",
                {message(1, "user", "Add a flag"), message(2, "assistant", "<i>Done</i>")}));
    const qint64 second = m_hub.addRecord(FakeHub::Kind::Sessions, shopURL,
                                          session("codex", "2025-01-06T09:00:00Z", ""));
    SessionsView& view = loaded();
    const QString firstPath = QString("/v1/sessions/%1").arg(first);
    const QString secondPath = QString("/v1/sessions/%1").arg(second);

    m_hub.setDelay("GET", firstPath, 100);
    view.setExpanded(first, true);
    SessionRow* row = view.rows()[0];
    EXPECT_TRUE(row->isExpanded());
    EXPECT_TRUE(row->content()->findChild<QWidget*>("transcriptLoading"));
    ASSERT_TRUE(waitUntil([&] { return row->showsTranscript(); }));
    EXPECT_EQ(texts(row->content(), "transcriptSummary"), QStringList{"Did <b>it</b>"});
    EXPECT_EQ(texts(row->content(), "messageRole"), (QStringList{"USER", "ASSISTANT"}));
    EXPECT_EQ(texts(row->content(), "messageContent"), (QStringList{"Add a flag", "<i>Done</i>"}));
    for (const QLabel* label : row->content()->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(row->content()->findChild<QLabel*>("messageContent")->font().family(),
              monospaceFont().family());

    // Another row collapses the first; its empty summary and no messages show nothing.
    view.setExpanded(second, true);
    EXPECT_FALSE(row->isExpanded());
    ASSERT_TRUE(waitUntil([&] { return view.rows()[1]->showsTranscript(); }));
    EXPECT_TRUE(texts(view.rows()[1]->content(), "transcriptSummary").isEmpty());

    // Collapsing and expanding again asks again.
    view.setExpanded(second, false);
    EXPECT_FALSE(view.rows()[1]->isExpanded());
    view.setExpanded(second, true);
    ASSERT_TRUE(waitUntil([&] { return view.rows()[1]->showsTranscript(); }));
    EXPECT_EQ(requestsFor(secondPath), 2);
    EXPECT_EQ(requestsFor(firstPath), 1);

    // The row's own disclosure does the same.
    QTest::mouseClick(view.rows()[0]->findChild<QWidget*>("disclosure"), Qt::LeftButton);
    EXPECT_EQ(view.expandedID(), first);
}

TEST_F(SessionsViewTest, ALateTranscriptIsShownOnlyUnderItsOwnRow) {
    const qint64 slow = m_hub.addRecord(
        FakeHub::Kind::Sessions, shopURL,
        session("claude", "2025-01-05T15:04:05Z", "slow", {message(1, "user", "slow transcript")}));
    const qint64 fast = m_hub.addRecord(
        FakeHub::Kind::Sessions, shopURL,
        session("codex", "2025-01-06T09:00:00Z", "fast", {message(1, "user", "fast transcript")}));
    SessionsView& view = loaded();
    const QString slowPath = QString("/v1/sessions/%1").arg(slow);
    int slowReplies = 0;
    QObject::connect(m_client->session(), &QNetworkAccessManager::finished, m_view.get(),
                     [&](QNetworkReply* reply) { slowReplies += reply->url().path() == slowPath; });

    struct Case {
        const char* name;
        int status; // of the slow reply
    };
    for (const Case& c : {Case{"a late transcript", 200}, Case{"a late failure", 500}}) {
        SCOPED_TRACE(c.name);
        FakeHub::Fault late;
        late.method = "GET";
        late.path = slowPath;
        late.status = c.status;
        late.delayMs = 150;
        if (c.status == 200) {
            late.body =
                QJsonDocument(m_hub.records(FakeHub::Kind::Sessions)[0].toObject()).toJson();
            late.contentType = "application/json";
        }
        m_hub.addFault(late);
        const int repliesBefore = slowReplies;
        view.setExpanded(slow, true);
        view.setExpanded(fast, true);
        ASSERT_TRUE(waitUntil([&] { return view.rows()[1]->showsTranscript(); }));

        // Let the slow reply arrive and its completion run.
        ASSERT_TRUE(waitUntil([&] { return slowReplies == repliesBefore + 1; }));
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();

        EXPECT_EQ(view.expandedID(), fast);
        EXPECT_EQ(view.detail()->id, fast);
        EXPECT_EQ(texts(view.rows()[1]->content(), "messageContent"),
                  QStringList{"fast transcript"});
        EXPECT_FALSE(view.errorMessage());
        view.setExpanded(fast, false);
    }

    // A failure of the request still awaited is reported, and the row keeps waiting.
    FakeHub::Fault failure;
    failure.method = "GET";
    failure.path = slowPath;
    failure.body = "gone";
    m_hub.addFault(failure);
    view.setExpanded(slow, true);
    ASSERT_TRUE(waitUntil([&] { return view.errorAlert() != nullptr; }));
    EXPECT_EQ(view.errorAlert()->text(), QString("GET %1 failed: gone").arg(slowPath));
    EXPECT_TRUE(view.rows()[0]->content()->findChild<QWidget*>("transcriptLoading"));
}

TEST_F(SessionsViewTest, AFailedListKeepsTheRowsUnderTheAlert) {
    m_hub.addRecord(FakeHub::Kind::Sessions, shopURL,
                    session("claude", "2025-01-05T15:04:05Z", "kept"));
    m_hub.addRecord(FakeHub::Kind::Sessions, cartURL,
                    session("codex", "2025-01-06T09:00:00Z", "cart"));
    SessionsView& view = loaded();
    ASSERT_EQ(view.sessions().size(), 1);

    FakeHub::Fault failure;
    failure.method = "GET";
    failure.path = "/v1/sessions";
    failure.status = 502;
    failure.body = "hub restarting";
    m_hub.addFault(failure);
    view.setProject({"/work/cart", cartURL});
    ASSERT_TRUE(waitUntil([&] { return view.errorAlert() != nullptr; }));
    EXPECT_EQ(view.errorAlert()->text(), "GET /v1/sessions failed: hub restarting");
    EXPECT_FALSE(view.isLoading());
    EXPECT_EQ(view.sessions().value(0).summary, "kept") << "the previous list stays";
    view.errorAlert()->buttons().value(0)->click();
    ASSERT_TRUE(waitUntil([&] { return view.errorAlert() == nullptr; }));

    // A superseded slow load raises nothing: the new project's list shows.
    failure.delayMs = 200;
    failure.body = "too late";
    m_hub.addFault(failure);
    view.setProject({"/work/shop", shopURL});
    view.setProject({"/work/cart", cartURL});
    ASSERT_TRUE(waitUntil([&] { return !view.isLoading(); }));
    EXPECT_EQ(view.sessions().value(0).summary, "cart");
    EXPECT_FALSE(view.errorMessage());
}

} // namespace
