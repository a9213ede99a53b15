#include "HeadlessTerminal.h"

#include <algorithm>
#include <utility>

namespace veldatron {

HeadlessTerminal::HeadlessTerminal(Executor& queue, TerminalOptions options, EndHandler onEnd,
                                   LocalProcess::Delivery delivery)
    : m_onEnd(std::move(onEnd)), m_queue(queue) {
    m_terminal = std::make_unique<Terminal>(this, std::move(options), &queue);
    m_process = std::make_unique<LocalProcess>(this, queue, delivery);
}

HeadlessTerminal::~HeadlessTerminal() {
    m_alive.reset();
    // The process goes first, while the terminal its output would reach still exists.
    m_process.reset();
    m_terminal->setDelegate(nullptr);
}

void HeadlessTerminal::send(std::span<const std::uint8_t> data) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(data.begin(), data.end());
    m_queue.post([this, alive = std::weak_ptr<int>(m_alive), bytes] {
        if (alive.expired()) {
            return;
        }
        m_terminal->noteUserInput(*bytes);
    });
    m_process->send(data);
}

void HeadlessTerminal::send(std::string_view text) {
    send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void HeadlessTerminal::changeScrollback(std::optional<int> lines) {
    m_terminal->normalBuffer().changeHistorySize(lines);
    TerminalOptions options = m_terminal->options();
    options.scrollback = lines.value_or(0);
    m_terminal->setOptions(std::move(options));
    m_terminal->updateRange(0, false);
    m_terminal->updateRange(m_terminal->rows() - 1, false);
}

void HeadlessTerminal::processTerminated(LocalProcess&, std::optional<std::int32_t> exitCode) {
    if (m_onEnd) {
        m_onEnd(exitCode);
    }
}

void HeadlessTerminal::dataReceived(std::span<const std::uint8_t> slice) {
    m_terminal->feed(slice);
}

winsize HeadlessTerminal::getWindowSize() {
    constexpr int largest = 65535;
    winsize size{};
    size.ws_row = static_cast<unsigned short>(std::clamp(m_terminal->rows(), 0, largest));
    size.ws_col = static_cast<unsigned short>(std::clamp(m_terminal->cols(), 0, largest));
    size.ws_xpixel = 16;
    size.ws_ypixel = 16;
    return size;
}

void HeadlessTerminal::send(Terminal&, std::span<const std::uint8_t> data) {
    // The terminal's constructor may already talk to its host, before the process exists.
    if (m_process) {
        m_process->send(data);
    }
}

void HeadlessTerminal::mouseModeChanged(Terminal&) {}

void HeadlessTerminal::hostCurrentDirectoryUpdated(Terminal& source) {
    m_dir = source.hostCurrentDirectory();
}

void HeadlessTerminal::createImageFromBitmap(Terminal&, std::vector<std::uint8_t>& bytes, int width,
                                             int height) {
    m_images.push_back(Image{std::move(bytes), width, height});
}

} // namespace veldatron
