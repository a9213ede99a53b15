#include "Terminal.h"

#include <string_view>

namespace veldatron {

namespace {

std::string_view firstField(std::string_view text, char separator) {
    return text.substr(0, text.find(separator));
}

// A complete CSI of the user's input, its parameter bytes and final byte: whether it is an Enter
// press. CSI 200 ~ and CSI 201 ~ (the brackets a paste arrives in) switch `inPaste`.
bool interpretSemanticCSI(std::string_view params, uint8_t final, bool& inPaste) {
    if (final == '~') {
        if (params == "200") {
            inPaste = true;
        } else if (params == "201") {
            inPaste = false;
        }
        return false;
    }
    if (final != 'u') {
        return false;
    }
    // The kitty keyboard encoding: key[:alternates];modifiers[:event type];text. Enter is key 13;
    // event type 3 is its release, which submits nothing.
    const size_t semicolon = params.find(';');
    if (firstField(params.substr(0, semicolon), ':') != "13") {
        return false;
    }
    if (semicolon == std::string_view::npos) {
        return true;
    }
    const std::string_view modifiers = firstField(params.substr(semicolon + 1), ';');
    const size_t colon = modifiers.find(':');
    if (colon == std::string_view::npos) {
        return true;
    }
    return firstField(modifiers.substr(colon + 1), ':') != "3";
}

} // namespace

bool Terminal::scanUserInputForSubmission(std::span<const uint8_t> data) {
    constexpr uint8_t esc = 0x1B;
    constexpr size_t maximumParams = 32;
    bool submitted = false;
    for (const uint8_t byte : data) {
        if (byte == '\r' || byte == '\n') {
            m_semanticScanState = SemanticScanState::ground;
            submitted = submitted || !m_semanticScanInPaste;
            continue;
        }
        switch (m_semanticScanState) {
        case SemanticScanState::ss3:
            m_semanticScanState = SemanticScanState::ground;
            submitted = submitted || byte == 'M';
            break;
        case SemanticScanState::csi:
            if (byte >= 0x20 && byte <= 0x3F) {
                if (m_semanticScanParams.size() < maximumParams) {
                    m_semanticScanParams.push_back(byte);
                }
            } else if (byte >= 0x40 && byte <= 0x7E) {
                const std::string_view params(
                    reinterpret_cast<const char*>(m_semanticScanParams.data()),
                    m_semanticScanParams.size());
                if (interpretSemanticCSI(params, byte, m_semanticScanInPaste)) {
                    submitted = true;
                }
                m_semanticScanState = SemanticScanState::ground;
            } else {
                m_semanticScanState =
                    byte == esc ? SemanticScanState::escape : SemanticScanState::ground;
            }
            break;
        case SemanticScanState::escape:
            if (byte == 'O') {
                m_semanticScanState = SemanticScanState::ss3;
            } else if (byte == '[') {
                m_semanticScanState = SemanticScanState::csi;
                m_semanticScanParams.clear();
            } else if (byte != esc) {
                m_semanticScanState = SemanticScanState::ground;
            }
            break;
        case SemanticScanState::ground:
            if (byte == esc) {
                m_semanticScanState = SemanticScanState::escape;
            }
            break;
        }
    }
    return submitted;
}

} // namespace veldatron
