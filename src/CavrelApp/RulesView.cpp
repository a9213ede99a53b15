#include "RulesView.h"

namespace cavrel {

namespace {

HubEntry fromRule(const Rule& rule) {
    HubEntry entry;
    entry.id = rule.id;
    entry.scope = rule.scope;
    entry.title = rule.title;
    entry.body = rule.body;
    return entry;
}

} // namespace

RulesView::RulesView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent)
    : EntryScreen(kind(), std::move(apiClient), std::move(project), parent) {
    setObjectName(QStringLiteral("rulesView"));
}

EntryKind RulesView::kind() {
    EntryKind kind;
    kind.loadingText = tr("Loading rules…");
    kind.emptyTitle = tr("No rules yet");
    kind.emptySymbol = QStringLiteral("list.bullet.clipboard");
    kind.emptyDescription = [](const QString& folder) {
        return tr("No rules have been recorded for \"%1\" yet.").arg(folder);
    };
    kind.titlePlaceholder = tr("Title, e.g. \"Always write tests\"");
    kind.bodyPlaceholder = tr("What should every agent do or avoid?");
    kind.addButton = tr("Add rule");
    kind.sheetHeading = tr("Edit rule");
    kind.sheetTitleField = tr("Title");
    kind.caption = [](const HubEntry& entry) { return entry.scope; };
    kind.list = [](const CavrelAPIClient& client, const QString& project, QObject* context,
                   EntryKind::ListDone done) {
        return client.listRules(project, context, mapList<Rule>(std::move(done), &fromRule));
    };
    kind.create = [](const CavrelAPIClient& client, const QString& scope,
                     const std::optional<QString>& project, const HubEntry& fields,
                     EntryKind::Done done) {
        return client.createRule(scope, project, fields.title, fields.body, nullptr,
                                 ignoreValue<Rule>(std::move(done)));
    };
    kind.update = [](const CavrelAPIClient& client, const HubEntry& entry, EntryKind::Done done) {
        return client.updateRule(entry.id, entry.title, entry.body, nullptr,
                                 ignoreValue<Rule>(std::move(done)));
    };
    kind.remove = [](const CavrelAPIClient& client, qint64 id, EntryKind::Done done) {
        return client.deleteRule(id, nullptr, std::move(done));
    };
    return kind;
}

} // namespace cavrel
