#pragma once

// The host side of the headless-host tool: a terminal without a view whose host answers what a
// view in a window would, so that programs which query their terminal run unattended.
//
// Header-only: the tool and its tests share it.

#include "HeadlessTerminal.h"
#include "PseudoTerminalHelpers.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace veldatron::testing {

// A window on a screen, as a view would report it. The text area sits inside the window with a
// border on every side; the terminal's rows and columns of cells fill the text area.
//
//   screen (0,0)
//   +------------------------------------------------------+
//   |   (x,y) window                                       |
//   |   +---------------------------+                      |
//   |   | border                    |                      |
//   |   |  +---------------------+  |                      |
//   |   |  | text area           |  |                      |
//   |   |  | cols x cell.width   |  |                      |
//   |   |  | rows x cell.height  |  |                      |
//   |   |  +---------------------+  |                      |
//   |   +---------------------------+                      |
//   +------------------------------------------------------+
struct WindowModel {
    int x = 40;
    int y = 30;
    int border = 4;
    CellSize cell{10, 20};
    int screenWidth = 1920;
    int screenHeight = 1080;
    bool iconified = false;

    // A text area's size in cells.
    struct Cells {
        int cols = 0;
        int rows = 0;
        friend bool operator==(const Cells&, const Cells&) = default;
    };
    // The size a resize gave the text area, until the host has applied it to the terminal (it
    // must not do that from inside the terminal's callback that asked); the reports already
    // tell it. None while the terminal's own size holds.
    std::optional<Cells> pendingSize;
    // The size to go back to when the window leaves its maximized or full-screen state.
    std::optional<Cells> restoredSize;
    bool fullScreen = false;

    // The cells the whole screen holds (the size report's answer).
    Cells screenCells() const { return {screenWidth / cell.width, screenHeight / cell.height}; }
    Cells size(const Terminal& terminal) const {
        return pendingSize.value_or(Cells{terminal.cols(), terminal.rows()});
    }

    // The reply to a report, in the terminal's framing (7-bit or 8-bit controls); none for the
    // other commands, after moving, (de)iconifying or resizing the window as they ask.
    std::optional<std::vector<uint8_t>> windowCommand(const Terminal& terminal,
                                                      const WindowManipulationCommand& command) {
        using Kind = WindowManipulationCommand::Kind;
        const bool c1 = terminal.cc().send8bit;
        const std::string csi = c1 ? "\x9b" : "\x1b[";
        const std::string osc = c1 ? "\x9d" : "\x1b]";
        const std::string st = c1 ? "\x9c" : "\x1b\\";
        const Cells current = size(terminal);
        const int textWidth = current.cols * cell.width;
        const int textHeight = current.rows * cell.height;
        auto report = [&](int code, int first, int second) {
            return bytes(csi + std::to_string(code) + ";" + std::to_string(first) + ";" +
                         std::to_string(second) + "t");
        };
        const Cells screen = screenCells();
        switch (command.kind) {
        case Kind::moveWindowTo:
            x = command.first;
            y = command.second;
            return std::nullopt;
        case Kind::iconifyWindow:
            iconified = true;
            return std::nullopt;
        case Kind::deiconifyWindow:
            iconified = false;
            return std::nullopt;
        case Kind::resizeTerminal:
            resize({command.first, command.second});
            return std::nullopt;
        case Kind::resizeWindowTo: {
            // Pixels of the text area: the whole cells in them, at least one.
            const auto cells = [](int pixels, int size) {
                return pixels <= 0 ? 0 : std::max(pixels / size, 1);
            };
            resize({cells(command.first, cell.width), cells(command.second, cell.height)});
            return std::nullopt;
        }
        case Kind::maximizeWindow:
            maximize(terminal, screen);
            return std::nullopt;
        case Kind::maximizeWindowVertically:
            maximize(terminal, {current.cols, screen.rows});
            return std::nullopt;
        case Kind::maximizeWindowHorizontally:
            maximize(terminal, {screen.cols, current.rows});
            return std::nullopt;
        case Kind::restoreMaximizedWindow:
            if (!fullScreen) {
                restore();
            }
            return std::nullopt;
        case Kind::switchToFullScreen:
            maximize(terminal, screen);
            fullScreen = true;
            return std::nullopt;
        case Kind::undoFullScreen:
            if (fullScreen) {
                restore();
            }
            return std::nullopt;
        case Kind::toggleFullScreen:
            if (fullScreen) {
                restore();
            } else {
                maximize(terminal, screen);
                fullScreen = true;
            }
            return std::nullopt;
        case Kind::reportTerminalState:
            return bytes(csi + (iconified ? "2t" : "1t"));
        case Kind::reportTerminalPosition:
            return report(3, x, y);
        case Kind::reportTextAreaPosition:
            return report(3, x + border, y + border);
        case Kind::reportTextAreaPixelDimension:
            return report(4, textHeight, textWidth);
        case Kind::reportTerminalWindowPixelDimension:
            return report(4, textHeight + 2 * border, textWidth + 2 * border);
        case Kind::reportSizeOfScreenInPixels:
            return report(5, screenHeight, screenWidth);
        case Kind::reportCellSizeInPixels:
            return report(6, cell.height, cell.width);
        case Kind::reportTextAreaCharacters:
            return report(8, current.rows, current.cols);
        case Kind::reportScreenSizeCharacters:
            return report(9, screen.rows, screen.cols);
        case Kind::reportIconLabel:
            return bytes(osc + "L" + terminal.iconTitle() + st);
        case Kind::reportWindowTitle:
            return bytes(osc + "l" + terminal.terminalTitle() + st);
        default:
            return std::nullopt;
        }
    }

    // A new size for the text area: 0 means as large as the screen, and no window grows past
    // the screen (nor a terminal below its smallest size).
    void resize(Cells wanted) {
        const Cells screen = screenCells();
        const auto fit = [](int value, int whole, int least) {
            return std::max(value <= 0 || value > whole ? whole : value, least);
        };
        const Cells next{fit(wanted.cols, screen.cols, Terminal::MINIMUM_COLS),
                         fit(wanted.rows, screen.rows, Terminal::MINIMUM_ROWS)};
        pendingSize = next;
    }
    void maximize(const Terminal& terminal, Cells to) {
        if (!restoredSize) {
            restoredSize = size(terminal);
        }
        resize(to);
    }
    void restore() {
        if (restoredSize) {
            resize(*restoredSize);
        }
        restoredSize.reset();
        fullScreen = false;
    }

    static std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }
};

// A terminal host (`Base`: a TerminalDelegate) that answers as a view in the modelled window
// would, and trusts its program. On a terminal without a view (`Base` a HeadlessTerminal) a
// resize of the window reaches the program's pseudo-terminal at once, before any reply to the
// same output does, and the terminal once the callback that asked has returned.
template <typename Base> class WindowedHost : public Base {
public:
    using Base::Base;

    std::optional<std::vector<uint8_t>>
    windowCommand(Terminal& source, const WindowManipulationCommand& command) override {
        std::optional<std::vector<uint8_t>> reply = window.windowCommand(source, command);
        if constexpr (std::is_base_of_v<HeadlessTerminal, Base>) {
            if (window.pendingSize) {
                resizeProgramTerminal(*window.pendingSize);
                this->queue().post([this, alive = std::weak_ptr<int>(m_alive)] {
                    if (!alive.expired()) {
                        applyPendingSize();
                    }
                });
            }
        }
        return reply;
    }
    bool isProcessTrusted(Terminal&) override { return true; }
    std::optional<CellSize> cellSizeInPixels(Terminal&) override { return window.cell; }

    WindowModel window;

private:
    void resizeProgramTerminal(WindowModel::Cells size) {
        winsize ws = this->getWindowSize();
        ws.ws_col = static_cast<unsigned short>(size.cols);
        ws.ws_row = static_cast<unsigned short>(size.rows);
        if (const int fd = this->process().childfd(); fd >= 0) {
            PseudoTerminalHelpers::setWinSize(fd, ws);
        }
    }
    void applyPendingSize() {
        if (!window.pendingSize) {
            return; // applied by an earlier post
        }
        const WindowModel::Cells size = *window.pendingSize;
        window.pendingSize.reset();
        this->terminal().resize(size.cols, size.rows);
        resizeProgramTerminal({this->terminal().cols(), this->terminal().rows()});
    }

    // The posted resizes hold this weakly: the host may end before they run.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// The tool's terminal without a view.
using HostedTerminal = WindowedHost<HeadlessTerminal>;

} // namespace veldatron::testing
