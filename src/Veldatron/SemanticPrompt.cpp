#include "SemanticPrompt.h"

#include <array>
#include <utility>

namespace veldatron {

namespace {

// Tag letter and description of each kind, in case order.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kindNames = {{
    {"i", "initial"},
    {"r", "right"},
    {"c", "continuation"},
    {"s", "secondary"},
}};

} // namespace

std::string_view tagName(SemanticPromptKind kind) {
    return kindNames[size_t(kind) & 3].first;
}

std::string_view description(SemanticPromptKind kind) {
    return kindNames[size_t(kind) & 3].second;
}

std::string SemanticContent::description() const {
    switch (m_case) {
    case Case::prompt:
        return "prompt(" + std::string(veldatron::description(m_promptKind)) + ")";
    case Case::none:
        return "none";
    case Case::input:
        return "input";
    case Case::output:
        return "output";
    }
    return "none";
}

} // namespace veldatron
