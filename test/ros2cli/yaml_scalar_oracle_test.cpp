// The scalar writer against PyYAML itself (python3-yaml), which is what ros2 topic echo runs:
// strings built from every character class that changes the style, numbers of every magnitude.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "ros2cli/unicode_text.hpp"
#include "ros2cli/yaml_scalar.hpp"

namespace {

using namespace ros2cli;

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// PyYAML's text for each input line, in order.
std::vector<std::string> pyyaml(const std::string& listing) {
  // Per process: ctest runs the tests of this program side by side.
  const std::string tag = std::to_string(getpid());
  const std::string input = testing::TempDir() + "ros2cli_pyyaml_input_" + tag + ".txt";
  const std::string output = testing::TempDir() + "ros2cli_pyyaml_output_" + tag + ".txt";
  std::ofstream(input) << listing;
  const std::string command =
      std::string(PYTHON_PROGRAM) + " " + PYYAML_SCRIPT + " " + input + " > " + output;
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "failed: " << command << " (scripts/setup installs python3-yaml)";
    return {};
  }
  std::ifstream in(output, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> results;
  std::size_t start = 0;
  for (std::size_t end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
    results.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  results.push_back(text.substr(start));
  return results;
}

std::vector<std::u32string> strings() {
  const std::u32string alphabet =
      U"aZ0159 :-#'\"\\\n\t\r.,[]{}?!&*|>%@`~e+_yntrufl<=\u00e9\u4e2d\U0001F600\x7f\x01\x85"
      U"\u2028\u00a0\ufeff\u0080\x00";
  std::vector<std::u32string> out;
  for (const char* fixed : {"",
                            "map",
                            "1",
                            "1.5",
                            "true",
                            "null",
                            "~",
                            "a: b",
                            "- a",
                            "---",
                            "...",
                            "'x",
                            "it's",
                            " lead",
                            "trail ",
                            "line\nbreak",
                            "end\n",
                            "\nstart",
                            "a \nb",
                            "a\n b",
                            "2001-12-14",
                            "0x1F",
                            "1e5",
                            "1_000",
                            "012",
                            "0o17",
                            "1:30",
                            "0:30",
                            "<<",
                            "=",
                            "<sequence type: uint8, length: 3>",
                            "<array type: double[9]>",
                            "abc..."}) {
    out.push_back(decodeUtf8(fixed));
  }
  std::mt19937 rng(20240601);
  for (int i = 0; i < 3000; ++i) {
    std::u32string text;
    const std::size_t length = rng() % 7;
    for (std::size_t j = 0; j < length; ++j) {
      text += alphabet[rng() % alphabet.size()];
    }
    out.push_back(text);
  }
  return out;
}

std::vector<double> numbers() {
  std::vector<double> out = {0.0,
                             -0.0,
                             1.0,
                             0.1,
                             1e-05,
                             1e16,
                             1e15,
                             123456.789,
                             1e-4,
                             9.999e-5,
                             5e-324,
                             1.7976931348623157e308,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 rng(77);
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t bits = rng();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof(value));
    out.push_back(value);
    out.push_back(static_cast<double>(static_cast<float>(i % 2 == 0 ? value : 1.0 / (i + 1))));
    out.push_back(
        std::ldexp(static_cast<double>(rng() % 100000), static_cast<int>(rng() % 120) - 60));
  }
  return out;
}

TEST(YamlScalarOracle, StringsMatchPyYaml) {
  const std::vector<std::u32string> cases = strings();
  std::ostringstream listing;
  for (const std::u32string& text : cases) {
    listing << "s " << hex(encodeUtf8(text)) << "\n";
  }
  const std::vector<std::string> expected = pyyaml(listing.str());
  ASSERT_EQ(expected.size(), cases.size());
  int failures = 0;
  for (std::size_t i = 0; i < cases.size() && failures < 20; ++i) {
    const std::string mine = "v: " + yamlString(cases[i], 2) + "\n";
    if (mine != expected[i]) {
      ++failures;
      ADD_FAILURE() << "case " << i << " (utf-8 " << hex(encodeUtf8(cases[i])) << ")\n mine: ["
                    << mine << "]\n pyyaml: [" << expected[i] << "]";
    }
  }
}

TEST(YamlScalarOracle, FloatsMatchPyYaml) {
  const std::vector<double> cases = numbers();
  std::ostringstream listing;
  for (const double value : cases) {
    std::string bytes(sizeof(double), '\0');
    std::memcpy(&bytes[0], &value, sizeof(double));
    listing << "d " << hex(bytes) << "\n";
  }
  const std::vector<std::string> expected = pyyaml(listing.str());
  ASSERT_EQ(expected.size(), cases.size());
  int failures = 0;
  for (std::size_t i = 0; i < cases.size() && failures < 20; ++i) {
    const std::string mine = "v: " + yamlFloat(cases[i]) + "\n";
    if (mine != expected[i]) {
      ++failures;
      ADD_FAILURE() << "case " << i << "\n mine: " << mine << " pyyaml: " << expected[i];
    }
  }
}

}  // namespace
