#pragma once

#include <QFont>
#include <QPointer>
#include <QWidget>

class QLabel;

namespace veldatron {

class BufferLine;
class Terminal;
class TerminalView;

/// A diagnostic overlay for a TerminalView: every slot of the active screen's line ring with the
/// text of the line stored there and of the line at that logical index, and a status line with
/// the cursor and scroll state. Making one attaches it to its terminal view (replacing any
/// earlier one), whose display passes then refresh it.
///
/// It holds its terminal view without owning it, and shows nothing more once that view is gone;
/// whoever makes it owns it (a parent widget, say). GUI thread only.
class TerminalDebugView : public QWidget {
public:
    TerminalDebugView(const QRect& frame, TerminalView& terminalView, QWidget* parent = nullptr);

    TerminalView* terminalView() const { return m_terminalView; }
    /// The status line now, and a repaint of the ring.
    void refresh();
    /// "x: 3 y: 5 yDisp: 0 yBase: 0 clc: 524 startIndex: 0" for the active screen.
    static QString statusLine(Terminal& terminal);
    /// The text the view shows of a line: its first `cols` columns (code 0 as a blank; past
    /// the line's cells the last one repeats), or "<empty>" for no line.
    static QString debugText(const BufferLine* line, int cols, const Terminal& terminal);
    /// The labels of ring slot `slot`: "[007:017]" and "[007]" for slot 7 of a ring that starts
    /// at 10, each followed by "D" when it is the displayed top line, "B" when it is the base.
    static std::pair<QString, QString> slotLabels(Terminal& terminal, int slot);
    /// The status field, "WAITING" until the first refresh.
    QLabel& status() const { return *m_dbg; }
    /// The height of one line of the ring.
    double lineHeight() const { return m_height; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<TerminalView> m_terminalView;
    QFont m_font;
    double m_height = 0;
    QLabel* m_dbg = nullptr;
};

} // namespace veldatron
