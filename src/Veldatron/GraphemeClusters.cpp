#include "GraphemeClusters.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace veldatron {

namespace {

icu::UnicodeString toUnicodeString(std::u32string_view text) {
    return icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(text.data()),
                                         int32_t(text.size()));
}

std::u32string toUtf32(const icu::UnicodeString& text) {
    std::u32string out(size_t(text.countChar32()), U'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n =
        text.toUTF32(reinterpret_cast<UChar32*>(out.data()), int32_t(out.size()), status);
    out.resize(U_SUCCESS(status) ? size_t(std::max(n, 0)) : 0);
    return out;
}

} // namespace

struct GraphemeClusters::Impl {
    std::unique_ptr<icu::BreakIterator> iterator;
    // The iterator keeps a reference to the text it segments.
    icu::UnicodeString text;

    // UTF-16 offset of the end of the first cluster of `text`, or -1 without an iterator.
    int32_t firstBoundary(std::u32string_view utf32) {
        if (!iterator) {
            return -1;
        }
        text = toUnicodeString(utf32);
        iterator->setText(text);
        iterator->first();
        const int32_t boundary = iterator->next();
        return boundary == icu::BreakIterator::DONE ? text.length() : boundary;
    }
};

GraphemeClusters::GraphemeClusters() : m_impl(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    m_impl->iterator.reset(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        m_impl->iterator.reset();
    }
}

GraphemeClusters::~GraphemeClusters() = default;

bool GraphemeClusters::isSingleCluster(std::u32string_view text) {
    if (text.size() <= 1) {
        return text.size() == 1;
    }
    const int32_t boundary = m_impl->firstBoundary(text);
    // Without ICU data nothing joins: every scalar stays a cell of its own.
    return boundary >= 0 && boundary == m_impl->text.length();
}

std::u32string_view GraphemeClusters::firstCluster(std::u32string_view text) {
    if (text.size() <= 1) {
        return text;
    }
    const int32_t boundary = m_impl->firstBoundary(text);
    if (boundary < 0) {
        return text.substr(0, 1);
    }
    return text.substr(0, size_t(m_impl->text.countChar32(0, boundary)));
}

std::u32string GraphemeClusters::nfc(std::u32string_view text) {
    // Text below U+0300 holds no combining mark, so it is composed already; most clusters the
    // terminal sees (emoji, flags) compose to themselves as well, which the quick check finds.
    if (std::all_of(text.begin(), text.end(), [](char32_t c) { return c < 0x300; })) {
        return std::u32string(text);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
        return std::u32string(text);
    }
    const icu::UnicodeString source = toUnicodeString(text);
    if (normalizer->isNormalized(source, status) && U_SUCCESS(status)) {
        return std::u32string(text);
    }
    status = U_ZERO_ERROR;
    const icu::UnicodeString composed = normalizer->normalize(source, status);
    if (U_FAILURE(status)) {
        return std::u32string(text);
    }
    return toUtf32(composed);
}

} // namespace veldatron
