#include "TerminalFindBarView.h"
#include "SearchEngine.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

namespace veldatron {

namespace {

constexpr int edgeInset = 8;
constexpr int widestBar = 520;

} // namespace

TerminalFindBarView::TerminalFindBarView(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("findBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);

    m_searchField = new QLineEdit(this);
    m_searchField->setObjectName(QStringLiteral("findField"));
    m_searchField->setPlaceholderText(QStringLiteral("Find"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setMinimumWidth(200);
    m_searchField->installEventFilter(this);
    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (onSearchChanged) {
            onSearchChanged(text);
        }
    });

    const auto makeButton = [this](const char* name, QStyle::StandardPixmap icon,
                                   const QString& tip, const std::function<void()>* callback) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setIcon(style()->standardIcon(icon));
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [callback] {
            if (*callback) {
                (*callback)();
            }
        });
        return button;
    };
    m_previousButton =
        makeButton("findPrevious", QStyle::SP_ArrowUp, QStringLiteral("Previous"), &onFindPrevious);
    m_nextButton =
        makeButton("findNext", QStyle::SP_ArrowDown, QStringLiteral("Next"), &onFindNext);
    m_closeButton =
        makeButton("findClose", QStyle::SP_TitleBarCloseButton, QStringLiteral("Close"), &onClose);

    const auto makeOption = [this](const char* title, const QString& tip) {
        auto* box = new QCheckBox(QLatin1String(title), this);
        box->setToolTip(tip);
        QFont font = box->font();
        font.setPointSize(11);
        box->setFont(font);
        connect(box, &QCheckBox::toggled, this, &TerminalFindBarView::optionChanged);
        return box;
    };
    m_caseSensitiveButton = makeOption("Aa", QStringLiteral("Case Sensitive"));
    m_regexButton = makeOption(".*", QStringLiteral("Regex"));
    m_wholeWordButton = makeOption("Word", QStringLiteral("Whole Word"));

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(6);
    layout->setContentsMargins(edgeInset, 6, edgeInset, 6);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_searchField), static_cast<QWidget*>(m_previousButton),
          static_cast<QWidget*>(m_nextButton), static_cast<QWidget*>(m_caseSensitiveButton),
          static_cast<QWidget*>(m_regexButton), static_cast<QWidget*>(m_wholeWordButton),
          static_cast<QWidget*>(m_closeButton)}) {
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    }
    if (parent != nullptr) {
        parent->installEventFilter(this);
    }
    place();
}

SearchOptions TerminalFindBarView::options() const {
    return {m_caseSensitiveButton->isChecked(), m_regexButton->isChecked(),
            m_wholeWordButton->isChecked()};
}

void TerminalFindBarView::place() {
    const QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return;
    }
    const int room = std::max(0, parent->width() - 2 * edgeInset);
    const int width = std::min({sizeHint().width(), widestBar, room});
    setGeometry(parent->width() - edgeInset - width, edgeInset, width, sizeHint().height());
}

bool TerminalFindBarView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        place();
    } else if (watched == m_searchField && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            if (onClose) {
                onClose();
            }
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            searchFieldAction(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void TerminalFindBarView::searchFieldAction(bool shift) {
    const std::function<void()>& callback = shift ? onFindPrevious : onFindNext;
    if (callback) {
        callback();
    }
}

void TerminalFindBarView::optionChanged() {
    if (onOptionsChanged) {
        onOptionsChanged(options());
    }
}

} // namespace veldatron
