#pragma once

#include "EntryScreen.h"

namespace cavrel {

// The rules of the active project: listed, added for this project or all projects, edited in
// a sheet ("Edit rule") and removed.
class RulesView : public EntryScreen {
    Q_OBJECT

public:
    RulesView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent = nullptr);

    static EntryKind kind();
};

} // namespace cavrel
