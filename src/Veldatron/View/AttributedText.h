#pragma once

#include "RunAttributes.h"

#include <QString>

#include <memory>
#include <vector>

namespace veldatron {

/// Text with runs of drawing attributes. Indexes and lengths count UTF-16 units, as QString
/// does, so every unit maps to a run and (through the row's ordinal map) to a cell.
///
/// Runs share their attributes: equal cells of a row point at the one object the view cached
/// for their cell attribute. A piece appended with the same attributes object as the last run
/// extends that run.
class AttributedText {
public:
    struct Run {
        int start = 0;
        int length = 0;
        std::shared_ptr<const RunAttributes> attributes;
    };

    void append(const QString& text, const std::shared_ptr<const RunAttributes>& attributes);
    void reserve(int units) { m_string.reserve(units); }

    const QString& string() const { return m_string; }
    const std::vector<Run>& runs() const { return m_runs; }
    int length() const { return int(m_string.size()); }
    bool isEmpty() const { return m_string.isEmpty(); }
    /// The attributes at a UTF-16 index; null outside the text.
    const RunAttributes* attributesAt(int index) const;

private:
    QString m_string;
    std::vector<Run> m_runs;
};

} // namespace veldatron
