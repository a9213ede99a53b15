#pragma once

#include "APIRequest.h"
#include "APIResult.h"
#include "CavrelAPIClient.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QObject;

namespace cavrel {

// A rule, skill or memory entry as the entry screens show and edit it. `title` is a rule's or
// memory entry's title and a skill's name; `description` is used by skills only, `type` by
// memory entries only.
struct HubEntry {
    qint64 id = 0;
    QString scope;
    QString title;
    QString description;
    QString type;
    QString body;

    bool operator==(const HubEntry&) const = default;
};

// What sets the Rules, Skills and Memory screens apart: their texts, which optional fields
// they have, how a row's caption reads, and the four hub calls.
struct EntryKind {
    using ListDone = std::function<void(APIResult<QList<HubEntry>>)>;
    using Done = std::function<void(APIResult<void>)>;

    QString loadingText;
    QString emptyTitle;
    QString emptySymbol;
    std::function<QString(const QString& folderName)> emptyDescription;
    QString titlePlaceholder;
    QString descriptionPlaceholder; // empty: the kind has no description
    QString bodyPlaceholder;
    QString addButton;
    QString sheetHeading;
    QString sheetTitleField;
    QStringList types; // empty: the kind has no type
    QString initialType;
    bool monospaceBody = false;
    std::function<QString(const HubEntry&)> caption;

    bool hasDescription() const { return !descriptionPlaceholder.isEmpty(); }
    bool hasType() const { return !types.isEmpty(); }

    // The list for a project, delivered unless `context` is gone.
    std::function<APIRequest(const CavrelAPIClient&, const QString& project, QObject* context,
                             ListDone)>
        list;
    // Changes run to their end whatever becomes of the screen that asked for them; `done` must
    // check that its screen is still there.
    std::function<APIRequest(const CavrelAPIClient&, const QString& scope,
                             const std::optional<QString>& project, const HubEntry& fields, Done)>
        create;
    std::function<APIRequest(const CavrelAPIClient&, const HubEntry& entry, Done)> update;
    std::function<APIRequest(const CavrelAPIClient&, qint64 id, Done)> remove;
};

// Adapters from the client's typed completions to the entry screens' uniform ones.
template <class Record, class Convert>
std::function<void(APIResult<QList<Record>>)> mapList(EntryKind::ListDone done, Convert convert) {
    return [done = std::move(done), convert](APIResult<QList<Record>> result) {
        if (!result) {
            done(result.error());
            return;
        }
        QList<HubEntry> entries;
        entries.reserve(result.value().size());
        for (const Record& record : result.value()) {
            entries.append(convert(record));
        }
        done(std::move(entries));
    };
}

template <class Record> std::function<void(APIResult<Record>)> ignoreValue(EntryKind::Done done) {
    return [done = std::move(done)](APIResult<Record> result) {
        done(result ? APIResult<void>() : APIResult<void>(result.error()));
    };
}

} // namespace cavrel
