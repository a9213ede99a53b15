#pragma once

// The host side of the headless-host tool: a terminal without a view whose host answers what a
// view in a window would, so that programs which query their terminal run unattended.
//
// Header-only: the tool and its tests share it.

#include "HeadlessTerminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

    // The reply to a report, in the terminal's framing (7-bit or 8-bit controls); none for the
    // other commands, after moving or (de)iconifying the window as they ask. Size changes are
    // refused, as a window whose user fixed its size would.
    std::optional<std::vector<uint8_t>> windowCommand(const Terminal& terminal,
                                                      const WindowManipulationCommand& command) {
        using Kind = WindowManipulationCommand::Kind;
        const bool c1 = terminal.cc().send8bit;
        const std::string csi = c1 ? "\x9b" : "\x1b[";
        const std::string osc = c1 ? "\x9d" : "\x1b]";
        const std::string st = c1 ? "\x9c" : "\x1b\\";
        const int textWidth = terminal.cols() * cell.width;
        const int textHeight = terminal.rows() * cell.height;
        auto report = [&](int code, int first, int second) {
            return bytes(csi + std::to_string(code) + ";" + std::to_string(first) + ";" +
                         std::to_string(second) + "t");
        };
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
            return report(8, terminal.rows(), terminal.cols());
        case Kind::reportScreenSizeCharacters:
            return report(9, screenHeight / cell.height, screenWidth / cell.width);
        case Kind::reportIconLabel:
            return bytes(osc + "L" + terminal.iconTitle() + st);
        case Kind::reportWindowTitle:
            return bytes(osc + "l" + terminal.terminalTitle() + st);
        default:
            return std::nullopt;
        }
    }

    static std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }
};

// A terminal host (`Base`: a TerminalDelegate) that answers as a view in the modelled window
// would, and trusts its program.
template <typename Base> class WindowedHost : public Base {
public:
    using Base::Base;

    std::optional<std::vector<uint8_t>>
    windowCommand(Terminal& source, const WindowManipulationCommand& command) override {
        return window.windowCommand(source, command);
    }
    bool isProcessTrusted(Terminal&) override { return true; }
    std::optional<CellSize> cellSizeInPixels(Terminal&) override { return window.cell; }

    WindowModel window;
};

// The tool's terminal without a view.
using HostedTerminal = WindowedHost<HeadlessTerminal>;

} // namespace veldatron::testing
