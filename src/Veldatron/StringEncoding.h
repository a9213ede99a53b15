#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace veldatron {

// The character encodings a host can ask screen text in.
enum class StringEncoding : uint8_t {
    ascii,
    utf8,
    isoLatin1,
    windowsCP1252,
    macOSRoman,
    utf16BigEndian,
    utf16LittleEndian,
    utf32BigEndian,
    utf32LittleEndian,
};

// Encodes text without loss: a text holding a character the encoding cannot represent is refused
// whole, never written with substitutes. No byte-order mark is written. Keeps one converter, so
// an instance belongs to one thread.
class StrictEncoder {
public:
    explicit StrictEncoder(StringEncoding encoding);
    ~StrictEncoder();
    StrictEncoder(const StrictEncoder&) = delete;
    StrictEncoder& operator=(const StrictEncoder&) = delete;

    // Appends the encoded text to `out` and answers true; answers false and leaves `out` as it
    // was when the text cannot be encoded.
    bool append(std::u32string_view text, std::vector<uint8_t>& out);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace veldatron
