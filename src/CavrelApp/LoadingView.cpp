#include "LoadingView.h"
#include "UiStyle.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace cavrel {

LoadingView::LoadingView(const QString& label, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("loading"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    auto* busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedWidth(160);
    layout->addWidget(busy, 0, Qt::AlignHCenter);
    m_label = plainLabel(label, this);
    m_label->setAlignment(Qt::AlignCenter);
    setSecondary(m_label);
    layout->addWidget(m_label, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

QString LoadingView::label() const {
    return m_label->text();
}

} // namespace cavrel
