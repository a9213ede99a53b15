#include "EntryScreen.h"
#include "ContentUnavailableView.h"
#include "HubListArea.h"
#include "EditEntrySheet.h"
#include "GrowingTextEdit.h"
#include "LoadingView.h"
#include "UiStyle.h"
#include "WrappingLabel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace cavrel {

namespace {

const QString projectScope = QStringLiteral("project");
const QString globalScope = QStringLiteral("global");

} // namespace

EntryScreen::EntryScreen(EntryKind kind, CavrelAPIClient apiClient, ProjectStore::Project project,
                         QWidget* parent)
    : HubScreen(std::move(apiClient), std::move(project), parent), m_kind(std::move(kind)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_stateArea = new HubListArea(m_kind.loadingText, m_kind.emptyTitle, m_kind.emptySymbol, this);
    layout->addWidget(m_stateArea, 1);

    layout->addWidget(horizontalDivider(this));
    layout->addWidget(buildAddForm());

    runLoadTask();
}

QWidget* EntryScreen::buildAddForm() {
    auto* form = new QWidget(this);
    form->setObjectName(QStringLiteral("addForm"));
    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    m_titleField = new QLineEdit(form);
    m_titleField->setObjectName(QStringLiteral("titleField"));
    m_titleField->setPlaceholderText(m_kind.titlePlaceholder);
    layout->addWidget(m_titleField);

    auto* pickers = new QHBoxLayout;
    pickers->setSpacing(8);
    pickers->addWidget(new QLabel(tr("Scope"), form));
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    m_scopeGroup = new QButtonGroup(form);
    m_scopeGroup->setExclusive(true);
    const std::pair<QString, QString> scopes[] = {{projectScope, tr("This project")},
                                                  {globalScope, tr("Global (all projects)")}};
    for (const auto& [value, label] : scopes) {
        auto* button = new QToolButton(form);
        button->setObjectName(QStringLiteral("scope-") + value);
        button->setText(label);
        button->setCheckable(true);
        button->setChecked(value == m_newScope);
        button->setProperty("scope", value);
        m_scopeGroup->addButton(button);
        segments->addWidget(button);
    }
    connect(m_scopeGroup, &QButtonGroup::buttonClicked, this,
            [this](QAbstractButton* button) { m_newScope = button->property("scope").toString(); });
    pickers->addLayout(segments);
    if (m_kind.hasType()) {
        pickers->addSpacing(16);
        pickers->addWidget(new QLabel(tr("Type"), form));
        m_typePicker = new QComboBox(form);
        m_typePicker->setObjectName(QStringLiteral("typePicker"));
        m_typePicker->addItems(m_kind.types);
        m_typePicker->setCurrentIndex(static_cast<int>(m_kind.types.indexOf(m_kind.initialType)));
        pickers->addWidget(m_typePicker);
    }
    pickers->addStretch(1);
    layout->addLayout(pickers);

    if (m_kind.hasDescription()) {
        m_descriptionField = new QLineEdit(form);
        m_descriptionField->setObjectName(QStringLiteral("descriptionField"));
        m_descriptionField->setPlaceholderText(m_kind.descriptionPlaceholder);
        layout->addWidget(m_descriptionField);
    }

    m_bodyField = new GrowingTextEdit(2, 5, m_kind.bodyPlaceholder, form);
    m_bodyField->setObjectName(QStringLiteral("bodyField"));
    layout->addWidget(m_bodyField);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_addButton = new QPushButton(m_kind.addButton, form);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    buttons->addWidget(m_addButton);
    layout->addLayout(buttons);

    connect(m_titleField, &QLineEdit::textChanged, this, &EntryScreen::updateAddButton);
    connect(m_bodyField, &QPlainTextEdit::textChanged, this, &EntryScreen::updateAddButton);
    connect(m_addButton, &QPushButton::clicked, this, &EntryScreen::submit);
    updateAddButton();
    return form;
}

QToolButton* EntryScreen::scopeButton(const QString& scope) const {
    for (QAbstractButton* button : m_scopeGroup->buttons()) {
        if (button->property("scope").toString() == scope) {
            return static_cast<QToolButton*>(button);
        }
    }
    return nullptr;
}

LoadingView* EntryScreen::loadingView() const {
    return m_stateArea->loadingView();
}

ContentUnavailableView* EntryScreen::emptyState() const {
    return m_stateArea->emptyState();
}

QList<QWidget*> EntryScreen::rows() const {
    return m_stateArea->rows();
}

QWidget* EntryScreen::alertParent() {
    if (m_sheet && m_sheet->isVisible()) {
        return m_sheet;
    }
    return this;
}

void EntryScreen::updateAddButton() {
    // As typed: a field of blanks counts as filled and is sent unchanged.
    m_addButton->setEnabled(!m_titleField->text().isEmpty() &&
                            !m_bodyField->toPlainText().isEmpty() && !m_isSubmitting);
}

void EntryScreen::runLoadTask() {
    m_loadTask.cancel();
    m_isLoading = true;
    m_stateArea->emptyState()->setDescription(m_kind.emptyDescription(folderName()));
    renderState();
    m_loadTask = load({});
}

APIRequest EntryScreen::load(std::function<void()> then) {
    const std::optional<QString>& remote = project().gitRemoteURL;
    if (!remote) {
        m_isLoading = false;
        renderState();
        if (then) {
            then();
        }
        return {};
    }
    const quint64 generation = projectGeneration();
    return m_kind.list(
        apiClient(), *remote, this,
        [this, generation, then = std::move(then)](APIResult<QList<HubEntry>> result) {
            if (generation == projectGeneration()) {
                if (result) {
                    m_entries = std::move(result).value();
                    rebuildRows();
                } else {
                    showError(result.error().errorDescription());
                }
                m_isLoading = false;
                renderState();
            }
            if (then) {
                then();
            }
        });
}

void EntryScreen::renderState() {
    m_stateArea->showState(m_isLoading);
}

void EntryScreen::rebuildRows() {
    QList<QWidget*> rows;
    for (const HubEntry& entry : std::as_const(m_entries)) {
        rows.append(buildRow(entry));
    }
    m_stateArea->setRows(rows);
}

QWidget* EntryScreen::buildRow(const HubEntry& entry) {
    auto* row = new QWidget(m_stateArea->listPage());
    row->setObjectName(QStringLiteral("entryRow"));
    row->setProperty("entryID", entry.id);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 4);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* heading = new QHBoxLayout;
    // Every text of a row wraps, also inside a long word: the row is never wider than the list,
    // so its buttons stay in reach.
    auto* title = new WrappingLabel(entry.title, row);
    title->setObjectName(QStringLiteral("entryTitle"));
    title->setFont(headlineFont());
    heading->addWidget(title);
    auto* caption = new WrappingLabel(m_kind.caption(entry), row);
    caption->setObjectName(QStringLiteral("entryCaption"));
    caption->setFont(captionFont());
    setSecondary(caption);
    heading->addWidget(caption);
    heading->addStretch(1);
    column->addLayout(heading);
    // A description of one blank still gets its line; only an empty one has none.
    if (m_kind.hasDescription() && !entry.description.isEmpty()) {
        auto* description = new WrappingLabel(entry.description, row);
        description->setObjectName(QStringLiteral("entryDescription"));
        setSecondary(description);
        column->addWidget(description);
    }
    auto* body = new WrappingLabel(entry.body, row);
    body->setObjectName(QStringLiteral("entryBody"));
    if (m_kind.monospaceBody) {
        body->setFont(monospaceFont());
    }
    column->addWidget(body);
    layout->addLayout(column, 1);

    auto* edit = new QPushButton(tr("Edit"), row);
    edit->setObjectName(QStringLiteral("editButton"));
    edit->setFlat(true);
    layout->addWidget(edit, 0, Qt::AlignTop);
    auto* remove = new QPushButton(tr("Remove"), row);
    remove->setObjectName(QStringLiteral("removeButton"));
    remove->setFlat(true);
    QPalette palette = remove->palette();
    palette.setColor(QPalette::ButtonText, destructiveColor());
    remove->setPalette(palette);
    layout->addWidget(remove, 0, Qt::AlignTop);

    connect(edit, &QPushButton::clicked, this, [this, entry] { this->edit(entry); });
    connect(remove, &QPushButton::clicked, this, [this, entry] { this->remove(entry); });
    return row;
}

void EntryScreen::submit() {
    const std::optional<QString>& remote = project().gitRemoteURL;
    if (!remote) {
        return;
    }
    m_isSubmitting = true;
    updateAddButton();
    HubEntry fields;
    fields.title = m_titleField->text();
    fields.body = m_bodyField->toPlainText();
    if (m_descriptionField) {
        fields.description = m_descriptionField->text();
    }
    if (m_typePicker) {
        fields.type = m_typePicker->currentText();
    }
    // Only a rule for this project names the project; a global one goes without.
    const std::optional<QString> projectURL =
        m_newScope == projectScope ? remote : std::optional<QString>();
    QPointer<EntryScreen> self(this);
    m_kind.create(apiClient(), m_newScope, projectURL, fields, [self](APIResult<void> result) {
        if (!self) {
            return;
        }
        if (!result) {
            self->showError(result.error().errorDescription());
            self->m_isSubmitting = false;
            self->updateAddButton();
            return;
        }
        // The scope and type stay as chosen for the next entry.
        self->m_titleField->clear();
        if (self->m_descriptionField) {
            self->m_descriptionField->clear();
        }
        self->m_bodyField->clear();
        self->load([self] {
            if (self) {
                self->m_isSubmitting = false;
                self->updateAddButton();
            }
        });
    });
}

void EntryScreen::edit(const HubEntry& entry) {
    QPointer<EntryScreen> self(this);
    auto* sheet = new EditEntrySheet(
        m_kind, entry, apiClient(),
        [self](const QString& message) {
            if (self) {
                self->showError(message);
            }
        },
        this);
    m_sheet = sheet;
    // Every close reloads, whether anything was saved or not.
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        sheet->deleteLater();
        load({});
    });
    sheet->open();
}

void EntryScreen::remove(const HubEntry& entry) {
    QPointer<EntryScreen> self(this);
    const qint64 id = entry.id;
    m_kind.remove(apiClient(), id, [self, id](APIResult<void> result) {
        if (!self) {
            return;
        }
        if (!result) {
            self->showError(result.error().errorDescription());
            return;
        }
        self->m_entries.removeIf([id](const HubEntry& entry) { return entry.id == id; });
        self->rebuildRows();
        self->renderState();
    });
}

} // namespace cavrel
