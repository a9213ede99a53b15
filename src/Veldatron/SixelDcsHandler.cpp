#include "SixelDcsHandler.h"

#include "Saturating.h"
#include "Terminal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace veldatron {

namespace {

constexpr uint8_t pound = '#';
// Numbers saturate here: far beyond any side or register that means anything, far below overflow.
constexpr int64_t maxNumber = int64_t(1) << 40;

bool isDigit(uint8_t b) {
    return b >= '0' && b <= '9';
}

// The digits from `at`: their value (saturated) and where they end.
int64_t readNumber(const std::vector<uint8_t>& data, size_t& at) {
    int64_t value = 0;
    while (at < data.size() && isDigit(data[at])) {
        value = std::min(value * 10 + (data[at] - '0'), maxNumber);
        ++at;
    }
    return value;
}

uint8_t percentToByte(int64_t percent) {
    return uint8_t(std::clamp<int64_t>(percent, 0, 100) * 255 / 100);
}

} // namespace

void SixelDcsHandler::hook(std::span<const uint8_t>, const ParserParams&, uint8_t) {
    m_data.clear();
}

void SixelDcsHandler::put(std::span<const uint8_t> data) {
    m_data.insert(m_data.end(), data.begin(), data.end());
}

void SixelDcsHandler::unhook() {
    m_palette.clear();
    pass(false);
    // Painting costs at most a few times the picture's area (real pictures paint each pixel
    // about once), however often hostile data paints over the same pixels.
    m_paintBudget = Saturating::add(Saturating::multiply(m_maxX * m_maxY, 4), 1 << 20);
    m_pixels.assign(size_t(m_maxX * m_maxY * 4), 0);
    pass(true);
    std::vector<uint8_t> data;
    m_data.swap(data);
    std::vector<uint8_t> pixels;
    m_pixels.swap(pixels);
    m_terminal.tell([&](TerminalDelegate& d) {
        d.createImageFromBitmap(m_terminal, pixels, int(m_maxX), int(m_maxY));
    });
}

void SixelDcsHandler::pass(bool paint) {
    m_x = 0;
    m_y = 0;
    if (!paint) {
        m_maxX = 0;
        m_maxY = 0;
    }
    const std::vector<uint8_t>& data = m_data;
    size_t at = std::find(data.begin(), data.end(), pound) - data.begin();
    int64_t repeat = 1;
    m_colour = 0;
    while (at < data.size()) {
        const uint8_t b = data[at];
        if (b == pound) {
            if (!colourCommand(at, paint)) {
                break;
            }
            continue;
        }
        ++at;
        if (b == '!') {
            if (at < data.size() && isDigit(data[at])) {
                const int64_t count = readNumber(data, at);
                // A count whose digits reach the end of the data is not set.
                if (at < data.size()) {
                    repeat = count;
                }
            }
        } else if (b == '$' || b == '-') {
            if (!paint) {
                m_maxX = std::max(m_maxX, m_x);
            }
            m_x = 0;
            if (b == '-') {
                m_y = std::min(m_y + 6, maxSide);
            }
        } else if (b >= '?' && b <= '~') {
            if (repeat > 0) {
                sixel(uint8_t(b - '?'), repeat, paint);
            }
            repeat = 1;
        }
    }
    if (!paint) {
        m_maxX = std::max(m_maxX, m_x);
    }
}

bool SixelDcsHandler::colourCommand(size_t& at, bool paint) {
    const std::vector<uint8_t>& data = m_data;
    ++at;
    std::vector<int64_t> numbers;
    while (at < data.size()) {
        size_t next = at;
        if (data[next] == ';') {
            ++next;
        }
        if (next >= data.size() || !isDigit(data[next])) {
            break;
        }
        const int64_t value = readNumber(data, next);
        at = next;
        if (at >= data.size()) {
            break; // the digits reach the end: the number is dropped
        }
        numbers.push_back(value);
    }
    if (numbers.empty()) {
        return false;
    }
    if (paint) {
        if (numbers.size() >= 5) {
            updatePaletteEntry(numbers);
        }
        m_colour = registerColour(numbers[0]);
    }
    return true;
}

void SixelDcsHandler::updatePaletteEntry(const std::vector<int64_t>& numbers) {
    const int64_t reg = numbers[0];
    if (numbers[1] == 2) {
        m_palette[reg] = uint32_t(percentToByte(numbers[2])) << 24 |
                         uint32_t(percentToByte(numbers[3])) << 16 |
                         uint32_t(percentToByte(numbers[4])) << 8 | 255;
    } else if (numbers[1] == 1) {
        m_palette[reg] = hls_to_rgb(std::clamp<int64_t>(numbers[2], 0, 360),
                                    std::clamp<int64_t>(numbers[3], 0, 100),
                                    std::clamp<int64_t>(numbers[4], 0, 100))
                             << 8 |
                         255;
    }
}

uint32_t SixelDcsHandler::registerColour(int64_t reg) const {
    if (const auto entry = m_palette.find(reg); entry != m_palette.end()) {
        return entry->second;
    }
    const std::vector<Color>& defaults = m_terminal.defaultAnsiColors();
    if (reg >= 0 && reg < int64_t(defaults.size())) {
        const Color& c = defaults[size_t(reg)];
        return uint32_t(c.red >> 8) << 24 | uint32_t(c.green >> 8) << 16 |
               uint32_t(c.blue >> 8) << 8 | 255;
    }
    return 0; // transparent
}

void SixelDcsHandler::sixel(uint8_t bits, int64_t count, bool paint) {
    // Repeats end at the right edge of the largest picture.
    count = std::min(count, maxSide - m_x);
    if (count <= 0) {
        return;
    }
    if (!paint) {
        for (int k = 5; k >= 0; --k) {
            if (bits & (1 << k)) {
                m_maxY = std::max(m_maxY, std::min(m_y + k + 1, maxSide));
                break;
            }
        }
        m_x += count;
        return;
    }
    const int64_t width = std::min(count, m_maxX - m_x);
    if (width > 0 && bits != 0 && m_paintBudget > 0) {
        const uint8_t colour[4] = {uint8_t(m_colour >> 24), uint8_t(m_colour >> 16),
                                   uint8_t(m_colour >> 8), uint8_t(m_colour)};
        for (int k = 0; k < 6; ++k) {
            const int64_t row = m_y + k;
            if (!(bits & (1 << k)) || row >= m_maxY) {
                continue;
            }
            uint8_t* p = m_pixels.data() + size_t((row * m_maxX + m_x) * 4);
            for (int64_t i = 0; i < width; ++i, p += 4) {
                std::memcpy(p, colour, 4);
            }
            m_paintBudget -= width;
        }
    }
    m_x += count;
}

uint32_t SixelDcsHandler::hls_to_rgb(int64_t hue, int64_t lum, int64_t sat) {
    const auto channel = [](double percent) {
        return uint32_t(percentToByte(std::clamp<int64_t>(int64_t(percent), 0, 100)));
    };
    if (sat == 0) {
        const uint32_t grey = channel(double(lum));
        return grey << 16 | grey << 8 | grey;
    }
    // Sixel hues start at blue: 0 degrees is blue, 120 red, 240 green.
    const double h = double((hue + 240) % 360);
    const int sector = int(h / 60);
    const double l = double(lum);
    const double c = (1 - std::fabs(2 * l / 100 - 1)) * double(sat);
    const double max = l + c / 2;
    const double min = l - c / 2;
    double r = 0;
    double g = 0;
    double b = 0;
    switch (sector) {
    case 0:
        r = max, g = min + (max - min) * h / 60, b = min;
        break;
    case 1:
        r = min + (max - min) * (120 - h) / 60, g = max, b = min;
        break;
    case 2:
        r = min, g = max, b = min + (max - min) * (h - 120) / 60;
        break;
    case 3:
        r = min, g = min + (max - min) * (240 - h) / 60, b = max;
        break;
    case 4:
        r = min + (max - min) * (h - 240) / 60, g = min, b = max;
        break;
    default:
        r = max, g = min, b = min + (max - min) * (360 - h) / 60;
        break;
    }
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

} // namespace veldatron
