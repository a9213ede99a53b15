#include "TabChip.h"
#include "ElidedLabel.h"
#include "UiStyle.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace cavrel {

namespace {

// The chip's title: the highlight and the click area cover the padded title only, not the
// close button.
class ChipTitle : public ElidedLabel {
public:
    ChipTitle(const QString& text, std::function<void()> onClick, const bool& active,
              QWidget* parent)
        : ElidedLabel(text, parent), m_onClick(std::move(onClick)), m_active(active) {
        setContentsMargins(8, 4, 8, 4);
        // Its own width while the strip has room; squeezed and elided when it has not.
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (m_active) {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            QColor fill = accentColor(this);
            fill.setAlphaF(0.2);
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), 6, 6);
            painter.fillPath(path, fill);
        }
        ElidedLabel::paintEvent(event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            m_onClick();
            event->accept();
            return;
        }
        ElidedLabel::mousePressEvent(event);
    }

private:
    std::function<void()> m_onClick;
    const bool& m_active;
};

} // namespace

TabChip::TabChip(const QUuid& tabID, const QString& title, std::function<void()> onSelect,
                 std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), m_tabID(tabID) {
    setObjectName(QStringLiteral("tabChip"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_title = new ChipTitle(title, std::move(onSelect), m_active, this);
    layout->addWidget(m_title);
    m_close = new QToolButton(this);
    m_close->setAutoRaise(true);
    m_close->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), this));
    m_close->setIconSize(QSize(12, 12));
    layout->addWidget(m_close);
    connect(m_close, &QToolButton::clicked, this, [onClose = std::move(onClose)] { onClose(); });
}

QString TabChip::title() const {
    return m_title->text();
}

void TabChip::setActive(bool active) {
    if (m_active != active) {
        m_active = active;
        m_title->update();
    }
}

} // namespace cavrel
