#include "Terminal.h"

namespace veldatron {

void Terminal::dispatchOsc(int64_t code, std::span<const uint8_t> data) {
    // Codes a host registered never get here: the parser hands them to the host's handler.
    switch (code) {
    default:
        if (m_parser.oscHandlerFallback) {
            m_parser.oscHandlerFallback(code, data);
        }
        break;
    }
}

} // namespace veldatron
