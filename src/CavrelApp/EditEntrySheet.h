#pragma once

#include "CavrelAPIClient.h"
#include "EntryKind.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace cavrel {

class GrowingTextEdit;

// The sheet that edits one entry of an entry screen: its scope shown as text (it cannot be
// changed), its title or name, description or type where the kind has them, and its body.
// "Save" sends the update and closes the sheet once the hub accepted it; a failure goes to
// the screen's alert through `onError` and leaves the sheet open with the edits. "Cancel"
// closes at once, also while a save is under way (that save still ends later).
//
// Window-modal over its screen's window, opened with open(); its screen owns it.
class EditEntrySheet : public QDialog {
    Q_OBJECT

public:
    EditEntrySheet(const EntryKind& kind, HubEntry entry, CavrelAPIClient apiClient,
                   std::function<void(const QString&)> onError, QWidget* parent);

    const HubEntry& entry() const { return m_entry; }
    bool isSaving() const { return m_isSaving; }
    QLineEdit* titleField() const { return m_title; }
    QLineEdit* descriptionField() const { return m_description; }
    QComboBox* typePicker() const { return m_typePicker; }
    GrowingTextEdit* bodyField() const { return m_body; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The type the update sends: the picked one, or the entry's own while none is picked.
    const QString& type() const { return m_type; }

    void save();

private:
    void updateSaveButton();

    const EntryKind& m_kind;
    HubEntry m_entry;
    CavrelAPIClient m_apiClient;
    std::function<void(const QString&)> m_onError;
    QString m_type;
    bool m_isSaving = false;
    QLineEdit* m_title;
    QLineEdit* m_description = nullptr;
    QComboBox* m_typePicker = nullptr;
    GrowingTextEdit* m_body;
    QPushButton* m_cancel;
    QPushButton* m_save;
};

} // namespace cavrel
