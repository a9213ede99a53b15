#pragma once

#include "EntryScreen.h"

namespace cavrel {

// The skills of the active project: as the rules, with a one-line description between name and
// body, and the body in a monospaced font.
class SkillsView : public EntryScreen {
    Q_OBJECT

public:
    SkillsView(CavrelAPIClient apiClient, ProjectStore::Project project, QWidget* parent = nullptr);

    static EntryKind kind();
};

} // namespace cavrel
