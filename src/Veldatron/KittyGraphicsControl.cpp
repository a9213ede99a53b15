#include "KittyGraphicsControl.h"

#include "TextDecoding.h"

#include <array>
#include <limits>
#include <string_view>

namespace veldatron {

namespace {

// The values of the single-letter keys, indexed by the letter; a later pair replaces an earlier
// one. Longer keys are parsed but never read, so they are not kept.
class Pairs {
public:
    void set(std::string_view key, std::string_view value) {
        if (key.size() == 1) {
            m_values[uint8_t(key[0])] = value;
        }
    }
    const std::optional<std::string_view>& operator[](char key) const {
        return m_values[uint8_t(key)];
    }

private:
    std::array<std::optional<std::string_view>, 128> m_values;
};

int64_t signedField(const Pairs& pairs, char key, int64_t fallback) {
    if (const auto& value = pairs[key]) {
        return TextDecoding::parseInteger(*value).value_or(fallback);
    }
    return fallback;
}

// Unsigned 32-bit: an optional "+", or "-" before zeros only (which reads as 0), then digits.
std::optional<uint32_t> unsignedField(const Pairs& pairs, char key) {
    const auto& value = pairs[key];
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::string_view digits = *value;
    bool negative = false;
    if (digits[0] == '+' || digits[0] == '-') {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    uint64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + uint64_t(c - '0');
        if (n > std::numeric_limits<uint32_t>::max()) {
            return std::nullopt;
        }
    }
    if (negative && n != 0) {
        return std::nullopt;
    }
    return uint32_t(n);
}

std::optional<char> characterField(const Pairs& pairs, char key) {
    const auto& value = pairs[key];
    if (!value || value->empty()) {
        return std::nullopt;
    }
    return (*value)[0];
}

} // namespace

KittyGraphicsCommand parseKittyGraphicsControl(std::span<const uint8_t> bytes) {
    const std::string_view text = TextDecoding::textOf(bytes);
    const size_t semicolon = text.find(';');
    const std::string_view controlPart = text.substr(0, semicolon);

    Pairs pairs;
    for (const std::string_view segment : TextDecoding::split(controlPart, ',')) {
        const size_t equals = segment.find('=');
        if (segment.empty() || equals == std::string_view::npos ||
            !TextDecoding::isAscii(TextDecoding::bytesOf(segment))) {
            continue;
        }
        pairs.set(segment.substr(0, equals), segment.substr(equals + 1));
    }

    KittyGraphicsCommand command;
    KittyGraphicsControl& c = command.control;
    c.action = characterField(pairs, 'a').value_or('t');
    c.suppressResponses = signedField(pairs, 'q', 0);
    c.format = signedField(pairs, 'f', 32);
    c.transmission = characterField(pairs, 't').value_or('d');
    c.width = signedField(pairs, 's', 0);
    c.height = signedField(pairs, 'v', 0);
    c.cropX = signedField(pairs, 'x', 0);
    c.cropY = signedField(pairs, 'y', 0);
    c.cropWidth = signedField(pairs, 'w', 0);
    c.cropHeight = signedField(pairs, 'h', 0);
    c.dataSize = signedField(pairs, 'S', 0);
    c.dataOffset = signedField(pairs, 'O', 0);
    c.imageId = unsignedField(pairs, 'i');
    c.imageNumber = unsignedField(pairs, 'I');
    c.placementId = unsignedField(pairs, 'p');
    c.parentImageId = unsignedField(pairs, 'P');
    c.parentPlacementId = unsignedField(pairs, 'Q');
    c.offsetH = signedField(pairs, 'H', 0);
    c.offsetV = signedField(pairs, 'V', 0);
    c.pixelOffsetX = signedField(pairs, 'X', 0);
    c.pixelOffsetY = signedField(pairs, 'Y', 0);
    c.unicodePlaceholder = signedField(pairs, 'U', 0);
    c.zIndex = signedField(pairs, 'z', 0);
    // Files and shared memory arrive whole; only direct data comes in chunks.
    c.more = c.transmission == 'd' ? signedField(pairs, 'm', 0) : 0;
    c.compression = characterField(pairs, 'o');
    c.columns = signedField(pairs, 'c', 0);
    c.rows = signedField(pairs, 'r', 0);
    c.cursorPolicy = signedField(pairs, 'C', 0);
    c.deleteMode = characterField(pairs, 'd');

    if (semicolon != std::string_view::npos) {
        command.payload = bytes.subspan(semicolon + 1);
    }
    return command;
}

} // namespace veldatron
