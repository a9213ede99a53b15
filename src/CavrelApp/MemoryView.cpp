#include "MemoryView.h"

namespace cavrel {

namespace {

HubEntry fromMemory(const MemoryEntry& memory) {
    HubEntry entry;
    entry.id = memory.id;
    entry.scope = memory.scope;
    entry.title = memory.title;
    entry.type = memory.type;
    entry.body = memory.body;
    return entry;
}

} // namespace

MemoryView::MemoryView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent)
    : EntryScreen(kind(), std::move(apiClient), std::move(project), parent) {
    setObjectName(QStringLiteral("memoryView"));
}

QStringList MemoryView::types() {
    return {QStringLiteral("project"), QStringLiteral("user"), QStringLiteral("feedback"),
            QStringLiteral("reference")};
}

EntryKind MemoryView::kind() {
    EntryKind kind;
    kind.loadingText = tr("Loading memory…");
    kind.emptyTitle = tr("No memory yet");
    kind.emptySymbol = QStringLiteral("brain");
    kind.emptyDescription = [](const QString& folder) {
        return tr("No memory entries have been extracted for \"%1\" yet. This needs a summarizer "
                  "configured and at least one summarized session.")
            .arg(folder);
    };
    kind.titlePlaceholder = tr("Title, e.g. \"Deploy process\"");
    kind.bodyPlaceholder = tr("What's worth remembering?");
    kind.addButton = tr("Add memory");
    kind.sheetHeading = tr("Edit memory");
    kind.sheetTitleField = tr("Title");
    kind.types = types();
    kind.initialType = QStringLiteral("project");
    kind.caption = [](const HubEntry& entry) { return tr("%1 · %2").arg(entry.type, entry.scope); };
    kind.list = [](const CavrelAPIClient& client, const QString& project, QObject* context,
                   EntryKind::ListDone done) {
        return client.listMemory(project, context,
                                 mapList<MemoryEntry>(std::move(done), &fromMemory));
    };
    kind.create = [](const CavrelAPIClient& client, const QString& scope,
                     const std::optional<QString>& project, const HubEntry& fields,
                     EntryKind::Done done) {
        return client.createMemory(scope, project, fields.type, fields.title, fields.body, nullptr,
                                   ignoreValue<MemoryEntry>(std::move(done)));
    };
    kind.update = [](const CavrelAPIClient& client, const HubEntry& entry, EntryKind::Done done) {
        return client.updateMemory(entry.id, entry.type, entry.title, entry.body, nullptr,
                                   ignoreValue<MemoryEntry>(std::move(done)));
    };
    kind.remove = [](const CavrelAPIClient& client, qint64 id, EntryKind::Done done) {
        return client.deleteMemory(id, nullptr, std::move(done));
    };
    return kind;
}

} // namespace cavrel
