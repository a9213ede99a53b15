#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace veldatron {

// Grapheme-cluster segmentation (the Unicode extended grapheme cluster rules) and canonical
// composition, as the print path needs them: whether a character followed by one more scalar is
// still one cluster, and the normalised form under which equivalent clusters share one cell code.
// Backed by ICU; keeps one break iterator, so an instance belongs to one thread (the terminal's).
class GraphemeClusters {
public:
    GraphemeClusters();
    ~GraphemeClusters();
    GraphemeClusters(const GraphemeClusters&) = delete;
    GraphemeClusters& operator=(const GraphemeClusters&) = delete;

    // True when the text is exactly one extended grapheme cluster (false for empty text).
    bool isSingleCluster(std::u32string_view text);
    // The first extended grapheme cluster of the text (empty for empty text).
    std::u32string_view firstCluster(std::u32string_view text);
    // The canonical composition (NFC) of the text. Canonically equivalent texts give the same
    // result ("e" U+0301 and U+00E9; marks of different classes in either order).
    static std::u32string nfc(std::u32string_view text);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace veldatron
