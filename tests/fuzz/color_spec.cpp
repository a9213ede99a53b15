// X11 colour specifications arrive from programs in OSC 4, 10, 11 and 12. Any bytes must parse
// without a fault, and whatever the strict reader accepts the lenient one reads the same way.
#include "Color.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const auto lenient = veldatron::Color::parseColor(bytes);
    const auto strict =
        veldatron::Color::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (strict && strict != lenient) {
        std::abort();
    }
    if (lenient) {
        // Every colour formats to a spec that reads back as itself.
        const std::string text = lenient->formatAsXcolor();
        if (veldatron::Color::parse(text) != lenient) {
            std::abort();
        }
    }
    return 0;
}
