// Committed text (typed, from an input method, pasted) and the input method's composition.
// The view holds no editable text of its own: the only text it stores is the composition in
// progress, shown over the terminal at the caret until the input method commits or drops it.

#include "CaretView.h"
#include "DictationOverlayTextView.h"
#include "EscapeSequences.h"
#include "SelectionService.h"
#include "TerminalView.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QTextCharFormat>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace veldatron {

namespace {

using F = KeyModifierFlags;

// Text with no control character (C0, DEL or C1) in it: what a key typed with Alt as a plain
// modifier composes.
bool isPlainPrintableText(std::u32string_view text) {
    if (text.empty()) {
        return false;
    }
    return std::all_of(text.begin(), text.end(),
                       [](char32_t c) { return c >= 0x20 && !(c >= 0x7F && c <= 0x9F); });
}

// Pasted text may hold the bracketed-paste markers itself: an end marker would end the paste
// early and the rest would run as typed commands. Every marker goes, also those that removing
// one puts together ("\e[20\e[201~1~").
//
// In one pass, since a paste is anybody's text: removing the markers layer by layer took minutes
// for a megabyte of "\e[20" x k, "\e[201~", "1~" x k. The text is copied unit by unit and a
// marker the copy ends with is taken off it at once. A marker has ESC only as its first unit, so
// no two markers overlap and removing one can only complete another at the end of the copy; the
// result is the one that removing markers until none is left gives, in whatever order.
QString withoutPasteMarkers(const QString& text) {
    if (!text.contains(QChar(0x1B))) {
        return text;
    }
    constexpr qsizetype markerLength = 6; // ESC [ 2 0 0 ~ and ESC [ 2 0 1 ~
    QString kept(text.size(), Qt::Uninitialized);
    char16_t* const out = reinterpret_cast<char16_t*>(kept.data());
    qsizetype length = 0;
    for (const QChar c : text) {
        out[length++] = c.unicode();
        if (c == u'~' && length >= markerLength) {
            const char16_t* m = out + length - markerLength;
            if (m[0] == 0x1B && m[1] == u'[' && m[2] == u'2' && m[3] == u'0' &&
                (m[4] == u'0' || m[4] == u'1')) {
                length -= markerLength;
            }
        }
    }
    kept.truncate(length);
    return kept;
}

} // namespace

// ---- Committed text -------------------------------------------------------------------------

void TerminalView::insertText(const QString& text, bool isPaste) {
    m_markedText.reset();
    m_markedFormats.clear();
    m_markedSelectedRange = TextRange();
    updateMarkedTextOverlay();

    Terminal& terminal = *m_terminal;
    const bool bracketed = isPaste && terminal.bracketedPasteMode();
    const bool kitty = !terminal.keyboardEnhancementFlags().isEmpty();
    if (kitty && !bracketed) {
        const std::optional<PendingKittyKeyEvent> pending =
            std::exchange(m_pendingKittyKeyEvent, std::nullopt);
        m_kittyIsComposing = false;
        const std::u32string scalars = text.toStdU32String();
        // A character composed with Alt while Alt is not Meta is plain text.
        const F f = pending ? pending->event.modifierFlags : F();
        if (pending && !m_optionAsMetaKey && f.contains(F::option) && !f.contains(F::control) &&
            !f.contains(F::command) && isPlainPrintableText(scalars)) {
            send(text);
            return;
        }
        std::optional<KittyKeyEvent> event;
        if (pending && scalars.size() == 1) {
            event = kittyTextEvent(pending->event, pending->eventType, scalars);
        }
        if (!event) {
            event = KittyKeyEvent{.key = KittyKey::none, .text = scalars};
        }
        sendKittyEvent(*event);
        return;
    }
    if (kitty) {
        m_pendingKittyKeyEvent.reset();
    }
    if (bracketed) {
        send(std::span<const uint8_t>(EscapeSequences::bracketedPasteStart));
        send(withoutPasteMarkers(text));
        send(std::span<const uint8_t>(EscapeSequences::bracketedPasteEnd));
    } else {
        send(text);
    }
}

void TerminalView::paste() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    insertText(clipboard != nullptr ? clipboard->text() : QString(), true);
}

// ---- Composition ----------------------------------------------------------------------------

void TerminalView::setMarkedText(const QString& text, TextRange selectedRange,
                                 const QList<QTextLayout::FormatRange>& formats) {
    if (text.isEmpty()) {
        m_markedText.reset();
        m_markedFormats.clear();
    } else {
        m_markedText = text;
        m_markedFormats = formats;
    }
    m_markedSelectedRange = selectedRange;
    m_kittyIsComposing = true;
    updateMarkedTextOverlay();
}

void TerminalView::unmarkText() {
    m_markedText.reset();
    m_markedFormats.clear();
    m_markedSelectedRange = TextRange();
    m_kittyIsComposing = false;
    updateMarkedTextOverlay();
}

TextRange TerminalView::markedRange() const {
    if (!m_markedText) {
        return TextRange();
    }
    return {0, m_markedText->size()};
}

TextRange TerminalView::selectedRange() const {
    if (m_selection->active()) {
        const qsizetype cols = m_terminal->cols();
        const Position& start = m_selection->start();
        const Position& end = m_selection->end();
        const qsizetype s = qsizetype(start.row) * cols + qsizetype(start.col);
        const qsizetype e = qsizetype(end.row) * cols + qsizetype(end.col);
        if (e != s) {
            return {std::min(s, e), e > s ? e - s : s - e};
        }
    }
    const Buffer& buffer = m_terminal->buffer();
    return {qsizetype(buffer.y()) * m_terminal->cols() + buffer.x(), 0};
}

std::optional<QString> TerminalView::attributedSubstring(TextRange range,
                                                         TextRange* actualRange) const {
    if (!m_markedText || range.location < 0 || range.location == TextRange::notFound ||
        range.location >= m_markedText->size()) {
        return std::nullopt;
    }
    const qsizetype length = std::min(m_markedText->size() - range.location, range.length);
    if (length <= 0) {
        return std::nullopt;
    }
    if (actualRange != nullptr) {
        *actualRange = {range.location, length};
    }
    return m_markedText->mid(range.location, length);
}

QRect TerminalView::firstRect(TextRange range, TextRange* actualRange) const {
    if (actualRange != nullptr) {
        *actualRange = range;
    }
    if (window()->windowHandle() == nullptr) {
        return {};
    }
    const QRect caret = m_caretView->frame().toAlignedRect();
    return QRect(mapToGlobal(caret.topLeft()), caret.size());
}

qsizetype TerminalView::characterIndex(const QPointF& windowPoint) const {
    const QPointF point = mapFrom(window(), windowPoint);
    const auto col = qsizetype(point.x() / m_cellDimension.width());
    const auto row = qsizetype(point.y() / m_cellDimension.height());
    return row * m_terminal->cols() + col;
}

void TerminalView::updateMarkedTextOverlay() {
    if (!m_markedText || m_markedText->isEmpty()) {
        delete m_markedTextOverlay;
        m_markedTextOverlay = nullptr;
        return;
    }
    if (m_markedTextOverlay == nullptr) {
        m_markedTextOverlay = new DictationOverlayTextView(this);
        m_markedTextOverlay->show();
    }
    m_markedTextOverlay->raise();
    const bool reverse = m_terminal->reverseColors();
    m_markedTextOverlay->setOverlayBackgroundColor((reverse ? m_nativeFg : m_nativeBg).toQColor());
    m_markedTextOverlay->setTextColor((reverse ? m_nativeBg : m_nativeFg).toQColor());

    // One character per cell, lines one cell high; the first line starts at the caret and the
    // overlay's top edge lies on the caret's.
    const QRectF caret = m_caretView->frame();
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    DictationOverlayTextView::Layout layout;
    layout.font = m_fontSet.normal;
    layout.kerning =
        std::max(0.0, w - QFontMetricsF(m_fontSet.normal).horizontalAdvance(QLatin1Char('W')));
    layout.lineHeight = h;
    layout.baseline = h - m_baselineOffset;
    layout.width = std::max(width() - 8.0, w);
    layout.firstLineIndent = caret.x() - 4 > 0 ? caret.x() - 4 : 0;
    m_markedTextOverlay->setContent(*m_markedText, m_markedFormats, layout);
    m_markedTextOverlay->setGeometry(
        QRectF(4, caret.top(), layout.width, m_markedTextOverlay->layoutHeight()).toAlignedRect());
}

// ---- Input methods --------------------------------------------------------------------------

void TerminalView::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) {
        insertText(event->commitString());
    }
    const QString preedit = event->preeditString();
    if (preedit.isEmpty()) {
        // Each event tells the whole state: no preedit means the composition is over.
        if (m_markedText || m_kittyIsComposing) {
            unmarkText();
        }
        event->accept();
        return;
    }
    QList<QTextLayout::FormatRange> formats;
    TextRange selection{preedit.size(), 0};
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format = attribute.value.value<QTextFormat>().toCharFormat();
            if (format.isValid() && attribute.length > 0) {
                formats.append({attribute.start, attribute.length, format});
            }
        } else if (attribute.type == QInputMethodEvent::Cursor) {
            selection = {std::clamp<qsizetype>(attribute.start, 0, preedit.size()), 0};
        }
    }
    setMarkedText(preedit, selection, formats);
    event->accept();
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return m_caretView->frame();
    case Qt::ImFont:
        return m_fontSet.normal;
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return 0;
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
        return QString();
    default:
        return QWidget::inputMethodQuery(query);
    }
}

} // namespace veldatron
