#include "Terminal.h"

#include <string>

namespace veldatron {

namespace {

using Kind = WindowManipulationCommand::Kind;

// The cell size assumed when the host gives none.
constexpr CellSize defaultCellSize{10, 16};

// The first `limit` bytes of a UTF-8 title, cut before a character that would not fit whole.
std::string truncatedTitle(const std::string& title, size_t limit) {
    if (title.size() <= limit) {
        return title;
    }
    size_t end = limit;
    while (end > 0 && (uint8_t(title[end]) & 0xC0) == 0x80) {
        --end;
    }
    return title.substr(0, end);
}

} // namespace

// ---- Window operations (XTWINOPS) -----------------------------------------------------------

void Terminal::cmdWindowOptions(const ParserParams& pars) {
    // Everything here, the title stacks included, is the host's business.
    if (m_delegate == nullptr) {
        return;
    }
    const auto command = [&](Kind kind, int first = 0, int second = 0) {
        tell([&](TerminalDelegate& d) { d.windowCommand(*this, {kind, first, second}); });
    };
    const auto pixelSize = [&](int prefix) {
        const CellSize cell = ask([&](TerminalDelegate& d) { return d.cellSizeInPixels(*this); })
                                  .value_or(std::nullopt)
                                  .value_or(defaultCellSize);
        return std::to_string(prefix) + ';' + std::to_string(int64_t(m_rows) * cell.height) + ';' +
               std::to_string(int64_t(m_cols) * cell.width) + 't';
    };
    const auto popTitle = [&] { popStack(m_terminalTitleStack, &Terminal::setTitle); };
    const auto popIconTitle = [&] { popStack(m_terminalIconStack, &Terminal::setIconTitle); };

    const int n = pars.size();
    const int32_t p0 = pars[0];
    const int32_t p1 = pars[1];
    const int32_t p2 = pars[2];
    if (n == 1) {
        switch (p0) {
        case 1:
            command(Kind::deiconifyWindow);
            return;
        case 2:
            command(Kind::iconifyWindow);
            return;
        case 5:
            command(Kind::bringToFront);
            return;
        case 6:
            command(Kind::sendToBack);
            return;
        case 7:
            command(Kind::refreshWindow);
            return;
        case 14:
            windowReport(Kind::reportTextAreaPixelDimension, [&] { return pixelSize(4); });
            return;
        case 15:
            windowReport(Kind::reportSizeOfScreenInPixels, [&] { return pixelSize(5); });
            return;
        case 16:
            windowReport(Kind::reportCellSizeInPixels, [&] {
                const CellSize cell =
                    ask([&](TerminalDelegate& d) { return d.cellSizeInPixels(*this); })
                        .value_or(std::nullopt)
                        .value_or(defaultCellSize);
                return "6;" + std::to_string(cell.height) + ';' + std::to_string(cell.width) + 't';
            });
            return;
        case 18:
            windowReport(Kind::reportTextAreaCharacters, [&] {
                return "8;" + std::to_string(m_rows) + ';' + std::to_string(m_cols) + 't';
            });
            return;
        case 19:
            windowReport(Kind::reportScreenSizeCharacters, [&] {
                return "9;" + std::to_string(m_rows) + ';' + std::to_string(m_cols) + 't';
            });
            return;
        case 20:
            // The label and the title are never read back: a program could otherwise make the
            // terminal type text of its choosing into the shell.
            sendResponse(m_cc.osc(), "L", m_cc.st());
            return;
        case 21:
            sendResponse(m_cc.osc(), "l", m_cc.st());
            return;
        default:
            break;
        }
    } else if (n == 2) {
        switch (p0) {
        case 9:
            if (p1 >= 0 && p1 <= 3) {
                static constexpr Kind kinds[] = {Kind::restoreMaximizedWindow, Kind::maximizeWindow,
                                                 Kind::maximizeWindowVertically,
                                                 Kind::maximizeWindowHorizontally};
                command(kinds[p1]);
                return;
            }
            break;
        case 10:
            if (p1 >= 0 && p1 <= 2) {
                static constexpr Kind kinds[] = {Kind::undoFullScreen, Kind::switchToFullScreen,
                                                 Kind::toggleFullScreen};
                command(kinds[p1]);
                return;
            }
            break;
        case 14:
            if (p1 == 2) {
                windowReport(Kind::reportTerminalWindowPixelDimension,
                             [&] { return pixelSize(4); });
                return;
            }
            break;
        case 22:
            if (p1 == 0 || p1 == 2) {
                pushTitle(m_terminalTitleStack, m_terminalTitle);
            }
            if (p1 == 0 || p1 == 1) {
                pushTitle(m_terminalIconStack, m_iconTitle);
            }
            if (p1 >= 0 && p1 <= 2) {
                return;
            }
            break;
        case 23:
            if (p1 == 0 || p1 == 2) {
                popTitle();
            }
            if (p1 == 0 || p1 == 1) {
                popIconTitle();
            }
            if (p1 >= 0 && p1 <= 2) {
                return;
            }
            break;
        default:
            break;
        }
    } else if (n == 3) {
        switch (p0) {
        case 3:
            command(Kind::moveWindowTo, p1, p2);
            return;
        case 4:
            command(Kind::resizeWindowTo, p2, p1);
            return;
        case 8:
            command(Kind::resizeTerminal, p2, p1);
            return;
        case 22:
            if (p1 == 0 && p2 == 0) {
                pushTitle(m_terminalTitleStack, m_terminalTitle);
                pushTitle(m_terminalIconStack, m_iconTitle);
                return;
            }
            break;
        case 23:
            if (p1 == 0 && p2 == 0) {
                popTitle();
                popIconTitle();
                return;
            }
            break;
        default:
            break;
        }
    }
    logInfo("Unhandled Window command: " + listText(pars.values()));
}

void Terminal::windowReport(WindowManipulationCommand::Kind kind,
                            FunctionRef<std::string()> fallback) {
    const std::optional<std::optional<std::vector<uint8_t>>> hostReply =
        ask([&](TerminalDelegate& d) {
            return d.windowCommand(*this, {kind, 0, 0});
        });
    if (hostReply && *hostReply) {
        // The host's bytes go out exactly as given.
        sendResponse(std::span<const uint8_t>(**hostReply));
        return;
    }
    sendResponse(m_cc.csi(), fallback());
}

void Terminal::popStack(std::vector<std::string>& stack, void (Terminal::*set)(std::string)) {
    if (!stack.empty()) {
        std::string title = std::move(stack.back());
        stack.pop_back();
        (this->*set)(std::move(title));
    }
}

void Terminal::pushTitle(std::vector<std::string>& stack, const std::string& title) {
    // A program that pushes in a loop must not grow the stack without end.
    if (stack.size() >= maxTitleStackDepth) {
        stack.erase(stack.begin());
    }
    stack.push_back(truncatedTitle(title, maxTitleLength));
}

// ---- Cursor style (DECSCUSR) ----------------------------------------------------------------

void Terminal::cmdSetCursorStyle(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (collect.size() != 1 || collect[0] != ' ') {
        return;
    }
    static constexpr CursorStyle styles[] = {
        CursorStyle::blinkBlock,     CursorStyle::blinkBlock,      CursorStyle::steadyBlock,
        CursorStyle::blinkUnderline, CursorStyle::steadyUnderline, CursorStyle::blinkBar,
        CursorStyle::steadyBar,
    };
    const int32_t p = pars[0];
    if (p < 0 || p > 6) {
        return;
    }
    setCursorStyle(styles[p]);
}

void Terminal::setCursorStyle(CursorStyle style) {
    if (style == m_options.cursorStyle) {
        return;
    }
    m_options.cursorStyle = style;
    tell([&](TerminalDelegate& d) { d.cursorStyleChanged(*this, style); });
}

} // namespace veldatron
