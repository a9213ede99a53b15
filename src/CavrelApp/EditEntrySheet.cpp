#include "EditEntrySheet.h"
#include "GrowingTextEdit.h"
#include "UiStyle.h"
#include "WrappingLabel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace cavrel {

EditEntrySheet::EditEntrySheet(const EntryKind& kind, HubEntry entry, CavrelAPIClient apiClient,
                               std::function<void(const QString&)> onError, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_entry(std::move(entry)), m_apiClient(std::move(apiClient)),
      m_onError(std::move(onError)), m_type(m_entry.type) {
    setObjectName(QStringLiteral("editSheet"));
    setWindowTitle(m_kind.sheetHeading);
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    // 420 wide; the height follows the fields as the body grows.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* heading = new QLabel(m_kind.sheetHeading, this);
    heading->setFont(headlineFont());
    heading->setMinimumWidth(420 - 2 * 20);
    heading->setMaximumWidth(420 - 2 * 20);
    layout->addWidget(heading);
    auto* scope = new WrappingLabel(m_entry.scope, this);
    scope->setObjectName(QStringLiteral("sheetScope"));
    scope->setFont(captionFont());
    scope->setMaximumWidth(420 - 2 * 20);
    setSecondary(scope);
    layout->addWidget(scope);

    m_title = new QLineEdit(m_entry.title, this);
    m_title->setObjectName(QStringLiteral("sheetTitleField"));
    m_title->setPlaceholderText(m_kind.sheetTitleField);
    layout->addWidget(m_title);

    if (m_kind.hasDescription()) {
        m_description = new QLineEdit(m_entry.description, this);
        m_description->setObjectName(QStringLiteral("sheetDescriptionField"));
        m_description->setPlaceholderText(tr("Description"));
        layout->addWidget(m_description);
    }
    if (m_kind.hasType()) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Type"), this));
        m_typePicker = new QComboBox(this);
        m_typePicker->setObjectName(QStringLiteral("sheetTypePicker"));
        m_typePicker->addItems(m_kind.types);
        // A type the hub knows and this list does not is kept until the user picks another.
        m_typePicker->setCurrentIndex(static_cast<int>(m_kind.types.indexOf(m_entry.type)));
        row->addWidget(m_typePicker, 1);
        layout->addLayout(row);
        connect(m_typePicker, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0) {
                m_type = m_typePicker->itemText(index);
            }
        });
    }

    m_body = new GrowingTextEdit(4, 10, tr("Body"), this);
    m_body->setObjectName(QStringLiteral("sheetBodyField"));
    m_body->setPlainText(m_entry.body);
    layout->addWidget(m_body);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setAutoDefault(false);
    buttons->addWidget(m_cancel);
    m_save = new QPushButton(tr("Save"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setDefault(true);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &EditEntrySheet::save);
    // Return in the body types a new line; Ctrl+Return saves from anywhere in the sheet.
    auto* saveShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    connect(saveShortcut, &QShortcut::activated, m_save, &QPushButton::click);
    connect(m_title, &QLineEdit::textChanged, this, &EditEntrySheet::updateSaveButton);
    connect(m_body, &QPlainTextEdit::textChanged, this, &EditEntrySheet::updateSaveButton);
    updateSaveButton();
}

void EditEntrySheet::updateSaveButton() {
    m_save->setEnabled(!m_title->text().isEmpty() && !m_body->toPlainText().isEmpty() &&
                       !m_isSaving);
}

void EditEntrySheet::save() {
    if (!m_save->isEnabled()) {
        return;
    }
    m_isSaving = true;
    updateSaveButton();
    HubEntry edited = m_entry;
    edited.title = m_title->text();
    edited.body = m_body->toPlainText();
    if (m_description) {
        edited.description = m_description->text();
    }
    edited.type = m_type;
    QPointer<EditEntrySheet> self(this);
    // The sheet may be cancelled while the update runs; its outcome still reaches the screen.
    m_kind.update(m_apiClient, edited, [self, onError = m_onError](APIResult<void> result) {
        if (!result) {
            onError(result.error().errorDescription());
        }
        if (!self) {
            return;
        }
        if (result && self->isVisible()) {
            self->accept();
        }
        self->m_isSaving = false;
        self->updateSaveButton();
    });
}

} // namespace cavrel
