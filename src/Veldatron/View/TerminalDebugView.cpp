#include "TerminalDebugView.h"
#include "TerminalView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPaintEvent>

#include <cstdio>

namespace veldatron {

namespace {

QFont debugFont() {
    QFont font(QFontDatabase::hasFamily(QStringLiteral("Lucida Sans Typewriter"))
                   ? QStringLiteral("Lucida Sans Typewriter")
                   : QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(8);
    return font;
}

QString threeDigits(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", n);
    return QString::fromLatin1(text);
}

} // namespace

TerminalDebugView::TerminalDebugView(const QRect& frame, TerminalView& terminalView,
                                     QWidget* parent)
    : QWidget(parent), m_terminalView(&terminalView), m_font(debugFont()) {
    setGeometry(frame);
    terminalView.setDebug(this);
    m_height = QFontMetricsF(m_font).tightBoundingRect(QStringLiteral("W")).height();
    m_dbg = new QLabel(QStringLiteral("WAITING"), this);
    m_dbg->setFont(m_font);
    m_dbg->setGeometry(0, height() - 22, width(), 14);
}

void TerminalDebugView::refresh() {
    update();
    if (m_terminalView) {
        m_dbg->setText(statusLine(m_terminalView->terminal()));
    }
}

QString TerminalDebugView::statusLine(Terminal& terminal) {
    const Buffer& buffer = terminal.buffer();
    const CircularBufferLineList& lines = terminal.buffer().lines();
    return QStringLiteral("x: %1 y: %2 yDisp: %3 yBase: %4 clc: %5 startIndex: %6")
        .arg(buffer.x())
        .arg(buffer.y())
        .arg(buffer.yDisp())
        .arg(buffer.yBase())
        .arg(lines.slotCount())
        .arg(lines.startIndex());
}

QString TerminalDebugView::debugText(const BufferLine* line, int cols, const Terminal& terminal) {
    if (line == nullptr) {
        return QStringLiteral("<empty>");
    }
    QString text;
    for (int col = 0; col < cols && line->count() > 0; ++col) {
        const int32_t code = (*line)[std::min(col, line->count() - 1)].code();
        if (code == 0) {
            text += QLatin1Char(' ');
            continue;
        }
        const std::u32string character = terminal.character(code);
        text += QString::fromUcs4(character.data(), qsizetype(character.size()));
    }
    return text;
}

std::pair<QString, QString> TerminalDebugView::slotLabels(Terminal& terminal, int slot) {
    const Buffer& buffer = terminal.buffer();
    const CircularBufferLineList& lines = buffer.lines();
    const QString markers = QString(slot == buffer.yDisp() ? QLatin1Char('D') : QLatin1Char(' ')) +
                            QString(slot == buffer.yBase() ? QLatin1Char('B') : QLatin1Char(' '));
    const int slotCount = std::max(lines.slotCount(), 1);
    const QString index = threeDigits(slot);
    return {QLatin1Char('[') + index + QLatin1Char(':') +
                threeDigits((slot + lines.startIndex()) % slotCount) + QLatin1Char(']') + markers,
            QLatin1Char('[') + index + QLatin1Char(']') + markers};
}

void TerminalDebugView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_terminalView || !(m_height > 0)) {
        return;
    }
    Terminal& terminal = m_terminalView->terminal();
    CircularBufferLineList& lines = terminal.buffer().lines();
    const int cols = terminal.cols();
    painter.setFont(m_font);
    const QFontMetricsF metrics(m_font);
    const QRect dirty = event->rect();
    for (int i = 0; i < lines.maxLength(); ++i) {
        // Baselines one line height apart from the second line down.
        const double baseline = m_height * (i + 2);
        if (baseline - m_height > dirty.bottom() + 1) {
            break;
        }
        if (baseline < dirty.top()) {
            continue;
        }
        const auto [slotLabel, lineLabel] = slotLabels(terminal, i);
        const QString first = slotLabel + debugText(lines.storedLine(i), cols, terminal);
        const QString second = lineLabel + debugText(&lines[i], cols, terminal);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(0, baseline), first);
        painter.drawText(QPointF(metrics.horizontalAdvance(first), baseline), second);
    }
}

void TerminalDebugView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_dbg->setGeometry(0, height() - 22, width(), 14);
}

} // namespace veldatron
