#include "Terminal.h"

#include <algorithm>
#include <string>

namespace veldatron {

namespace {

// Button-code bits: the low two bits and the motion bit together tell a release (3) apart from
// a motion report with button 3 (35).
constexpr int releaseCode = 3;
constexpr int releaseMask = 0x23;
constexpr int motionBit = 32;

} // namespace

int Terminal::encodeButton(int button, bool release, bool shift, bool meta, bool control) const {
    int value = 0;
    if (release) {
        value = releaseCode;
    } else {
        switch (button) {
        case 1:
            value = 1;
            break;
        case 2:
            value = 2;
            break;
        case 4:
            value = 64;
            break;
        case 5:
            value = 65;
            break;
        default:
            // Button 3, button 0 and any other number.
            value = 0;
            break;
        }
    }
    if (sendsModifiers(m_mouseMode)) {
        value |= (shift ? 4 : 0) | (meta ? 8 : 0) | (control ? 16 : 0);
    }
    return value;
}

void Terminal::encodeMouseUtf(std::string& data, int value) {
    // The value 2047 is sent as the single byte 0x00; larger values are capped at 2047's
    // two-byte form, so no value takes more than two bytes.
    if (value == 2047) {
        data.push_back('\0');
        return;
    }
    if (value >= 0 && value < 127) {
        data.push_back(char(value));
        return;
    }
    const int capped = std::clamp(value, 0, 2047);
    data.push_back(char(0xC0 | (capped >> 6)));
    data.push_back(char(0x80 | (capped & 0x3F)));
}

void Terminal::sendEvent(int buttonFlags, int x, int y, int pixelX, int pixelY) {
    // Values reach the sums below as 64-bit numbers: a huge coordinate saturates instead of
    // overflowing.
    const int64_t flags = std::max(buttonFlags, 0);
    const int64_t col = std::max(x, 0);
    const int64_t row = std::max(y, 0);
    std::string report(m_cc.csi());
    const auto number = [&](int64_t value) { report += std::to_string(value); };
    const auto sgrForm = [&](int64_t first, int64_t second) {
        const bool isRelease = (flags & releaseMask) == releaseCode;
        report += '<';
        number(isRelease ? flags & ~int64_t(releaseMask) : flags);
        report += ';';
        number(first);
        report += ';';
        number(second);
        report += isRelease ? 'm' : 'M';
    };
    switch (m_mouseProtocol) {
    case MouseProtocolEncoding::x10:
        report += 'M';
        for (const int64_t value : {flags + 32, col + 33, row + 33}) {
            report.push_back(char(uint8_t(std::min<int64_t>(value, 255))));
        }
        break;
    case MouseProtocolEncoding::utf8:
        report += 'M';
        for (const int64_t value : {flags + 32, col + 33, row + 33}) {
            encodeMouseUtf(report, int(std::min<int64_t>(value, 2048)));
        }
        break;
    case MouseProtocolEncoding::sgr:
        sgrForm(col + 1, row + 1);
        break;
    case MouseProtocolEncoding::urxvt:
        number(flags + 32);
        report += ';';
        number(col + 1);
        report += ';';
        number(row + 1);
        report += 'M';
        break;
    case MouseProtocolEncoding::sgrPixel:
        sgrForm(std::max(pixelX, 0), std::max(pixelY, 0));
        break;
    }
    sendResponse(std::string_view(report));
}

void Terminal::sendMotion(int buttonFlags, int x, int y, int pixelX, int pixelY) {
    sendEvent(int(std::min<int64_t>(int64_t(buttonFlags) + motionBit, INT_MAX)), x, y, pixelX,
              pixelY);
}

} // namespace veldatron
