#include "SemanticPrompt.h"

namespace veldatron {

std::string_view tagName(SemanticPromptKind kind) {
    switch (kind) {
    case SemanticPromptKind::initial:
        return "i";
    case SemanticPromptKind::right:
        return "r";
    case SemanticPromptKind::continuation:
        return "c";
    case SemanticPromptKind::secondary:
        return "s";
    }
    return "i";
}

std::string_view description(SemanticPromptKind kind) {
    switch (kind) {
    case SemanticPromptKind::initial:
        return "initial";
    case SemanticPromptKind::right:
        return "right";
    case SemanticPromptKind::continuation:
        return "continuation";
    case SemanticPromptKind::secondary:
        return "secondary";
    }
    return "initial";
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
