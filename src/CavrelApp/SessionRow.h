#pragma once

#include "APIModels.h"

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace cavrel {

class ElidedLabel;

// One session in the Sessions list: "tool — date" over the summary's first line, expanding to
// show the transcript under it. The row only shows what it is given; the screen decides what
// is expanded and which transcript belongs to it.
class SessionRow : public QWidget {
    Q_OBJECT

public:
    SessionRow(const SessionSummary& session, std::function<void(bool expand)> onToggle,
               QWidget* parent = nullptr);

    qint64 sessionID() const { return m_sessionID; }
    bool isExpanded() const { return m_expanded; }
    QString title() const;
    QString summaryLine() const;
    QWidget* content() const { return m_content; }

    // Expanded without a transcript shows "Loading transcript…".
    void setState(bool expanded, const SessionDetail* detail);
    // The transcript shown, if any.
    bool showsTranscript() const { return m_showsTranscript; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void clearContent();

    qint64 m_sessionID;
    std::function<void(bool)> m_onToggle;
    bool m_expanded = false;
    bool m_showsTranscript = false;
    QToolButton* m_arrow;
    QLabel* m_title;
    ElidedLabel* m_summary;
    QWidget* m_content;
    QVBoxLayout* m_contentLayout;
};

} // namespace cavrel
