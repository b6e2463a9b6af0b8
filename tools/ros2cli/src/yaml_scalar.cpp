#include "ros2cli/yaml_scalar.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "ros2cli/unicode_text.hpp"

namespace ros2cli {

namespace {

bool isBreak(char32_t c) {
  return c == U'\n' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isSpaceOrBreak(char32_t c) {
  return c == U'\0' || c == U' ' || c == U'\t' || c == U'\r' || isBreak(c);
}

// Characters PyYAML writes as they are when unicode output is allowed.
bool isPrintable(char32_t c) {
  if (c == U'\n' || (c >= 0x20 && c <= 0x7E)) {
    return true;
  }
  return (c == 0x85 || (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
          (c >= 0x10000 && c < 0x10FFFF)) &&
         c != 0xFEFF;
}

struct Styles {
  bool plain = true;
  bool single_quoted = true;
};

// The scan PyYAML's emitter makes before choosing a scalar style, for block context and a value
// that is not a mapping key.
Styles analyze(const std::u32string& text) {
  Styles styles;
  if (text.empty()) {
    return styles;
  }
  bool block_indicators = false;
  bool line_breaks = false;
  bool special_characters = false;
  bool leading_space = false;
  bool leading_break = false;
  bool trailing_space = false;
  bool trailing_break = false;
  bool break_space = false;
  bool space_break = false;
  const std::u32string head = text.substr(0, 3);
  if (head == U"---" || head == U"...") {
    block_indicators = true;
  }
  bool preceded_by_whitespace = true;
  bool followed_by_whitespace = text.size() == 1 || isSpaceOrBreak(text[1]);
  bool previous_space = false;
  bool previous_break = false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char32_t ch = text[index];
    if (index == 0) {
      if (std::u32string(U"#,[]{}&*!|>'\"%@`").find(ch) != std::u32string::npos) {
        block_indicators = true;
      }
      if ((ch == U'?' || ch == U':') && followed_by_whitespace) {
        block_indicators = true;
      }
      if (ch == U'-' && followed_by_whitespace) {
        block_indicators = true;
      }
    } else {
      if (ch == U':' && followed_by_whitespace) {
        block_indicators = true;
      }
      if (ch == U'#' && preceded_by_whitespace) {
        block_indicators = true;
      }
    }
    if (isBreak(ch)) {
      line_breaks = true;
    }
    if (!isPrintable(ch)) {
      special_characters = true;
    }
    if (ch == U' ') {
      leading_space = leading_space || index == 0;
      trailing_space = trailing_space || index + 1 == text.size();
      break_space = break_space || previous_break;
      previous_space = true;
      previous_break = false;
    } else if (isBreak(ch)) {
      leading_break = leading_break || index == 0;
      trailing_break = trailing_break || index + 1 == text.size();
      space_break = space_break || previous_space;
      previous_space = false;
      previous_break = true;
    } else {
      previous_space = false;
      previous_break = false;
    }
    preceded_by_whitespace = isSpaceOrBreak(ch);
    followed_by_whitespace = index + 2 >= text.size() || isSpaceOrBreak(text[index + 2]);
  }
  if (leading_space || leading_break || trailing_space || trailing_break) {
    styles.plain = false;
  }
  if (break_space) {
    styles.plain = styles.single_quoted = false;
  }
  if (space_break || special_characters) {
    styles.plain = styles.single_quoted = false;
  }
  if (line_breaks || block_indicators) {
    styles.plain = false;
  }
  return styles;
}

std::string singleQuoted(const std::u32string& text, std::size_t indent) {
  std::u32string out = U"'";
  std::size_t i = 0;
  while (i < text.size()) {
    if (isBreak(text[i])) {
      std::size_t end = i;
      while (end < text.size() && isBreak(text[end])) {
        ++end;
      }
      // A single break inside quotes would fold into a space on reading, so the first one is
      // written twice.
      if (text[i] == U'\n') {
        out += U'\n';
      }
      out.append(text, i, end - i);
      out.append(indent, U' ');
      i = end;
    } else if (text[i] == U'\'') {
      out += U"''";
      ++i;
    } else {
      out += text[i++];
    }
  }
  out += U'\'';
  return encodeUtf8(out);
}

std::string doubleQuoted(const std::u32string& text) {
  std::string out = "\"";
  for (const char32_t ch : text) {
    const bool as_is = ch != U'"' && ch != U'\\' && ch != 0x85 && ch != 0x2028 && ch != 0x2029 &&
                       ch != 0xFEFF &&
                       ((ch >= 0x20 && ch <= 0x7E) || (ch >= 0xA0 && ch <= 0xD7FF) ||
                        (ch >= 0xE000 && ch <= 0xFFFD));
    if (as_is) {
      out += encodeUtf8(std::u32string(1, ch));
      continue;
    }
    char escape[16];
    switch (ch) {
      case 0x00:
        out += "\\0";
        continue;
      case 0x07:
        out += "\\a";
        continue;
      case 0x08:
        out += "\\b";
        continue;
      case 0x09:
        out += "\\t";
        continue;
      case 0x0A:
        out += "\\n";
        continue;
      case 0x0B:
        out += "\\v";
        continue;
      case 0x0C:
        out += "\\f";
        continue;
      case 0x0D:
        out += "\\r";
        continue;
      case 0x1B:
        out += "\\e";
        continue;
      case U'"':
        out += "\\\"";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case 0x85:
        out += "\\N";
        continue;
      case 0xA0:
        out += "\\_";
        continue;
      case 0x2028:
        out += "\\L";
        continue;
      case 0x2029:
        out += "\\P";
        continue;
      default:
        break;
    }
    if (ch <= 0xFF) {
      std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<unsigned>(ch));
    } else if (ch <= 0xFFFF) {
      std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(ch));
    } else {
      std::snprintf(escape, sizeof(escape), "\\U%08X", static_cast<unsigned>(ch));
    }
    out += escape;
  }
  out += '"';
  return out;
}

// Python's repr() of a finite double: the shortest digits that read back exactly, positional
// for decimal exponents from -4 to 15, else d.ddde+XX with at least two exponent digits.
std::string pythonRepr(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific);
  if (result.ec != std::errc()) {
    throw std::logic_error("to_chars failed on a double");
  }
  const std::string text(buffer, result.ptr);
  const std::size_t e = text.find('e');
  std::string sign;
  std::string digits;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] == '-') {
      sign = "-";
    } else if (text[i] != '.') {
      digits += text[i];
    }
  }
  const int exponent = std::atoi(text.c_str() + e + 1);
  const int point = exponent + 1;  // digits before the decimal point
  const int count = static_cast<int>(digits.size());
  if (point <= -4 || point > 16) {
    std::string mantissa = digits.substr(0, 1);
    if (count > 1) {
      mantissa += "." + digits.substr(1);
    }
    char tail[16];
    std::snprintf(tail, sizeof(tail), "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return sign + mantissa + tail;
  }
  if (point <= 0) {
    return sign + "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  }
  if (point >= count) {
    return sign + digits + std::string(static_cast<std::size_t>(point - count), '0') + ".0";
  }
  return sign + digits.substr(0, static_cast<std::size_t>(point)) + "." +
         digits.substr(static_cast<std::size_t>(point));
}

}  // namespace

std::string yamlFloat(double value) {
  if (std::isnan(value)) {
    return ".nan";
  }
  if (std::isinf(value)) {
    return value > 0 ? ".inf" : "-.inf";
  }
  std::string text = pythonRepr(value);
  const std::size_t e = text.find('e');
  if (e != std::string::npos && text.find('.') == std::string::npos) {
    text.insert(e, ".0");
  }
  return text;
}

bool resolvesAsNonString(const std::string& text) {
  // YAML 1.1's implicit types as PyYAML's resolver writes them.
  static const std::regex kImplicit(
      "(yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)"
      "|([-+]?[0-9][0-9_]*\\.[0-9_]*([eE][-+][0-9]+)?"
      "|\\.[0-9][0-9_]*([eE][-+][0-9]+)?"
      "|[-+]?[0-9][0-9_]*(:[0-5]?[0-9])+\\.[0-9_]*"
      "|[-+]?\\.(inf|Inf|INF)"
      "|\\.(nan|NaN|NAN))"
      "|([-+]?0b[0-1_]+"
      "|[-+]?0[0-7_]+"
      "|[-+]?(0|[1-9][0-9_]*)"
      "|[-+]?0x[0-9a-fA-F_]+"
      "|[-+]?[1-9][0-9_]*(:[0-5]?[0-9])+)"
      "|(~|null|Null|NULL|)"
      "|([0-9]{4}-[0-9][0-9]-[0-9][0-9]"
      "|[0-9]{4}-[0-9][0-9]?-[0-9][0-9]?([Tt]|[ \\t]+)[0-9][0-9]?:[0-9][0-9]:[0-9][0-9]"
      "(\\.[0-9]*)?([ \\t]*(Z|[-+][0-9][0-9]?(:[0-9][0-9])?))?)"
      "|<<|=|!|&|\\*");
  return std::regex_match(text, kImplicit);
}

std::string yamlString(const std::u32string& text, std::size_t indent) {
  const Styles styles = analyze(text);
  if (styles.plain && !resolvesAsNonString(encodeUtf8(text))) {
    return encodeUtf8(text);
  }
  if (styles.single_quoted) {
    return singleQuoted(text, indent);
  }
  return doubleQuoted(text);
}

}  // namespace ros2cli
