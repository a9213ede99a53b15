#include "LocalProcessTerminalView.h"
#include "LocalProcessTerminalViewDelegate.h"
#include "PseudoTerminalHelpers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringDecoder>

#include <cmath>
#include <string>
#include <vector>

namespace veldatron {

namespace {

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> out;
    out.reserve(size_t(list.size()));
    for (const QString& item : list) {
        out.push_back(item.toStdString());
    }
    return out;
}

// A window-size field: truncated, and held to what the 16-bit record can carry.
unsigned short windowSizeField(double value) {
    if (!(value > 0)) {
        return 0;
    }
    return value >= 65535 ? 65535 : static_cast<unsigned short>(value);
}

} // namespace

LocalProcessTerminalView::LocalProcessTerminalView(QWidget* parent)
    : LocalProcessTerminalView(parent, std::nullopt, defaultStartupOptions()) {}

LocalProcessTerminalView::LocalProcessTerminalView(QWidget* parent,
                                                   const std::optional<QFont>& font,
                                                   const TerminalOptions& options,
                                                   Scheduling scheduling)
    : TerminalView(parent, font, options, std::move(scheduling)) {
    setTerminalDelegate(this);
    m_process = std::make_unique<LocalProcess>(this, executor(), LocalProcess::Delivery::queued);
}

LocalProcessTerminalView::~LocalProcessTerminalView() {
    // The process goes first, while the view it delivers to is still whole.
    m_process.reset();
    setTerminalDelegate(nullptr);
}

void LocalProcessTerminalView::startProcess(const QString& executable, const QStringList& args,
                                            const std::optional<QStringList>& environment,
                                            const std::optional<QString>& execName,
                                            const std::optional<QString>& currentDirectory) {
    if (m_process->running()) {
        return;
    }
    m_process->startProcess(executable.toStdString(), toStrings(args),
                            environment ? std::optional(toStrings(*environment)) : std::nullopt,
                            execName ? std::optional(execName->toStdString()) : std::nullopt,
                            currentDirectory ? std::optional(currentDirectory->toStdString())
                                             : std::nullopt);
}

void LocalProcessTerminalView::terminate() {
    m_process->terminate();
}

void LocalProcessTerminalView::setHostLogging(const std::optional<QString>& directory) {
    m_process->setHostLogging(directory ? std::optional(directory->toStdString()) : std::nullopt);
}

winsize LocalProcessTerminalView::getWindowSize() {
    const double scale = backingScaleFactor();
    const QSizeF cell = cellDimension();
    const Terminal& term = terminal();
    winsize size{};
    size.ws_row = windowSizeField(term.rows());
    size.ws_col = windowSizeField(term.cols());
    size.ws_xpixel = windowSizeField(std::trunc(scale * (cell.width() * term.cols())));
    size.ws_ypixel = windowSizeField(std::trunc(scale * (cell.height() * term.rows())));
    return size;
}

// ---- The view's host ------------------------------------------------------------------------

void LocalProcessTerminalView::sizeChanged(TerminalView&, int newCols, int newRows) {
    if (!m_process->running()) {
        return;
    }
    PseudoTerminalHelpers::setWinSize(m_process->childfd(), getWindowSize());
    if (m_processDelegate != nullptr) {
        m_processDelegate->sizeChanged(*this, newCols, newRows);
    }
}

void LocalProcessTerminalView::setTerminalTitle(TerminalView&, const QString& title) {
    if (m_processDelegate != nullptr) {
        m_processDelegate->setTerminalTitle(*this, title);
    }
}

void LocalProcessTerminalView::hostCurrentDirectoryUpdate(TerminalView& source,
                                                          const std::optional<QString>& directory) {
    if (m_processDelegate != nullptr) {
        m_processDelegate->hostCurrentDirectoryUpdate(source, directory);
    }
}

void LocalProcessTerminalView::send(TerminalView&, std::span<const uint8_t> data) {
    m_process->send(data);
}

void LocalProcessTerminalView::scrolled(TerminalView&, double) {}

void LocalProcessTerminalView::clipboardCopy(TerminalView&, std::span<const uint8_t> content) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(content.data(), qsizetype(content.size())));
    if (decoder.hasError()) {
        return; // not UTF-8: the clipboard keeps what it has
    }
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

std::optional<std::vector<uint8_t>> LocalProcessTerminalView::clipboardRead(TerminalView&) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) {
        return std::nullopt;
    }
    const QByteArray utf8 = data->text().toUtf8();
    return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

void LocalProcessTerminalView::rangeChanged(TerminalView&, int, int) {}

// ---- The process's host ---------------------------------------------------------------------

void LocalProcessTerminalView::processTerminated(LocalProcess&, std::optional<int32_t> exitCode) {
    if (m_processDelegate != nullptr) {
        m_processDelegate->processTerminated(*this, exitCode);
    }
}

void LocalProcessTerminalView::dataReceived(std::span<const uint8_t> slice) {
    feed(slice);
}

} // namespace veldatron
