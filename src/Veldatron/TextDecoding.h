#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Strict readings of program-supplied bytes: text that must be UTF-8 or ASCII, decimal numbers
// with an optional sign, and Base64. Each answers none for anything it does not accept, never a
// repaired or truncated value.
namespace veldatron::TextDecoding {

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool isValidUtf8(std::span<const uint8_t> bytes);
bool isValidUtf8(std::string_view text);
// Whether every byte is below 0x80.
bool isAscii(std::span<const uint8_t> bytes);

// The bytes as text when they are valid UTF-8 (or ASCII).
std::optional<std::string> utf8(std::span<const uint8_t> bytes);
std::optional<std::string> ascii(std::span<const uint8_t> bytes);

// A decimal integer with an optional leading "+" or "-" and at least one digit, nothing else; none
// for anything else and for a value outside the 64-bit range.
std::optional<int64_t> parseInteger(std::string_view text);

// Splits at every `separator`, empty pieces kept ("a;;b" gives "a", "", "b"; "" gives one empty
// piece).
std::vector<std::string_view> split(std::string_view text, char separator);

// Base64 in the standard alphabet with "=" padding and no line breaks.
std::string base64Encode(std::span<const uint8_t> bytes);
// The decoded bytes, or none unless the text is made of whole four-character groups of the
// standard alphabet, padded with one or two "=" at the very end only.
std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text);
// Base64 that skips every byte outside the alphabet (line breaks, blanks). The padding may be left
// out; when present it ends its group, and more groups may follow (texts encoded piece by piece
// and joined). None for a group of a single symbol, or padding that ends no group.
std::optional<std::vector<uint8_t>> base64DecodeSkippingUnknown(std::span<const uint8_t> text);

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}
inline std::string_view textOf(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace veldatron::TextDecoding
