// Links under the pointer: which one is underlined (the row builder draws the cells of
// linkHighlightRange with the link attributes), which one a click opens through the host, the
// preview of an OSC 8 link's URL while Ctrl (the link modifier) is held, and the record of the
// link last pointed at. Finding links at a cell is the terminal's (TerminalLinks.cpp).

#include "TerminalView.h"
#include "TerminalViewDelegate.h"
#include "TinyAtom.h"

#include <QCursor>
#include <QFontDatabase>
#include <QLabel>

#include <set>

namespace veldatron {

namespace {

bool isHoverMode(TerminalView::LinkHighlightMode mode) {
    return mode == TerminalView::LinkHighlightMode::hover ||
           mode == TerminalView::LinkHighlightMode::hoverWithModifier;
}

} // namespace

// ---- Payloads -------------------------------------------------------------------------------

std::optional<QString> TerminalView::payloadString(Position at) {
    Buffer& buffer = m_terminal->buffer();
    const std::optional<uint16_t> code = m_terminal->payloadCode(at, buffer);
    if (!code) {
        return std::nullopt;
    }
    const std::optional<std::string> value = TinyAtom{*code}.target();
    if (!value) {
        return std::nullopt;
    }
    return QString::fromStdString(*value);
}

std::optional<std::pair<QString, std::map<QString, QString>>>
TerminalView::urlAndParamsFrom(const QString& payload) {
    const qsizetype separator = payload.indexOf(QLatin1Char(';'));
    if (separator < 0) {
        return std::nullopt;
    }
    // The URL is everything after the first ";": URLs may hold ";" themselves.
    QString url = payload.mid(separator + 1);
    std::map<QString, QString> params;
    for (const QString& piece :
         payload.left(separator).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QStringList pair = piece.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (pair.size() == 2) {
            params.insert_or_assign(pair[0], pair[1]);
        }
    }
    return std::pair(std::move(url), std::move(params));
}

// ---- Highlight and click --------------------------------------------------------------------

void TerminalView::setLinkHighlightMode(LinkHighlightMode mode) {
    m_linkHighlightMode = mode;
    m_linkHighlightRange.reset();
    // The always modes underline links without any pointer: every row may look different.
    markWholeScreenDirty();
    queuePendingDisplay();
    if (wantsPointerMotion()) {
        startTracking();
    } else {
        deregisterTrackingInterest();
    }
}

void TerminalView::updateHoverLink(Position at, std::optional<bool> commandOverride) {
    const bool command = commandOverride.value_or(m_commandActive);
    if (!isHoverMode(m_linkHighlightMode) ||
        (m_linkHighlightMode == LinkHighlightMode::hoverWithModifier && !command)) {
        clearLinkHighlight();
        return;
    }
    Buffer& buffer = m_terminal->buffer();
    std::optional<LinkMatch> match;
    if (const std::optional<Position> location =
            m_terminal->resolveLinkLocation(LinkLookupLocation::buffer(at), buffer)) {
        match = m_terminal->explicitLinkMatch(*location, buffer);
        if (!match) {
            match = m_terminal->implicitLinkMatch(*location, buffer);
        }
    }
    if (!match) {
        clearLinkHighlight();
        return;
    }
    if (m_linkHighlightRange == match->rowRanges) {
        return;
    }
    std::optional<std::vector<LinkMatch::RowRange>> old =
        std::exchange(m_linkHighlightRange, match->rowRanges);
    invalidateLinkHighlight(old, m_linkHighlightRange);
    queuePendingDisplay();
}

void TerminalView::clearLinkHighlight() {
    if (!m_linkHighlightRange) {
        return;
    }
    const std::optional<std::vector<LinkMatch::RowRange>> old =
        std::exchange(m_linkHighlightRange, std::nullopt);
    invalidateLinkHighlight(old, std::nullopt);
    queuePendingDisplay();
}

void TerminalView::invalidateLinkHighlight(
    const std::optional<std::vector<LinkMatch::RowRange>>& oldRange,
    const std::optional<std::vector<LinkMatch::RowRange>>& newRange) {
    std::set<int> rows;
    for (const auto* range : {&oldRange, &newRange}) {
        if (*range) {
            for (const LinkMatch::RowRange& entry : **range) {
                rows.insert(entry.row);
            }
        }
    }
    const int yDisp = m_terminal->buffer().yDisp();
    for (const int row : rows) {
        const int64_t screenRow = int64_t(row) - yDisp;
        if (screenRow >= 0 && screenRow < m_terminal->rows()) {
            m_terminal->updateRange(int(screenRow));
        }
    }
}

bool TerminalView::cellLinkFlag(int row, const CharData& cell, int column, int width) const {
    switch (m_linkHighlightMode) {
    case LinkHighlightMode::always:
        return cell.hasPayload();
    case LinkHighlightMode::alwaysWithModifier:
        return cell.hasPayload() && m_commandActive;
    case LinkHighlightMode::hoverWithModifier:
        if (!m_commandActive) {
            return false;
        }
        [[fallthrough]];
    case LinkHighlightMode::hover:
        if (!m_linkHighlightRange) {
            return false;
        }
        for (const LinkMatch::RowRange& entry : *m_linkHighlightRange) {
            if (entry.row == row) {
                return !entry.range.isEmpty() && entry.range.start < column + width &&
                       column < entry.range.end;
            }
        }
        return false;
    }
    return false;
}

std::optional<TerminalView::LinkToOpen> TerminalView::linkForClick(Position at,
                                                                   bool hasCommandModifier) {
    const LinkHighlightMode mode = m_linkHighlightMode;
    const bool command = hasCommandModifier;
    // A detected link opens only when it was underlined under the pointer.
    const bool considerImplicit = (mode == LinkHighlightMode::hover ||
                                   (mode == LinkHighlightMode::hoverWithModifier && command)) &&
                                  m_linkHighlightRange.has_value();
    Buffer& buffer = m_terminal->buffer();
    const std::optional<Position> location =
        m_terminal->resolveLinkLocation(LinkLookupLocation::buffer(at), buffer);
    if (!location) {
        return std::nullopt;
    }
    std::optional<LinkMatch> match = m_terminal->explicitLinkMatch(*location, buffer);
    if (!match && considerImplicit) {
        match = m_terminal->implicitLinkMatch(*location, buffer);
    }
    if (!match) {
        return std::nullopt;
    }
    bool accepted = false;
    switch (mode) {
    case LinkHighlightMode::hover:
        accepted = m_linkHighlightRange == match->rowRanges;
        break;
    case LinkHighlightMode::hoverWithModifier:
        accepted = command && m_linkHighlightRange == match->rowRanges;
        break;
    case LinkHighlightMode::always:
        accepted = match->isExplicit;
        break;
    case LinkHighlightMode::alwaysWithModifier:
        accepted = match->isExplicit && command;
        break;
    }
    if (!accepted) {
        return std::nullopt;
    }
    if (match->isExplicit) {
        if (const std::optional<QString> payload = payloadString(*location)) {
            if (auto parts = urlAndParamsFrom(*payload)) {
                return LinkToOpen{std::move(parts->first), std::move(parts->second)};
            }
        }
    }
    return LinkToOpen{QString::fromStdString(match->text), {}};
}

void TerminalView::reportLink(Position at) {
    if (m_linkReporting == LinkReporting::none) {
        m_lastReportedLink.reset();
        return;
    }
    Buffer& buffer = m_terminal->buffer();
    std::optional<LinkMatch> match;
    if (const std::optional<Position> location =
            m_terminal->resolveLinkLocation(LinkLookupLocation::buffer(at), buffer)) {
        match = m_terminal->explicitLinkMatch(*location, buffer);
        if (!match && m_linkReporting == LinkReporting::implicit) {
            match = m_terminal->implicitLinkMatch(*location, buffer);
        }
    }
    if (!match) {
        m_lastReportedLink.reset();
        return;
    }
    m_lastReportedLink = QString::fromStdString(match->text);
}

// ---- Ctrl preview ---------------------------------------------------------------------------

QFont TerminalView::tryUrlFont() {
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Optima", "Helvetica", "Helvetica Neue"}) {
        if (families.contains(QLatin1String(name))) {
            QFont font{QLatin1String(name)};
            font.setPointSizeF(12);
            return font;
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(12);
    return font;
}

void TerminalView::previewUrl(const QString& payload) {
    const auto parts = urlAndParamsFrom(payload);
    if (!parts) {
        return;
    }
    if (m_urlPreview == nullptr) {
        m_urlPreview = new QLabel(this);
        m_urlPreview->setObjectName(QStringLiteral("urlPreview"));
        m_urlPreview->setFont(tryUrlFont());
        m_urlPreview->setAutoFillBackground(true);
        // The view's colours swapped, so that the preview stands out from the text.
        QPalette palette = m_urlPreview->palette();
        palette.setColor(QPalette::Window, m_nativeFg.toQColor());
        palette.setColor(QPalette::WindowText, m_nativeBg.toQColor());
        m_urlPreview->setPalette(palette);
    }
    m_urlPreview->setText(parts->first);
    m_urlPreview->adjustSize();
    m_urlPreview->move(0, height() - m_urlPreview->height());
    m_urlPreview->show();
}

void TerminalView::previewLinkUnderPointer() {
    const Position at = calculateMouseHit(QPointF(mapFromGlobal(QCursor::pos()))).grid;
    if (const std::optional<QString> payload = payloadString(at)) {
        previewUrl(*payload);
    }
    reportLink(at);
    updateHoverLink(at, std::nullopt);
    if (m_linkHighlightMode == LinkHighlightMode::alwaysWithModifier) {
        markWholeScreenDirty();
        queuePendingDisplay();
    }
}

void TerminalView::turnOffUrlPreview() {
    if (!m_commandActive) {
        return;
    }
    m_commandActive = false;
    deregisterTrackingInterest();
    delete m_urlPreview;
    m_urlPreview = nullptr;
    m_lastReportedLink.reset();
    if (m_linkHighlightMode == LinkHighlightMode::hoverWithModifier) {
        clearLinkHighlight();
        queuePendingDisplay();
    } else if (m_linkHighlightMode == LinkHighlightMode::alwaysWithModifier) {
        markWholeScreenDirty();
        queuePendingDisplay();
    }
}

void TerminalView::leaveEvent(QEvent* event) {
    turnOffUrlPreview();
    if (isHoverMode(m_linkHighlightMode)) {
        clearLinkHighlight();
    }
    QWidget::leaveEvent(event);
}

} // namespace veldatron
