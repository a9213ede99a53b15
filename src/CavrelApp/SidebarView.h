#pragma once

#include "NavItem.h"

#include <QWidget>

#include <functional>
#include <optional>

class QListWidget;
class QListWidgetItem;

namespace cavrel {

class ProjectStore;

// Asks the user for a folder; none when the choice was cancelled. The window's picker is the
// desktop's folder dialog; tests put their own in its place.
using FolderPicker = std::function<std::optional<QString>(QWidget* parent)>;
std::optional<QString> pickFolderWithDialog(QWidget* parent);

// The left column of a window. The "Project" section opens a folder ("Open Folder…") or a
// recent project, the active one drawn in the accent colour; the "Hub" section selects the
// screen the window shows, exactly one at any time. Holds no state of its own: the projects
// are the ProjectStore's, the selection the window's.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    SidebarView(ProjectStore& projectStore, FolderPicker pickFolder, QWidget* parent = nullptr);

    NavItem selection() const { return m_selection; }
    void setSelection(NavItem item);

    QListWidget* list() const { return m_list; }
    QListWidgetItem* openFolderItem() const { return m_openFolder; }
    QListWidgetItem* navItem(NavItem item) const;
    // The rows of the recent projects, newest first.
    QList<QListWidgetItem*> projectItems() const;

signals:
    void selectionChanged(NavItem item);

private:
    void refreshProjects();
    void itemClicked(QListWidgetItem* item);
    void listSelectionChanged();
    void keepCurrentOnSelection();

    ProjectStore& m_projectStore;
    FolderPicker m_pickFolder;
    QListWidget* m_list;
    QListWidgetItem* m_openFolder;
    QListWidgetItem* m_hubHeader;
    NavItem m_selection = NavItem::terminals;
};

} // namespace cavrel
