#include "Line.h"

namespace veldatron {

void Line::add(LineFragment fragment) {
    m_length += fragment.length;
    m_fragments.push_back(std::move(fragment));
}

std::string Line::debugDescription() const {
    if (m_fragments.empty()) {
        return "[]";
    }
    std::string out = std::to_string(m_fragments.size()) + "/" + std::to_string(m_length) + ": [";
    for (const LineFragment& fragment : m_fragments) {
        if (fragment.text == "\n") {
            out += "\\n";
        } else if (fragment.text) {
            out += *fragment.text;
        }
        out += "][";
    }
    return out;
}

} // namespace veldatron
