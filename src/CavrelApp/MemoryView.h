#pragma once

#include "EntryScreen.h"

#include <QStringList>

namespace cavrel {

// The memory entries of the active project: as the rules, with a memory type picked from a
// fixed list, shown before the scope in each row's caption.
class MemoryView : public EntryScreen {
    Q_OBJECT

public:
    MemoryView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent = nullptr);

    static QStringList types();
    static EntryKind kind();
};

} // namespace cavrel
