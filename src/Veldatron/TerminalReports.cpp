#include "Terminal.h"

#include <algorithm>
#include <cstdio>
#include <string>

#ifndef VELDATRON_VERSION_TAG
#define VELDATRON_VERSION_TAG "v0.0.0"
#endif

namespace veldatron {

namespace {

// The XTVERSION identity's inputs: the release tag, and the build version (the same tag here).
constexpr std::string_view versionTag = VELDATRON_VERSION_TAG;

bool collectIs(std::span<const uint8_t> collect, uint8_t byte) {
    return collect.size() == 1 && collect[0] == byte;
}

std::string printableAscii(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (uint8_t(c) >= 0x20 && uint8_t(c) <= 0x7E) {
            out += c;
        }
    }
    return out;
}

} // namespace

// ---- The reply path -------------------------------------------------------------------------

void Terminal::sendResponse(std::span<const uint8_t> bytes) {
    tell([&](TerminalDelegate& d) { d.send(*this, bytes); });
}

void Terminal::sendResponse(std::string_view text) {
    sendResponse(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// ---- Device status and attributes -----------------------------------------------------------

void Terminal::cmdDeviceStatus(const ParserParams& pars, std::span<const uint8_t> collect) {
    const Buffer& buffer = *m_buffer;
    // A cursor waiting to wrap stands one column past the right limit; the program sees it on
    // the column it just wrote, as it would without the deferred wrap.
    const int rightLimit = m_marginMode ? buffer.marginRight() : m_cols - 1;
    const int x = std::min(buffer.x() == rightLimit + 1 ? rightLimit : buffer.x(), m_cols - 1);
    // The position as the program addresses it: relative to the region and margins in origin
    // mode.
    const int row = buffer.y() + 1 - (m_originMode ? buffer.scrollTop() : 0);
    const int col = x + 1 - (m_originMode && m_marginMode ? buffer.marginLeft() : 0);
    if (collect.empty()) {
        switch (pars[0]) {
        case 5:
            sendResponse(m_cc.csi(), "0n");
            break;
        case 6:
            sendResponse(m_cc.csi(), std::to_string(std::max(row, 1)), ";",
                         std::to_string(std::max(col, 1)), "R");
            break;
        default:
            break;
        }
        return;
    }
    if (!collectIs(collect, '?')) {
        return;
    }
    switch (pars[0]) {
    case 6:
        sendResponse(m_cc.csi(), "?", std::to_string(row), ";", std::to_string(std::max(col, 1)),
                     ";1R");
        break;
    case 15:
        sendResponse(m_cc.csi(), "?10n");
        break;
    case 25:
        sendResponse(m_cc.csi(), "?21n");
        break;
    case 26:
        sendResponse(m_cc.csi(), "?27;1;0;0n");
        break;
    case 55:
        sendResponse(m_cc.csi(), "?53n");
        break;
    case 56:
        sendResponse(m_cc.csi(), "?57;1n");
        break;
    case 62:
        sendResponse(m_cc.csi(), "0*{");
        break;
    case 63:
        sendResponse(m_cc.dcs(), std::to_string(pars[1]), "!~0000", m_cc.st());
        break;
    case 75:
        sendResponse(m_cc.csi(), "?70n");
        break;
    case 85:
        sendResponse(m_cc.csi(), "?83n");
        break;
    default:
        break;
    }
}

void Terminal::cmdSendDeviceAttributes(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (pars[0] >= 1) {
        logInfo("SendDeviceAttributes got " + listText(pars.values()) + " and " +
                std::string(collect.begin(), collect.end()));
        return;
    }
    if (collectIs(collect, '>')) {
        sendResponse(m_cc.csi(), ">65;20;1c");
        return;
    }
    if (!collect.empty()) {
        return;
    }
    const std::string_view name = m_options.termName;
    if (name.starts_with("xterm")) {
        sendResponse(m_cc.csi(), m_options.enableSixelReported ? "?65;4;1;2;6;21;22;17;28c"
                                                               : "?65;1;2;6;21;22;17;28c");
    } else if (name.starts_with("screen") || name.starts_with("rxvt-unicode")) {
        sendResponse(m_cc.csi(), "?1;2c");
    } else if (name.starts_with("linux")) {
        sendResponse(m_cc.csi(), "?6c");
    }
}

// ---- Rectangle checksum ---------------------------------------------------------------------

// A program can ask for the checksum of the whole screen in a few bytes, as often as it likes: no
// cell's text is built, and a row of characters below the surrogates (nearly every row) is added
// up without a branch per cell.
uint32_t Terminal::checksumOf(std::span<const CharData> cells) const {
    uint32_t sum = 0;
    uint32_t other = 0;
    for (const CharData& cell : cells) {
        const auto code = uint32_t(cell.code());
        sum += code == 0 ? 32 : code;
        other |= uint32_t(code >= 0xD800);
    }
    if (other == 0) {
        return sum;
    }
    sum = 0;
    for (const CharData& cell : cells) {
        sum += checksumOf(cell);
    }
    return sum;
}

uint32_t Terminal::checksumOf(const CharData& cell) const {
    const int32_t code = cell.code();
    if (code == 0) {
        return 32;
    }
    if (code < CharData::firstInternedCode) {
        return uint32_t(cell.getCharacter());
    }
    const InternedCluster* cluster = interned(code);
    if (cluster == nullptr) {
        return uint32_t(U' ');
    }
    uint32_t sum = 0;
    for (char32_t scalar : cluster->text) {
        sum += uint32_t(scalar);
    }
    return sum;
}

void Terminal::cmdDECRQCRA(const ParserParams& pars) {
    uint32_t sum = 0;
    const bool trusted = pars.size() >= 3 && ask([&](TerminalDelegate& d) {
                                                 return d.isProcessTrusted(*this);
                                             }).value_or(false);
    if (trusted) {
        if (const std::optional<Rectangle> rect =
                getRectangleFromRequest(pars.values().subspan(2))) {
            Buffer& buffer = *m_buffer;
            for (int row = rect->top; row <= rect->bottom; ++row) {
                const BufferLine& line = buffer.lines()[buffer.yBase() + row];
                if (line.count() > rect->right) {
                    sum += checksumOf(line.cells().subspan(size_t(rect->left),
                                                           size_t(rect->right - rect->left + 1)));
                    continue;
                }
                // A row shorter than the screen reads as its last cell past its end.
                for (int col = rect->left; col <= rect->right; ++col) {
                    sum += checksumOf(line[col]);
                }
            }
        }
    }
    // Four digits: the low 16 bits of the sum (a screen of 'z' would otherwise need five).
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", unsigned(sum & 0xFFFF));
    sendResponse(m_cc.dcs(), std::to_string(pars.valueOr(0, 1)), "!~", digits, m_cc.st());
}

// ---- Version ------------------------------------------------------------------------------------

std::string Terminal::xtVersionIdentity(std::optional<std::string_view> tag,
                                        std::optional<std::string_view> branch,
                                        std::optional<std::string_view> version) {
    std::string identity = "Veldatron";
    if (tag) {
        std::string text = printableAscii(*tag);
        if (text.starts_with('v')) {
            text.erase(0, 1);
        }
        if (!text.empty()) {
            identity += ' ';
            identity += text;
        }
    }
    if (branch) {
        const std::string text = printableAscii(*branch);
        if (!text.empty()) {
            identity += '-';
            identity += text;
        }
    }
    if (version) {
        const std::string text = printableAscii(*version);
        if (!text.empty() && text != "unknown") {
            identity += '+';
            identity += text;
        }
    }
    identity += ':';
    if (identity.size() > 256) {
        identity.resize(255);
        identity += ':';
    }
    return identity;
}

void Terminal::cmdXTVERSION(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collectIs(collect, '>') || pars.size() != 1 || pars[0] != 0) {
        return;
    }
    // Always 7-bit, whatever the reply framing says.
    sendResponse("\x1bP>|", xtVersionIdentity(versionTag, std::nullopt, versionTag), "\x1b\\");
}

} // namespace veldatron
