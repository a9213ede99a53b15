#include "StringEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

namespace veldatron {

namespace {

const char* converterName(StringEncoding encoding) {
    switch (encoding) {
    case StringEncoding::ascii:
        return "US-ASCII";
    case StringEncoding::utf8:
        return "UTF-8";
    case StringEncoding::isoLatin1:
        return "ISO-8859-1";
    case StringEncoding::windowsCP1252:
        return "windows-1252";
    case StringEncoding::macOSRoman:
        return "macintosh";
    case StringEncoding::utf16BigEndian:
        return "UTF-16BE";
    case StringEncoding::utf16LittleEndian:
        return "UTF-16LE";
    case StringEncoding::utf32BigEndian:
        return "UTF-32BE";
    case StringEncoding::utf32LittleEndian:
        return "UTF-32LE";
    }
    return "UTF-8";
}

} // namespace

struct StrictEncoder::Impl {
    UConverter* converter = nullptr;
    std::u16string utf16;
};

StrictEncoder::StrictEncoder(StringEncoding encoding) : m_impl(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    m_impl->converter = ucnv_open(converterName(encoding), &status);
    if (U_FAILURE(status)) {
        m_impl->converter = nullptr;
        return;
    }
    // A character the encoding lacks stops the conversion instead of becoming a substitute.
    ucnv_setFromUCallBack(m_impl->converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
}

StrictEncoder::~StrictEncoder() {
    if (m_impl->converter != nullptr) {
        ucnv_close(m_impl->converter);
    }
}

bool StrictEncoder::append(std::u32string_view text, std::vector<uint8_t>& out) {
    if (m_impl->converter == nullptr) {
        return false;
    }
    if (text.empty()) {
        return true;
    }
    std::u16string& utf16 = m_impl->utf16;
    utf16.resize(text.size() * 2);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF32(utf16.data(), int32_t(utf16.size()), &length,
                   reinterpret_cast<const UChar32*>(text.data()), int32_t(text.size()), &status);
    if (U_FAILURE(status)) {
        return false;
    }
    ucnv_resetFromUnicode(m_impl->converter);
    const size_t before = out.size();
    out.resize(before + size_t(UCNV_GET_MAX_BYTES_FOR_STRING(
                            length, ucnv_getMaxCharSize(m_impl->converter))));
    status = U_ZERO_ERROR;
    const int32_t written =
        ucnv_fromUChars(m_impl->converter, reinterpret_cast<char*>(out.data() + before),
                        int32_t(out.size() - before), utf16.data(), length, &status);
    if (U_FAILURE(status)) {
        out.resize(before);
        return false;
    }
    out.resize(before + size_t(written));
    return true;
}

} // namespace veldatron
