#include "TerminalViewDelegate.h"
#include "TerminalView.h"

#include <QApplication>

namespace veldatron {

void TerminalViewDelegate::bell(TerminalView&) {
    QApplication::beep();
}

void TerminalViewDelegate::requestOpenLink(TerminalView&, const QString& link,
                                           const std::map<QString, QString>&) {
    TerminalView::openDefaultLink(link);
}

void TerminalViewDelegate::clipboardCopy(TerminalView&, std::span<const uint8_t>) {}

std::optional<std::vector<uint8_t>> TerminalViewDelegate::clipboardRead(TerminalView&) {
    return std::nullopt;
}

void TerminalViewDelegate::iTermContent(TerminalView&, std::span<const uint8_t>) {}

} // namespace veldatron
