// Conversions between the encodings that messages carry (UTF-8 strings, UTF-16 wstrings) and code
// points, which is what YAML quoting rules are written in.
#pragma once

#include <string>

namespace ros2cli {

// Invalid or truncated sequences decode as U+FFFD, as a lenient UTF-8 decoder replaces them.
std::u32string decodeUtf8(const std::string& text);
// Unpaired surrogates decode as U+FFFD.
std::u32string decodeUtf16(const std::u16string& text);
std::string encodeUtf8(const std::u32string& text);
std::u16string encodeUtf16(const std::u32string& text);

}  // namespace ros2cli
