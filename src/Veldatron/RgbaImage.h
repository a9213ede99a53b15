#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veldatron {

// A decoded bitmap as it crosses from the terminal to its host and renderers: 8-bit red, green,
// blue and alpha per pixel, rows top to bottom, packed without gaps. Alpha is straight (colours
// are not multiplied by it): a renderer that blends premultiplied converts when it uploads.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes; // width * height * 4

    size_t byteCount() const { return size_t(width) * size_t(height) * 4; }
    bool isValid() const { return width > 0 && height > 0 && bytes.size() == byteCount(); }

    friend bool operator==(const RgbaImage&, const RgbaImage&) = default;
};

} // namespace veldatron
