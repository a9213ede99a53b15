#include "Terminal.h"

#include <algorithm>
#include <string>

namespace veldatron {

bool Terminal::handleKittyKeyboardProtocol(const ParserParams& pars,
                                           std::span<const uint8_t> collect) {
    if (collect.size() != 1) {
        return false;
    }
    // Each screen keeps its own flags: a full-screen program's keyboard mode ends with its
    // screen and does not leak into the shell's.
    KeyboardModeState& state =
        isCurrentBufferAlternate() ? m_keyboardModeAlt : m_keyboardModeNormal;
    const auto masked = [](int32_t value) {
        return KittyKeyboardFlags(value) & KittyKeyboardFlags::knownMask;
    };
    switch (collect[0]) {
    case '=': {
        if (pars.size() == 1 && pars.isOmitted(0)) {
            state.flags = KittyKeyboardFlags();
            return true;
        }
        const KittyKeyboardFlags value = masked(pars[0]);
        switch (pars.size() > 1 ? pars[1] : 1) {
        case 1:
            state.flags = value;
            break;
        case 2:
            state.flags = state.flags | value;
            break;
        case 3:
            state.flags = state.flags.subtracting(value);
            break;
        default:
            break;
        }
        return true;
    }
    case '>':
        if (state.stack.size() >= maxKeyboardModeStackDepth) {
            state.stack.erase(state.stack.begin());
        }
        state.stack.push_back(state.flags);
        state.flags = masked(pars[0]);
        return true;
    case '<': {
        const size_t n = size_t(std::max(pars[0], 1));
        if (state.stack.size() < n) {
            state.stack.clear();
            state.flags = KittyKeyboardFlags();
        } else {
            state.flags = state.stack[state.stack.size() - n];
            state.stack.resize(state.stack.size() - n);
        }
        return true;
    }
    case '?':
        sendResponse(m_cc.csi(), "?", std::to_string(state.flags.rawValue), "u");
        return true;
    default:
        return false;
    }
}

} // namespace veldatron
