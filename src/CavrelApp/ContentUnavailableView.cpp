#include "ContentUnavailableView.h"
#include "UiStyle.h"
#include "WrappingLabel.h"

#include <QLabel>
#include <QVBoxLayout>

namespace cavrel {

ContentUnavailableView::ContentUnavailableView(const QString& title, const QString& symbol,
                                               const QString& description, QWidget* parent)
    : QWidget(parent), m_symbol(symbol) {
    setObjectName(QStringLiteral("contentUnavailable"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);
    layout->addStretch(1);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("symbol"));
    icon->setPixmap(symbolPixmap(symbol, 48, this));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    // A folder name in the texts may be one long word: it wraps too.
    m_title = new WrappingLabel(title, this);
    QFont titleFont = headlineFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    m_title->setFont(titleFont);
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);

    m_description = new WrappingLabel(description, this);
    m_description->setAlignment(Qt::AlignCenter);
    m_description->setVisible(!description.isEmpty());
    setSecondary(m_description);
    layout->addWidget(m_description);
    layout->addStretch(1);
}

void ContentUnavailableView::resizeEvent(QResizeEvent* event) {
    // A readable measure: the texts wrap at about 460 pixels, centred in whatever width the
    // screen has. Margins rather than a maximum width, so the wrapped height is right.
    const int side = qMax(24, (width() - 460) / 2);
    layout()->setContentsMargins(side, 24, side, 24);
    QWidget::resizeEvent(event);
}

QString ContentUnavailableView::title() const {
    return m_title->text();
}

QString ContentUnavailableView::description() const {
    return m_description->text();
}

void ContentUnavailableView::setDescription(const QString& description) {
    m_description->setText(description);
    m_description->setVisible(!description.isEmpty());
}

} // namespace cavrel
