#pragma once

#include <string>
#include <string_view>

// Malformed input (lone surrogates, invalid UTF-8 bytes) becomes U+FFFD, so
// text from files and devices can never make a conversion fail.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
