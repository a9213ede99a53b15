#include "AppTestSupport.h"
#include "ContentUnavailableView.h"
#include "EditEntrySheet.h"
#include "GrowingTextEdit.h"
#include "HubListArea.h"
#include "LoadingView.h"
#include "MemoryView.h"
#include "RulesView.h"
#include "SkillsView.h"
#include "UiStyle.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace cavrel;
using cavrel::fake::FakeHub;
using cavrel::test::cartURL;
using cavrel::test::shopURL;
using cavrel::test::waitUntil;

namespace {

// Starts the hub and gives a client of it.
CavrelAPIClient listeningClient(FakeHub& hub) {
    EXPECT_TRUE(hub.listen()) << hub.errorString().toStdString();
    return {hub.baseUrl(), hub.token()};
}

// A scripted answer to the next matching request.
FakeHub::Fault fault(const QString& method, const QString& path, int status, QByteArray body,
                     int delayMs = 0, QByteArray contentType = "text/plain; charset=utf-8") {
    FakeHub::Fault fault;
    fault.method = method;
    fault.path = path;
    fault.status = status;
    fault.body = std::move(body);
    fault.contentType = std::move(contentType);
    fault.delayMs = delayMs;
    return fault;
}

// One of the three entry screens, with what its hub interface and texts look like.
struct KindCase {
    const char* name;
    FakeHub::Kind kind;
    QString path;     // "/v1/rules"
    QString titleKey; // the JSON key of the title field
    QString loading;
    QString emptyTitle;
    QString emptyDescription; // for the folder "shop"
    std::function<EntryScreen*(const CavrelAPIClient&, const ProjectStore::Project&)> make;
};

void PrintTo(const KindCase& c, std::ostream* out) {
    *out << c.name;
}

const KindCase kindCases[] = {
    {"Rules", FakeHub::Kind::Rules, "/v1/rules", "title", "Loading rules…", "No rules yet",
     "No rules have been recorded for \"shop\" yet.",
     [](const CavrelAPIClient& client, const ProjectStore::Project& project) -> EntryScreen* {
         return new RulesView(client, project);
     }},
    {"Skills", FakeHub::Kind::Skills, "/v1/skills", "name", "Loading skills…", "No skills yet",
     "No skills have been recorded for \"shop\" yet.",
     [](const CavrelAPIClient& client, const ProjectStore::Project& project) -> EntryScreen* {
         return new SkillsView(client, project);
     }},
    {"Memory", FakeHub::Kind::Memory, "/v1/memory", "title", "Loading memory…", "No memory yet",
     "No memory entries have been extracted for \"shop\" yet. This needs a summarizer "
     "configured and at least one summarized session.",
     [](const CavrelAPIClient& client, const ProjectStore::Project& project) -> EntryScreen* {
         return new MemoryView(client, project);
     }},
};

class EntryScreenTest : public ::testing::TestWithParam<KindCase> {
protected:
    EntryScreenTest() : m_client(listeningClient(m_hub)) {}

    // A record of this kind in the hub's own shape.
    qint64 seed(const std::optional<QString>& project, const QString& title,
                const QString& body = "Body text", QJsonObject extra = {}) {
        QJsonObject fields{{"scope", project ? "project" : "global"},
                           {GetParam().titleKey, title},
                           {"body", body}};
        if (GetParam().kind != FakeHub::Kind::Memory) {
            fields.insert("updated_by", "someone");
        } else {
            fields.insert("type", "project");
        }
        if (GetParam().kind == FakeHub::Kind::Skills) {
            fields.insert("description", "");
        }
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            fields.insert(it.key(), it.value());
        }
        return m_hub.addRecord(GetParam().kind, project, fields);
    }

    // A shown screen for `project`.
    EntryScreen& screen(const QString& path = "/work/shop",
                        const std::optional<QString>& remote = shopURL) {
        return test::showScreen(m_screen, GetParam().make(m_client, {path, remote}));
    }

    EntryScreen& loadedScreen() { return test::whenLoaded(screen()); }

    QList<FakeHub::RecordedRequest> requests(const QString& method) const {
        return test::recordedRequests(m_hub, method);
    }

    static QStringList titles(const EntryScreen& screen) {
        QStringList titles;
        for (const HubEntry& entry : screen.entries()) {
            titles.append(entry.title);
        }
        return titles;
    }

    static QPushButton* rowButton(const EntryScreen& screen, int row, const char* name) {
        QWidget* found = screen.rows().value(row);
        return found ? found->findChild<QPushButton*>(name) : nullptr;
    }

    static void fillForm(EntryScreen& screen, const QString& title, const QString& body) {
        screen.titleField()->clear();
        QTest::keyClicks(screen.titleField(), title);
        screen.bodyField()->setPlainText(body);
    }

    FakeHub m_hub;
    CavrelAPIClient m_client;
    std::unique_ptr<EntryScreen> m_screen;
};

TEST_P(EntryScreenTest, LoadsIntoTheListOrTheEmptyState) {
    EntryScreen& empty = screen();
    EXPECT_TRUE(empty.isLoading());
    EXPECT_EQ(empty.stateArea()->currentWidget(), empty.loadingView());
    EXPECT_EQ(empty.loadingView()->label(), GetParam().loading);
    ASSERT_TRUE(waitUntil([&] { return !empty.isLoading(); }));
    EXPECT_EQ(empty.stateArea()->currentWidget(), empty.emptyState());
    EXPECT_EQ(empty.emptyState()->title(), GetParam().emptyTitle);
    EXPECT_EQ(empty.emptyState()->description(), GetParam().emptyDescription);

    // Hub texts are shown as they are, never as markup; a long body is shown whole.
    seed(shopURL, "<b>R&D</b>", "<img src=\"http://example.invalid/x.png\">\nsecond line");
    seed(std::nullopt, "Shared");
    seed(cartURL, "Another project's");
    EntryScreen& listed = loadedScreen();
    EXPECT_EQ(titles(listed), (QStringList{"<b>R&D</b>", "Shared"}));
    ASSERT_EQ(listed.rows().size(), 2);
    const QStringList texts = test::visibleLabelTexts(listed.rows()[0]);
    EXPECT_TRUE(texts.contains("<b>R&D</b>"));
    EXPECT_TRUE(texts.contains("<img src=\"http://example.invalid/x.png\">\nsecond line"));
    for (const QLabel* label : listed.rows()[0]->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    const QList<FakeHub::RecordedRequest> gets = requests("GET");
    ASSERT_FALSE(gets.isEmpty());
    EXPECT_EQ(gets.last().queryValue("project"), shopURL);
}

TEST_P(EntryScreenTest, AddsForThisProjectOrAllProjects) {
    EntryScreen& shown = loadedScreen();
    QSet<int> pagesShown;
    QObject::connect(shown.stateArea(), &QStackedWidget::currentChanged,
                     [&pagesShown](int page) { pagesShown.insert(page); });

    EXPECT_FALSE(shown.addButton()->isEnabled());
    QTest::keyClicks(shown.titleField(), "  ");
    EXPECT_FALSE(shown.addButton()->isEnabled()) << "the body is still empty";
    shown.bodyField()->setPlainText(" ");
    EXPECT_TRUE(shown.addButton()->isEnabled()) << "blanks count as typed";

    fillForm(shown, "For everyone", "line one\nline two");
    shown.scopeButton("global")->click();
    shown.addButton()->click();
    EXPECT_TRUE(shown.isSubmitting());
    EXPECT_FALSE(shown.addButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !shown.isSubmitting(); }));
    ASSERT_EQ(requests("POST").size(), 1);
    const QJsonObject global = requests("POST")[0].bodyObject();
    EXPECT_EQ(global.value("scope"), "global");
    EXPECT_FALSE(global.contains("project")) << "a global entry names no project";
    EXPECT_EQ(global.value(GetParam().titleKey), "For everyone");
    EXPECT_EQ(global.value("body"), "line one\nline two");
    EXPECT_TRUE(shown.titleField()->text().isEmpty());
    EXPECT_TRUE(shown.bodyField()->toPlainText().isEmpty());
    EXPECT_TRUE(shown.scopeButton("global")->isChecked()) << "the scope stays as chosen";
    EXPECT_EQ(titles(shown), QStringList{"For everyone"}) << "reloaded";
    EXPECT_FALSE(pagesShown.contains(shown.stateArea()->indexOf(shown.loadingView())))
        << "a reload after an add keeps the list on screen";

    fillForm(shown, "Here only", "body");
    shown.scopeButton("project")->click();
    shown.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !shown.isSubmitting(); }));
    ASSERT_EQ(requests("POST").size(), 2);
    EXPECT_EQ(requests("POST")[1].bodyObject().value("scope"), "project");
    EXPECT_EQ(requests("POST")[1].bodyObject().value("project"), shopURL);
    EXPECT_EQ(titles(shown), (QStringList{"For everyone", "Here only"}));
}

TEST_P(EntryScreenTest, AFailedAddShowsTheHubErrorAndKeepsWhatWasTyped) {
    EntryScreen& shown = loadedScreen();
    m_hub.addFault(fault("POST", GetParam().path, 500, "boom <b>"));
    fillForm(shown, "Kept title", "Kept body");
    shown.scopeButton("global")->click();
    shown.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return shown.errorAlert() != nullptr; }));
    QMessageBox* alert = shown.errorAlert();
    const QString message = QString("POST %1 failed: boom <b>").arg(GetParam().path);
    EXPECT_EQ(alert->windowTitle(), "Error");
    EXPECT_EQ(alert->text(), message);
    EXPECT_EQ(alert->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().value(0)->text(), "OK");
    EXPECT_EQ(shown.errorMessage(), message);
    EXPECT_EQ(shown.titleField()->text(), "Kept title");
    EXPECT_EQ(shown.bodyField()->toPlainText(), "Kept body");
    EXPECT_TRUE(shown.scopeButton("global")->isChecked());
    EXPECT_TRUE(shown.addButton()->isEnabled());

    // A second failure while the alert is up replaces its message; OK clears it.
    m_hub.addFault(fault("POST", GetParam().path, 503, "busy"));
    shown.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return alert->text().endsWith("busy"); }));
    EXPECT_EQ(shown.findChildren<QMessageBox*>().size(), 1);
    alert->buttons().value(0)->click();
    ASSERT_TRUE(waitUntil([&] { return shown.errorAlert() == nullptr; }));
    EXPECT_FALSE(shown.errorMessage());
}

TEST_P(EntryScreenTest, EditsInASheetAndReloadsWheneverItCloses) {
    const qint64 id = seed(shopURL, "Before", "Old body");
    EntryScreen& shown = loadedScreen();
    const auto gets = [this] { return requests("GET").size(); };

    // Cancel: no request, and a reload all the same.
    rowButton(shown, 0, "editButton")->click();
    EditEntrySheet* sheet = shown.editSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->titleField()->text(), "Before");
    EXPECT_EQ(sheet->bodyField()->toPlainText(), "Old body");
    qsizetype before = gets();
    sheet->cancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return gets() == before + 1 && !shown.editSheet(); }));
    EXPECT_TRUE(requests("PUT").isEmpty());

    // Save: disabled while a field is empty, sends the edits without a scope, then closes.
    rowButton(shown, 0, "editButton")->click();
    sheet = shown.editSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->titleField()->clear();
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    QTest::keyClicks(sheet->titleField(), "After");
    sheet->bodyField()->setPlainText("New body");
    before = gets();
    QTest::keyClick(sheet->titleField(), Qt::Key_Return); // the default button
    ASSERT_TRUE(waitUntil([&] { return !shown.editSheet() && gets() == before + 1; }));
    ASSERT_TRUE(waitUntil([&] { return titles(shown) == QStringList{"After"}; }));
    ASSERT_EQ(requests("PUT").size(), 1);
    const FakeHub::RecordedRequest put = requests("PUT")[0];
    EXPECT_EQ(put.path, QString("%1/%2").arg(GetParam().path).arg(id));
    EXPECT_EQ(put.bodyObject().value(GetParam().titleKey), "After");
    EXPECT_EQ(put.bodyObject().value("body"), "New body");
    EXPECT_FALSE(put.bodyObject().contains("scope"));
    EXPECT_FALSE(put.bodyObject().contains("project"));
}

TEST_P(EntryScreenTest, AFailedSaveLeavesTheSheetOpenUnderTheAlert) {
    const qint64 id = seed(shopURL, "Title");
    EntryScreen& shown = loadedScreen();
    m_hub.addFault(fault("PUT", QString("%1/%2").arg(GetParam().path).arg(id), 409, "conflict"));
    rowButton(shown, 0, "editButton")->click();
    EditEntrySheet* sheet = shown.editSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->titleField()->setText("Edited");
    sheet->saveButton()->click();
    EXPECT_TRUE(sheet->isSaving());
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return shown.errorAlert() != nullptr; }));
    EXPECT_EQ(shown.errorAlert()->text(),
              QString("PUT %1/%2 failed: conflict").arg(GetParam().path).arg(id));
    EXPECT_EQ(shown.errorAlert()->parent(), sheet) << "shown over the sheet";
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->titleField()->text(), "Edited");
    EXPECT_FALSE(sheet->isSaving());
    EXPECT_TRUE(sheet->saveButton()->isEnabled());
}

TEST_P(EntryScreenTest, RemovesOnlyOnceTheHubConfirms) {
    const qint64 kept = seed(shopURL, "Kept");
    const qint64 doomed = seed(shopURL, "Doomed");
    EntryScreen& shown = loadedScreen();
    const QString doomedPath = QString("%1/%2").arg(GetParam().path).arg(doomed);

    m_hub.addFault(fault("DELETE", doomedPath, 500, "locked"));
    rowButton(shown, 1, "removeButton")->click();
    ASSERT_TRUE(waitUntil([&] { return shown.errorAlert() != nullptr; }));
    EXPECT_EQ(shown.errorAlert()->text(), QString("DELETE %1 failed: locked").arg(doomedPath));
    EXPECT_EQ(titles(shown), (QStringList{"Kept", "Doomed"}));
    shown.errorAlert()->buttons().value(0)->click();

    const qsizetype gets = requests("GET").size();
    m_hub.setDelay("DELETE", doomedPath, 100);
    rowButton(shown, 1, "removeButton")->click();
    ASSERT_TRUE(waitUntil([&] { return requests("DELETE").size() == 2; }));
    EXPECT_EQ(titles(shown), (QStringList{"Kept", "Doomed"})) << "not before the reply";
    ASSERT_TRUE(waitUntil([&] { return titles(shown) == QStringList{"Kept"}; }));
    EXPECT_EQ(shown.rows().size(), 1);
    EXPECT_EQ(requests("GET").size(), gets) << "no reload";
    EXPECT_EQ(shown.entries().value(0).id, kept);
}

TEST_P(EntryScreenTest, ALoadForAnEarlierProjectIsDroppedWithItsError) {
    seed(shopURL, "Shop entry");
    seed(cartURL, "Cart entry");

    // The first load is slow and fails; the user moves to another project meanwhile.
    m_hub.addFault(fault("GET", GetParam().path, 500, "late failure", 200));
    EntryScreen& shown = screen();
    ASSERT_TRUE(waitUntil([this] { return requests("GET").size() == 1; }));
    shown.setProject({"/work/cart", cartURL});
    EXPECT_TRUE(shown.isLoading());
    EXPECT_EQ(shown.emptyState()->description().contains("\"cart\""), true);
    ASSERT_TRUE(waitUntil([&] { return !shown.isLoading(); }));
    EXPECT_EQ(titles(shown), QStringList{"Cart entry"});
    EXPECT_FALSE(shown.errorMessage());
    EXPECT_EQ(shown.errorAlert(), nullptr);

    // A reload after an add, slow, answered after the user moved back to the first project:
    // whether it failed or succeeded, it changes nothing.
    struct Late {
        const char* name;
        FakeHub::Fault fault;
    };
    const QByteArray staleList =
        QJsonDocument(QJsonArray{QJsonObject{{"id", 999},
                                             {"scope", "project"},
                                             {GetParam().titleKey, "Stale"},
                                             {"body", "b"},
                                             {"updated_by", "x"},
                                             {"description", ""},
                                             {"type", "user"}}})
            .toJson();
    const Late lates[] = {
        {"a late failure", fault("GET", GetParam().path, 500, "stale failure", 300)},
        {"a late success", fault("GET", GetParam().path, 200, staleList, 300, "application/json")},
    };
    for (const Late& late : lates) {
        SCOPED_TRACE(late.name);
        shown.setProject({"/work/cart", cartURL});
        ASSERT_TRUE(waitUntil([&] { return !shown.isLoading(); }));
        m_hub.addFault(late.fault);
        fillForm(shown, "Added", "body");
        const qsizetype gets = requests("GET").size();
        shown.addButton()->click();
        ASSERT_TRUE(waitUntil([&] { return requests("GET").size() == gets + 1; }));
        shown.setProject({"/work/shop", shopURL});
        ASSERT_TRUE(waitUntil([&] { return !shown.isLoading() && !shown.isSubmitting(); }));
        EXPECT_TRUE(titles(shown).contains("Shop entry"));
        EXPECT_FALSE(titles(shown).contains("Stale"));
        EXPECT_FALSE(shown.errorMessage());
        EXPECT_EQ(shown.errorAlert(), nullptr);
    }
}

TEST_P(EntryScreenTest, AProjectWithANewOriginReloads) {
    seed(shopURL, "Old origin");
    seed("https://example.invalid/moved/shop.git", "New origin");
    EntryScreen& shown = loadedScreen();
    EXPECT_EQ(titles(shown), QStringList{"Old origin"});
    const qsizetype gets = requests("GET").size();
    shown.setProject({"/work/shop", shopURL});
    EXPECT_EQ(requests("GET").size(), gets) << "the same project loads nothing";
    EXPECT_FALSE(shown.isLoading());
    shown.setProject({"/work/shop", QString("https://example.invalid/moved/shop.git")});
    ASSERT_TRUE(waitUntil([&] { return !shown.isLoading(); }));
    EXPECT_EQ(titles(shown), QStringList{"New origin"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, EntryScreenTest, ::testing::ValuesIn(kindCases),
                         [](const auto& info) { return std::string(info.param.name); });

class EntryKindTest : public ::testing::Test {
protected:
    EntryKindTest() : m_client(listeningClient(m_hub)) {}

    template <class Screen> Screen& loaded() {
        auto* screen = new Screen(m_client, {"/work/shop", shopURL});
        test::showScreen(m_screen, screen);
        return test::whenLoaded(*screen);
    }

    QJsonObject lastBody(const QString& method) const {
        for (auto it = m_hub.requests().rbegin(); it != m_hub.requests().rend(); ++it) {
            if (it->method == method) {
                return it->bodyObject();
            }
        }
        return {};
    }

    static QLabel* rowLabel(const EntryScreen& screen, int row, const char* name) {
        QWidget* found = screen.rows().value(row);
        return found ? found->findChild<QLabel*>(name) : nullptr;
    }

    FakeHub m_hub;
    CavrelAPIClient m_client;
    std::unique_ptr<EntryScreen> m_screen;
};

TEST_F(EntryKindTest, RuleRowsShowTheScopeAsCaption) {
    m_hub.addRecord(FakeHub::Kind::Rules, std::nullopt,
                    {{"scope", "global"}, {"title", "T"}, {"body", "B"}, {"updated_by", "u"}});
    RulesView& rules = loaded<RulesView>();
    ASSERT_EQ(rules.rows().size(), 1);
    EXPECT_EQ(rowLabel(rules, 0, "entryCaption")->text(), "global");
    EXPECT_EQ(rowLabel(rules, 0, "entryDescription"), nullptr);
    EXPECT_EQ(rowLabel(rules, 0, "entryBody")->font().family(), QApplication::font().family());
}

TEST_F(EntryKindTest, SkillsSendTheirDescriptionAndShowItWhenNotEmpty) {
    for (const char* description : {"", " "}) {
        m_hub.addRecord(FakeHub::Kind::Skills, shopURL,
                        {{"scope", "project"},
                         {"name", "n"},
                         {"description", description},
                         {"body", "1. step"},
                         {"updated_by", "u"}});
    }
    SkillsView& skills = loaded<SkillsView>();
    ASSERT_EQ(skills.rows().size(), 2);
    EXPECT_EQ(rowLabel(skills, 0, "entryDescription"), nullptr);
    ASSERT_NE(rowLabel(skills, 1, "entryDescription"), nullptr) << "a blank gets its line";
    EXPECT_EQ(rowLabel(skills, 1, "entryBody")->font().family(), monospaceFont().family());

    // An empty description leaves "Add skill" enabled and is sent as "".
    QTest::keyClicks(skills.titleField(), "deploy");
    skills.bodyField()->setPlainText("1. ship");
    EXPECT_TRUE(skills.addButton()->isEnabled());
    skills.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !skills.isSubmitting(); }));
    EXPECT_EQ(lastBody("POST").value("description"), "");
    EXPECT_TRUE(lastBody("POST").contains("description"));

    QTest::keyClicks(skills.titleField(), "lint");
    QTest::keyClicks(skills.descriptionField(), "Run the linters");
    skills.bodyField()->setPlainText("1. lint");
    skills.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !skills.isSubmitting(); }));
    EXPECT_EQ(lastBody("POST").value("description"), "Run the linters");
    EXPECT_TRUE(skills.descriptionField()->text().isEmpty());

    skills.edit(skills.entries().value(0));
    ASSERT_NE(skills.editSheet(), nullptr);
    skills.editSheet()->descriptionField()->clear();
    EXPECT_TRUE(skills.editSheet()->saveButton()->isEnabled());
    skills.editSheet()->saveButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !skills.editSheet(); }));
    EXPECT_EQ(lastBody("PUT"),
              (QJsonObject{{"name", "n"}, {"description", ""}, {"body", "1. step"}}));
}

TEST_F(EntryKindTest, MemoryHasATypeBesideTheScope) {
    m_hub.addRecord(FakeHub::Kind::Memory, std::nullopt,
                    {{"scope", "global"}, {"type", "user"}, {"title", "t"}, {"body", "b"}});
    m_hub.addRecord(FakeHub::Kind::Memory, shopURL,
                    {{"scope", "project"}, {"type", "insight"}, {"title", "odd"}, {"body", "b"}});
    MemoryView& memory = loaded<MemoryView>();
    ASSERT_EQ(memory.rows().size(), 2);
    EXPECT_EQ(rowLabel(memory, 0, "entryCaption")->text(), "user · global");
    EXPECT_EQ(rowLabel(memory, 1, "entryCaption")->text(), "insight · project");

    QStringList options;
    for (int i = 0; i < memory.typePicker()->count(); ++i) {
        options.append(memory.typePicker()->itemText(i));
    }
    EXPECT_EQ(options, (QStringList{"project", "user", "feedback", "reference"}));
    EXPECT_EQ(memory.typePicker()->currentText(), "project");
    EXPECT_TRUE(memory.scopeButton("project")->isChecked());

    memory.scopeButton("global")->click();
    memory.typePicker()->setCurrentText("feedback");
    QTest::keyClicks(memory.titleField(), "Likes tests");
    memory.bodyField()->setPlainText("b");
    memory.addButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !memory.isSubmitting(); }));
    EXPECT_EQ(
        lastBody("POST"),
        (QJsonObject{
            {"scope", "global"}, {"type", "feedback"}, {"title", "Likes tests"}, {"body", "b"}}));
    EXPECT_EQ(memory.typePicker()->currentText(), "feedback") << "kept for the next entry";
    EXPECT_TRUE(memory.scopeButton("global")->isChecked());

    // A type outside the list: nothing picked, and saved as it was unless one is picked.
    const auto odd = std::find_if(memory.entries().begin(), memory.entries().end(),
                                  [](const HubEntry& entry) { return entry.type == "insight"; });
    ASSERT_NE(odd, memory.entries().end());
    for (const std::optional<QString>& pick :
         {std::optional<QString>(), std::optional<QString>("reference")}) {
        memory.edit(*odd);
        EditEntrySheet* sheet = memory.editSheet();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->typePicker()->currentIndex(), -1);
        if (pick) {
            sheet->typePicker()->setCurrentText(*pick);
        }
        sheet->saveButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !memory.editSheet(); }));
        EXPECT_EQ(lastBody("PUT").value("type"), pick.value_or("insight"));
        ASSERT_TRUE(waitUntil([&] { return !memory.entries().isEmpty(); }));
        if (!pick) {
            continue;
        }
    }
}

} // namespace
