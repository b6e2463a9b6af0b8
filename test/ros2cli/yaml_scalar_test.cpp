// Expected texts follow YAML 1.1 as PyYAML writes it and Python's float repr(), worked out by
// hand for each case.
#include "ros2cli/yaml_scalar.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "ros2cli/unicode_text.hpp"

namespace {

using namespace ros2cli;

std::string str(const std::string& utf8, std::size_t indent = 2) {
  return yamlString(decodeUtf8(utf8), indent);
}

TEST(YamlFloat, WritesPythonRepr) {
  EXPECT_EQ(yamlFloat(0.0), "0.0");
  EXPECT_EQ(yamlFloat(-0.0), "-0.0");
  EXPECT_EQ(yamlFloat(1.0), "1.0");
  EXPECT_EQ(yamlFloat(-2.5), "-2.5");
  EXPECT_EQ(yamlFloat(0.1), "0.1");
  EXPECT_EQ(yamlFloat(100.0), "100.0");
  EXPECT_EQ(yamlFloat(123456.789), "123456.789");
  EXPECT_EQ(yamlFloat(0.0001), "0.0001");
  EXPECT_EQ(yamlFloat(0.00012), "0.00012");
  EXPECT_EQ(yamlFloat(1234567890123456.0), "1234567890123456.0");
  // float32 0.1 widened to double.
  EXPECT_EQ(yamlFloat(static_cast<double>(0.1f)), "0.10000000149011612");
  EXPECT_EQ(yamlFloat(1.0 / 3.0), "0.3333333333333333");
}

TEST(YamlFloat, ExponentFormGetsAPointInItsMantissa) {
  EXPECT_EQ(yamlFloat(1e-05), "1.0e-05");
  EXPECT_EQ(yamlFloat(1.5e-05), "1.5e-05");
  EXPECT_EQ(yamlFloat(-2e-07), "-2.0e-07");
  EXPECT_EQ(yamlFloat(1e16), "1.0e+16");
  EXPECT_EQ(yamlFloat(1.25e17), "1.25e+17");
  EXPECT_EQ(yamlFloat(1e300), "1.0e+300");
  EXPECT_EQ(yamlFloat(5e-324), "5.0e-324");
}

TEST(YamlFloat, SpecialValues) {
  EXPECT_EQ(yamlFloat(std::numeric_limits<double>::infinity()), ".inf");
  EXPECT_EQ(yamlFloat(-std::numeric_limits<double>::infinity()), "-.inf");
  EXPECT_EQ(yamlFloat(std::nan("")), ".nan");
}

TEST(YamlString, PlainWhenItReadsBackAsTheSameString) {
  for (const char* text :
       {"map", "base_link", "a:b", "it's", "quote\"d", "back\\slash", "-a", "a#b", "a[0]", "1e5",
        "0:30", "hello world", "/tf_static", "<array>", "x,y", "a?"}) {
    EXPECT_EQ(str(text), text) << text;
  }
  EXPECT_EQ(str("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");  // printable unicode stays as is
}

TEST(YamlString, SingleQuotedWhenPlainWouldChangeItsMeaning) {
  EXPECT_EQ(str(""), "''");
  // Values YAML 1.1 reads as something else than a string.
  for (const char* text :
       {"1",    "-7",   "1.5",   "1.",   ".5",         "1_000",
        "012",  "0x1F", "0b101", "1:30", "true",       "False",
        "yes",  "NO",   "on",    "Off",  "null",       "~",
        "Null", ".inf", "-.Inf", ".nan", "2001-12-14", "2001-12-14 21:59:43.10 -5",
        "<<",   "="}) {
    EXPECT_EQ(str(text), std::string("'") + text + "'") << text;
  }
  // Indicators and whitespace that a plain scalar cannot carry.
  for (const char* text :
       {"a: b", "- a", "-",  ":",  "? x", "# c", "a #b", "[a]", "{a}", "&a",   "*a",    "!a",
        "|a",   ">a",  "%a", "@a", "`a",  ",a",  "\"q",  "---", "...", "---x", " lead", "trail "}) {
    EXPECT_EQ(str(text), std::string("'") + text + "'") << text;
  }
  EXPECT_EQ(str("'x"), "'''x'");
  EXPECT_EQ(str("it's: here"), "'it''s: here'");
  // ros2's --no-arr texts.
  EXPECT_EQ(str("<sequence type: uint8, length: 3>"), "'<sequence type: uint8, length: 3>'");
}

TEST(YamlString, LineBreaksInSingleQuotesAreDoubledAndIndented) {
  EXPECT_EQ(str("line\nbreak", 2), "'line\n\n  break'");
  EXPECT_EQ(str("line\nbreak", 4), "'line\n\n    break'");
  EXPECT_EQ(str("a\n\nb", 2), "'a\n\n\n  b'");
  EXPECT_EQ(str("end\n", 2), "'end\n\n  '");
}

TEST(YamlString, DoubleQuotedWithEscapesForSpecialCharacters) {
  EXPECT_EQ(str("tab\there"), "\"tab\\there\"");
  EXPECT_EQ(str("cr\r"), "\"cr\\r\"");
  EXPECT_EQ(str(std::string("nul\0", 4)), "\"nul\\0\"");
  EXPECT_EQ(str("\x01"), "\"\\x01\"");
  EXPECT_EQ(str("\x1B"), "\"\\e\"");
  EXPECT_EQ(str("\x7F"), "\"\\x7F\"");
  EXPECT_EQ(str("a\"b\\c\x07"), "\"a\\\"b\\\\c\\a\"");
  // A space before a break rules single quotes out, so the break is escaped.
  EXPECT_EQ(str("a \nb"), "\"a \\nb\"");
  // Printable non-ASCII stays raw even inside double quotes; U+0080 is not printable.
  EXPECT_EQ(str("\xC3\xA9\x01"), "\"\xC3\xA9\\x01\"");
  EXPECT_EQ(str("\xC2\x80"), "\"\\x80\"");
  EXPECT_EQ(str("\xEF\xBB\xBF"), "\"\\uFEFF\"");
}

TEST(YamlString, ResolverRecognisesYaml11Types) {
  EXPECT_TRUE(resolvesAsNonString("0o17") == false);  // YAML 1.2 octal is a string in 1.1
  EXPECT_TRUE(resolvesAsNonString("017"));
  EXPECT_TRUE(resolvesAsNonString("+12"));
  EXPECT_TRUE(resolvesAsNonString("190:20:30"));
  EXPECT_TRUE(resolvesAsNonString("1.0e+05"));
  EXPECT_FALSE(resolvesAsNonString("1.0e5"));  // the exponent needs its sign
  EXPECT_FALSE(resolvesAsNonString("True1"));
  EXPECT_FALSE(resolvesAsNonString("nan"));
  EXPECT_FALSE(resolvesAsNonString("0x"));
}

}  // namespace
