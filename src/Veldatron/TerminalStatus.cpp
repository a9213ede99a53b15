#include "Terminal.h"

#include "TextDecoding.h"

#include <string>

namespace veldatron {

void Terminal::DECRQSS::hook(std::span<const uint8_t>, const ParserParams&, uint8_t) {
    m_data.clear();
    m_overflow = false;
}

void Terminal::DECRQSS::put(std::span<const uint8_t> data) {
    // A known request is two bytes at most; a string that streams on is kept to its start only.
    const size_t room = maxRequestLength - m_data.size();
    if (data.size() > room) {
        m_overflow = true;
        data = data.first(room);
    }
    m_data.insert(m_data.end(), data.begin(), data.end());
}

void Terminal::DECRQSS::unhook() {
    Terminal& t = m_terminal;
    const std::string request = TextDecoding::ascii(m_data).value_or(std::string());
    const Buffer& buffer = *t.m_buffer;
    std::string reply;
    bool valid = !m_overflow;
    if (!valid) {
        // Answered as invalid below.
    } else if (request == "\"q") { // DECSCA: no protected characters
        reply = "\"q";
    } else if (request == "\"p") { // DECSCL: level 65, 7-bit controls
        reply = "65;1\"p";
    } else if (request == "r") { // DECSTBM
        reply = std::to_string(buffer.scrollTop() + 1) + ';' +
                std::to_string(buffer.scrollBottom() + 1) + 'r';
    } else if (request == "m") { // SGR
        reply = t.m_curAttr.toSgr();
    } else if (request == "s") { // DECSLRM
        reply = std::to_string(buffer.marginLeft() + 1) + ';' +
                std::to_string(buffer.marginRight() + 1) + 's';
    } else if (request == " q") { // DECSCUSR
        // The styles are declared in the order of their DECSCUSR numbers 1 to 6; 0 reads as 1.
        reply = std::to_string(int(t.m_options.cursorStyle) + 1) + " q";
    } else {
        valid = false;
    }
    if (!valid) {
        t.logInfo("Unknown DCS + " + request);
    }
    t.sendResponse(t.m_cc.dcs(), valid ? "1$r" : "0$r", reply, t.m_cc.st());
    m_data.clear();
}

} // namespace veldatron
