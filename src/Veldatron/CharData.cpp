#include "CharData.h"

#include "UnicodeUtil.h"

namespace veldatron {

std::string CharData::debugDescription() const {
    std::string out = "CharData: " + std::to_string(code()) + " ";
    const int32_t c = code();
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        out += "?";
    } else {
        UnicodeUtil::appendUtf8(out, char32_t(c));
    }
    return out;
}

} // namespace veldatron
