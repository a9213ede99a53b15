#include "TextDecoding.h"

#include "UnicodeUtil.h"

#include <array>
#include <limits>

namespace veldatron::TextDecoding {

bool isValidUtf8(std::span<const uint8_t> bytes) {
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // The lead-byte table names the length and the range the second byte must fall in;
        // that range is what excludes overlong forms, surrogates and values above U+10FFFF.
        const uint8_t entry = UnicodeUtil::first[b];
        if (entry == 0xF1) {
            return false;
        }
        const size_t length = entry & 0x0F;
        if (n - i < length) {
            return false;
        }
        static constexpr std::array<std::pair<uint8_t, uint8_t>, 5> secondRange = {{
            {0x80, 0xBF},
            {0xA0, 0xBF},
            {0x80, 0x9F},
            {0x90, 0xBF},
            {0x80, 0x8F},
        }};
        const auto [low, high] = secondRange[entry >> 4];
        if (bytes[i + 1] < low || bytes[i + 1] > high) {
            return false;
        }
        for (size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool isValidUtf8(std::string_view text) {
    return isValidUtf8(bytesOf(text));
}

bool isAscii(std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        if (b >= 0x80) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> utf8(std::span<const uint8_t> bytes) {
    if (!isValidUtf8(bytes)) {
        return std::nullopt;
    }
    return std::string(textOf(bytes));
}

std::optional<std::string> ascii(std::span<const uint8_t> bytes) {
    if (!isAscii(bytes)) {
        return std::nullopt;
    }
    return std::string(textOf(bytes));
}

std::optional<int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulated as a negative number, whose range is one larger.
    constexpr int64_t minimum = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        if (value < (minimum + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == minimum) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte in the alphabet, 0xFF for every other byte.
constexpr std::array<uint8_t, 256> values = [] {
    std::array<uint8_t, 256> table{};
    table.fill(0xFF);
    for (uint8_t i = 0; i < 64; ++i) {
        table[uint8_t(alphabet[i])] = i;
    }
    return table;
}();

} // namespace

std::string base64Encode(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (rest == 2) {
            v |= uint32_t(bytes[i + 1]) << 8;
        }
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    const size_t dataLength = text.size() - padding;
    uint32_t accumulator = 0;
    int bits = 0;
    for (size_t i = 0; i < dataLength; ++i) {
        const uint8_t v = values[text[i]];
        if (v == 0xFF) {
            return std::nullopt;
        }
        accumulator = (accumulator << 6 | v) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(accumulator >> bits));
        }
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64DecodeSkippingUnknown(std::span<const uint8_t> text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t accumulator = 0;
    int bits = 0;
    size_t symbols = 0; // in the current group of four
    bool padding = false;
    for (const uint8_t b : text) {
        if (b == '=') {
            // Padding ends a group of two or three symbols; the bits left over are no byte.
            if (symbols == 1 || (symbols == 0 && !padding)) {
                return std::nullopt;
            }
            padding = true;
            symbols = 0;
            bits = 0;
            continue;
        }
        const uint8_t v = values[b];
        if (v == 0xFF) {
            continue;
        }
        padding = false;
        symbols = (symbols + 1) % 4;
        accumulator = (accumulator << 6 | v) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(accumulator >> bits));
        }
    }
    // One symbol alone carries no whole byte.
    if (symbols == 1) {
        return std::nullopt;
    }
    return out;
}

} // namespace veldatron::TextDecoding
