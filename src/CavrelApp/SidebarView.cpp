#include "SidebarView.h"
#include "LastPathComponent.h"
#include "ProjectStore.h"
#include "UiStyle.h"

#include <QFileDialog>
#include <QListWidget>
#include <QVBoxLayout>

namespace cavrel {

namespace {

enum Role { KindRole = Qt::UserRole, PathRole };
enum class RowKind { header, openFolder, project, nav };

RowKind kindOf(const QListWidgetItem* item) {
    return static_cast<RowKind>(item->data(KindRole).toInt());
}

QListWidgetItem* makeRow(RowKind kind, const QString& text) {
    auto* item = new QListWidgetItem(text);
    item->setData(KindRole, static_cast<int>(kind));
    // Only the screens can be selected; the project rows are buttons and the active project
    // is marked by colour alone.
    item->setSizeHint(QSize(0, kind == RowKind::header ? 28 : 24));
    item->setFlags(kind == RowKind::nav      ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                   : kind == RowKind::header ? Qt::NoItemFlags
                                             : Qt::ItemIsEnabled);
    return item;
}

QListWidgetItem* makeHeader(const QString& text, const QWidget* palette) {
    QListWidgetItem* item = makeRow(RowKind::header, text);
    QFont font = captionFont();
    font.setBold(true);
    item->setFont(font);
    item->setForeground(secondaryColor(palette));
    return item;
}

} // namespace

std::optional<QString> pickFolderWithDialog(QWidget* parent) {
    const QString path =
        QFileDialog::getExistingDirectory(parent, {}, {}, QFileDialog::ShowDirsOnly);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

SidebarView::SidebarView(ProjectStore& projectStore, FolderPicker pickFolder, QWidget* parent)
    : QWidget(parent), m_projectStore(projectStore), m_pickFolder(std::move(pickFolder)) {
    setObjectName(QStringLiteral("sidebar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setIconSize(QSize(16, 16));
    m_list->setSpacing(0);
    layout->addWidget(m_list);

    m_list->addItem(makeHeader(tr("Project"), this));
    m_openFolder = makeRow(RowKind::openFolder, tr("Open Folder…"));
    m_list->addItem(m_openFolder);
    m_hubHeader = makeHeader(tr("Hub"), this);
    m_list->addItem(m_hubHeader);
    for (NavItem item : allNavItems) {
        m_list->addItem(makeRow(RowKind::nav, rawValue(item)));
    }
    refreshProjects();
    navItem(m_selection)->setSelected(true);
    m_list->setCurrentItem(navItem(m_selection));

    connect(m_list, &QListWidget::itemClicked, this, &SidebarView::itemClicked);
    connect(m_list, &QListWidget::currentItemChanged, this, &SidebarView::keepCurrentOnSelection);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &SidebarView::listSelectionChanged);
    connect(&m_projectStore, &ProjectStore::recentsChanged, this, &SidebarView::refreshProjects);
    connect(&m_projectStore, &ProjectStore::activeProjectChanged, this,
            &SidebarView::refreshProjects);
}

QListWidgetItem* SidebarView::navItem(NavItem item) const {
    const int first = m_list->row(m_hubHeader) + 1;
    return m_list->item(first + static_cast<int>(item));
}

QList<QListWidgetItem*> SidebarView::projectItems() const {
    QList<QListWidgetItem*> items;
    for (int row = m_list->row(m_openFolder) + 1; row < m_list->row(m_hubHeader); ++row) {
        items.append(m_list->item(row));
    }
    return items;
}

void SidebarView::setSelection(NavItem item) {
    navItem(item)->setSelected(true);
    m_list->setCurrentItem(navItem(item));
}

void SidebarView::refreshProjects() {
    // The rows are updated in place rather than rebuilt: a click on a project row reorders
    // the list while the view is still delivering that click, and must not delete its item.
    const QList<ProjectStore::Project>& recents = m_projectStore.recents();
    QList<QListWidgetItem*> rows = projectItems();
    while (rows.size() < recents.size()) {
        QListWidgetItem* row = makeRow(RowKind::project, {});
        row->setIcon(symbolIcon(QStringLiteral("folder"), this));
        m_list->insertItem(m_list->row(m_hubHeader), row);
        rows.append(row);
    }
    while (rows.size() > recents.size()) {
        delete rows.takeLast();
    }
    const std::optional<ProjectStore::Project>& active = m_projectStore.activeProject();
    for (qsizetype i = 0; i < recents.size(); ++i) {
        const QString& path = recents[i].path;
        rows[i]->setText(lastPathComponent(path));
        rows[i]->setData(PathRole, path);
        const bool isActive = active && active->path == path;
        rows[i]->setForeground(isActive ? accentColor(this) : palette().color(QPalette::Text));
    }
}

void SidebarView::itemClicked(QListWidgetItem* item) {
    switch (kindOf(item)) {
    case RowKind::openFolder:
        if (const std::optional<QString> path = m_pickFolder ? m_pickFolder(this) : std::nullopt) {
            m_projectStore.openProject(*path);
        }
        break;
    case RowKind::project:
        m_projectStore.openProject(item->data(PathRole).toString());
        break;
    case RowKind::header:
    case RowKind::nav:
        break;
    }
}

void SidebarView::keepCurrentOnSelection() {
    // The list's current row is framed while the list has the focus. A click makes a project
    // row current, and that frame stays at the row's position while the projects reorder
    // under it, framing another project than the active one: the active project is marked by
    // its colour alone, and the frame stays on the selected screen.
    QListWidgetItem* current = m_list->currentItem();
    if (current == nullptr || kindOf(current) != RowKind::nav) {
        m_list->setCurrentItem(navItem(m_selection), QItemSelectionModel::NoUpdate);
    }
}

void SidebarView::listSelectionChanged() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    // A ctrl-click can deselect the current screen; one screen is always selected.
    if (selected.isEmpty() || kindOf(selected.first()) != RowKind::nav) {
        navItem(m_selection)->setSelected(true);
        return;
    }
    const std::optional<NavItem> item = navItemFromRawValue(selected.first()->text());
    if (item && *item != m_selection) {
        m_selection = *item;
        emit selectionChanged(*item);
    }
}

} // namespace cavrel
