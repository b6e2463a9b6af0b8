#include "ros2cli/unicode_text.hpp"

namespace ros2cli {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::u32string decodeUtf8(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t point = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out += lead;
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, point = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, point = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, point = lead & 0x07, minimum = 0x10000;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    std::size_t used = 1;
    while (used < length && i + used < text.size() &&
           (static_cast<unsigned char>(text[i + used]) & 0xC0) == 0x80) {
      point = (point << 6) | (static_cast<unsigned char>(text[i + used]) & 0x3F);
      ++used;
    }
    // Overlong forms and surrogates are not characters; refusing them keeps one text, one form.
    if (used < length || point < minimum || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF)) {
      out += kReplacement;
    } else {
      out += point;
    }
    i += used;
  }
  return out;
}

std::u32string decodeUtf16(const std::u16string& text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out += 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += kReplacement;
    } else {
      out += unit;
    }
  }
  return out;
}

std::string encodeUtf8(const std::u32string& text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t point : text) {
    if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      point = kReplacement;
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | (point >> 6));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | (point >> 12));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (point >> 18));
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return out;
}

std::u16string encodeUtf16(const std::u32string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char32_t point : text) {
    if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      point = kReplacement;
    }
    if (point < 0x10000) {
      out += static_cast<char16_t>(point);
    } else {
      point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (point >> 10));
      out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    }
  }
  return out;
}

}  // namespace ros2cli
