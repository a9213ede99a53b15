#pragma once

#include <QUuid>
#include <QWidget>

#include <functional>

class QToolButton;

namespace cavrel {

class ElidedLabel;

// One tab in the tab strip: its title, highlighted while it is the active tab, selecting the
// tab when clicked, and a close button beside it. Where the strip is too narrow for every
// title, titles end in "…" rather than being cut mid-letter.
class TabChip : public QWidget {
    Q_OBJECT

public:
    TabChip(const QUuid& tabID, const QString& title, std::function<void()> onSelect,
            std::function<void()> onClose, QWidget* parent = nullptr);

    const QUuid& tabID() const { return m_tabID; }
    QString title() const;
    bool isActive() const { return m_active; }
    void setActive(bool active);

    ElidedLabel* titleLabel() const { return m_title; }
    QToolButton* closeButton() const { return m_close; }

private:
    QUuid m_tabID;
    bool m_active = false;
    ElidedLabel* m_title;
    QToolButton* m_close;
};

} // namespace cavrel
