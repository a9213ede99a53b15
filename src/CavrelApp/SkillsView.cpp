#include "SkillsView.h"

namespace cavrel {

namespace {

HubEntry fromSkill(const Skill& skill) {
    HubEntry entry;
    entry.id = skill.id;
    entry.scope = skill.scope;
    entry.title = skill.name;
    entry.description = skill.description;
    entry.body = skill.body;
    return entry;
}

} // namespace

SkillsView::SkillsView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent)
    : EntryScreen(kind(), std::move(apiClient), std::move(project), parent) {
    setObjectName(QStringLiteral("skillsView"));
}

EntryKind SkillsView::kind() {
    EntryKind kind;
    kind.loadingText = tr("Loading skills…");
    kind.emptyTitle = tr("No skills yet");
    kind.emptySymbol = QStringLiteral("wrench.and.screwdriver");
    kind.emptyDescription = [](const QString& folder) {
        return tr("No skills have been recorded for \"%1\" yet.").arg(folder);
    };
    kind.titlePlaceholder = tr("Name, e.g. \"deploy\"");
    kind.descriptionPlaceholder = tr("One-line description");
    kind.bodyPlaceholder = tr("Step-by-step procedure");
    kind.addButton = tr("Add skill");
    kind.sheetHeading = tr("Edit skill");
    kind.sheetTitleField = tr("Name");
    kind.monospaceBody = true;
    kind.caption = [](const HubEntry& entry) { return entry.scope; };
    kind.list = [](const CavrelAPIClient& client, const QString& project, QObject* context,
                   EntryKind::ListDone done) {
        return client.listSkills(project, context, mapList<Skill>(std::move(done), &fromSkill));
    };
    // The description is always sent, an empty one included.
    kind.create = [](const CavrelAPIClient& client, const QString& scope,
                     const std::optional<QString>& project, const HubEntry& fields,
                     EntryKind::Done done) {
        return client.createSkill(scope, project, fields.title, fields.description, fields.body,
                                  nullptr, ignoreValue<Skill>(std::move(done)));
    };
    kind.update = [](const CavrelAPIClient& client, const HubEntry& entry, EntryKind::Done done) {
        return client.updateSkill(entry.id, entry.title, entry.description, entry.body, nullptr,
                                  ignoreValue<Skill>(std::move(done)));
    };
    kind.remove = [](const CavrelAPIClient& client, qint64 id, EntryKind::Done done) {
        return client.deleteSkill(id, nullptr, std::move(done));
    };
    return kind;
}

} // namespace cavrel
