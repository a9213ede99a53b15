#pragma once

#include "EditEntrySheet.h"
#include "EntryKind.h"
#include "HubScreen.h"

#include <QList>
#include <QPointer>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace cavrel {

class ContentUnavailableView;

class GrowingTextEdit;
class HubListArea;
class LoadingView;

// The screen of one kind of hub entry (rules, skills or memory) for the active project: the
// list, loading or empty state above, and the add form below. Rows have "Edit", which opens the
// entry in a sheet (the list reloads whenever the sheet closes), and "Remove", which drops the
// entry once the hub confirms. A failed request shows the "Error" alert and keeps what the
// user typed.
class EntryScreen : public HubScreen {
    Q_OBJECT

public:
    EntryScreen(EntryKind kind, CavrelAPIClient apiClient, ProjectStore::Project project,
                QWidget* parent = nullptr);

    const EntryKind& kind() const { return m_kind; }
    const QList<HubEntry>& entries() const { return m_entries; }
    bool isLoading() const { return m_isLoading; }
    bool isSubmitting() const { return m_isSubmitting; }

    // The parts of the screen, for tests and for the window's own focus handling.
    HubListArea* stateArea() const { return m_stateArea; }
    LoadingView* loadingView() const;
    ContentUnavailableView* emptyState() const;
    QList<QWidget*> rows() const;
    QLineEdit* titleField() const { return m_titleField; }
    QLineEdit* descriptionField() const { return m_descriptionField; }
    GrowingTextEdit* bodyField() const { return m_bodyField; }
    QToolButton* scopeButton(const QString& scope) const;
    QComboBox* typePicker() const { return m_typePicker; }
    QPushButton* addButton() const { return m_addButton; }
    EditEntrySheet* editSheet() const { return m_sheet; }

    // What "Edit" and "Remove" of a row do.
    void edit(const HubEntry& entry);
    void remove(const HubEntry& entry);

protected:
    void runLoadTask() override;
    QWidget* alertParent() override;

private:
    QWidget* buildAddForm();
    QWidget* buildRow(const HubEntry& entry);
    // Loads the list for the current project; `then` runs when the reply has been handled
    // (also when it was dropped as stale), never after the screen is gone.
    APIRequest load(std::function<void()> then);
    void submit();
    void renderState();
    void rebuildRows();
    void updateAddButton();

    EntryKind m_kind;
    QList<HubEntry> m_entries;
    bool m_isLoading = true;
    bool m_isSubmitting = false;
    QString m_newScope = QStringLiteral("project");
    APIRequest m_loadTask;

    HubListArea* m_stateArea;
    QLineEdit* m_titleField = nullptr;
    QLineEdit* m_descriptionField = nullptr;
    GrowingTextEdit* m_bodyField = nullptr;
    QButtonGroup* m_scopeGroup = nullptr;
    QComboBox* m_typePicker = nullptr;
    QPushButton* m_addButton = nullptr;
    QPointer<EditEntrySheet> m_sheet;
};

} // namespace cavrel
