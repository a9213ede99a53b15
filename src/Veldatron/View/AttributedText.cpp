#include "AttributedText.h"

namespace veldatron {

void AttributedText::append(const QString& text,
                            const std::shared_ptr<const RunAttributes>& attributes) {
    if (text.isEmpty()) {
        return;
    }
    const int start = int(m_string.size());
    m_string += text;
    if (!m_runs.empty() && m_runs.back().attributes == attributes) {
        m_runs.back().length += int(text.size());
        return;
    }
    m_runs.push_back({start, int(text.size()), attributes});
}

const RunAttributes* AttributedText::attributesAt(int index) const {
    for (const Run& run : m_runs) {
        if (index >= run.start && index < run.start + run.length) {
            return run.attributes.get();
        }
    }
    return nullptr;
}

} // namespace veldatron
