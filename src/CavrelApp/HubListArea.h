#pragma once

#include <QList>
#include <QPointer>
#include <QStackedWidget>
#include <QString>

class QVBoxLayout;

namespace cavrel {

class ContentUnavailableView;
class LoadingView;

// The upper part of a hub screen: the busy indicator while its list loads, the list's rows
// (lines between them, scrolling when they do not fit), or the placeholder of an empty list.
class HubListArea : public QStackedWidget {
    Q_OBJECT

public:
    HubListArea(const QString& loadingText, const QString& emptyTitle, const QString& emptySymbol,
                QWidget* parent = nullptr);

    LoadingView* loadingView() const { return m_loadingView; }
    ContentUnavailableView* emptyState() const { return m_emptyState; }
    // The parent of the rows handed to setRows().
    QWidget* listPage() const { return m_listPage; }

    // Loading wins over the list, the list over the placeholder.
    void showState(bool isLoading);
    // Replaces the rows; the old ones are destroyed once control returns to the event loop,
    // since a click on one of them may be what replaced them.
    void setRows(const QList<QWidget*>& rows);
    QList<QWidget*> rows() const;

private:
    LoadingView* m_loadingView;
    QWidget* m_list;
    QWidget* m_listPage;
    QVBoxLayout* m_rowsLayout;
    ContentUnavailableView* m_emptyState;
    QList<QPointer<QWidget>> m_rows;
    QList<QPointer<QWidget>> m_dividers;
};

} // namespace cavrel
