#include "TextDecoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using TextDecoding::bytesOf;

TEST(TextDecoding, Utf8IsCheckedStrictly) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain", true},
        {"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", true},
        {"\xc3", false},             // truncated
        {"\xc3\x41", false},         // continuation missing
        {"\xc0\xaf", false},         // overlong
        {"\xe0\x80\xaf", false},     // overlong
        {"\xed\xa0\x80", false},     // surrogate
        {"\xf4\x90\x80\x80", false}, // above U+10FFFF
        {"\x80", false},             // lone continuation
        {"\xef\xbf\xbf", true},      // U+FFFF
        {"\xf4\x8f\xbf\xbf", true},  // U+10FFFF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(TextDecoding::isValidUtf8(c.bytes), c.valid);
    }
    EXPECT_EQ(TextDecoding::ascii(bytesOf("a\xc3\xa4")), std::nullopt);
    EXPECT_EQ(TextDecoding::ascii(bytesOf("abc")), "abc");
}

TEST(TextDecoding, IntegersTakeAnOptionalSign) {
    struct Case {
        std::string text;
        std::optional<int64_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"+5", 5},
        {"-1", -1},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"1.5", std::nullopt},
        {" 1", std::nullopt},
        {"1x", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TextDecoding::parseInteger(c.text), c.value);
    }
}

TEST(TextDecoding, Base64RoundTripsAndRejectsAnythingLoose) {
    for (const std::string& text :
         std::vector<std::string>{"", "h", "hi", "hey", "hello", std::string("\0\xff\x10", 3)}) {
        SCOPED_TRACE(text);
        const std::string encoded = TextDecoding::base64Encode(bytesOf(text));
        const auto decoded = TextDecoding::base64Decode(bytesOf(encoded));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), text);
    }
    EXPECT_EQ(TextDecoding::base64Encode(bytesOf("hello")), "aGVsbG8=");
    for (const char* bad : {"aGk", "aGk=\n", "a Gk=", "aG=k", "====", "a===", "aGk=aGk=", "aGk*"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(TextDecoding::base64Decode(bytesOf(bad)), std::nullopt);
    }
}

TEST(TextDecoding, SplitKeepsEmptyPieces) {
    EXPECT_EQ(TextDecoding::split("a;;b;", ';'), (std::vector<std::string_view>{"a", "", "b", ""}));
    EXPECT_EQ(TextDecoding::split("", ';'), (std::vector<std::string_view>{""}));
}
