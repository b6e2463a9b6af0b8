// The logger reads its environment once per process, so every case runs logger_probe in a child
// process with its own environment and checks what it printed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Env {
  const char* stdout_value;  // nullptr: unset
  const char* systemd_value;
  const char* level_value;
};

std::string RunProbe(const Env& env, const std::string& scenario) {
  std::string command = "env -u SPDLOG_STDOUT -u SPDLOG_SYSTEMD -u SPDLOG_LEVEL";
  auto add = [&command](const char* name, const char* value) {
    if (value != nullptr) {
      command += std::string(" ") + name + "='" + value + "'";
    }
  };
  add("SPDLOG_STDOUT", env.stdout_value);
  add("SPDLOG_SYSTEMD", env.systemd_value);
  add("SPDLOG_LEVEL", env.level_value);
  command += std::string(" ") + LOGGER_PROBE + " " + scenario + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return {};
  }
  std::string output;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
    output.append(buffer.data(), n);
  }
  return output;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

const Env kQuiet{"true", "false", "info"};

}  // namespace

TEST(LoggerEnvironment, NothingSetGivesNoticesConsoleAndInfo) {
  const auto lines = Lines(RunProbe({nullptr, nullptr, nullptr}, "basic"));
  const std::vector<std::string> expected{
      "environment variable SPDLOG_STDOUT is not set, and set true",
      "environment variable SPDLOG_SYSTEMD is not set, and set false",
      "environment variable SPDLOG_LEVEL is not set, and set default level",
      // The debug message is suppressed and does not advance the counter.
      "  1 [INFO] info 2",
      "  2 [ERROR] error 3",
  };
  EXPECT_EQ(lines, expected);
}

TEST(LoggerEnvironment, InvalidValuesFallBackWithNotices) {
  // Comparisons are exact: neither "TRUE" nor "warn" nor "INFO" is accepted.
  const auto lines = Lines(RunProbe({"TRUE", "yes", "warn"}, "basic"));
  const std::vector<std::string> expected{
      "environment variable SPDLOG_STDOUT is invalid, and set true",
      "environment variable SPDLOG_SYSTEMD is invalid, and set false",
      "environment variable SPDLOG_LEVEL is invalid, and set default level",
      "  1 [INFO] info 2",
      "  2 [ERROR] error 3",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(Lines(RunProbe({"true", "false", "INFO"}, "basic")).front(),
            "environment variable SPDLOG_LEVEL is invalid, and set default level");
}

TEST(LoggerEnvironment, NoSinksWritesNothing) {
  EXPECT_EQ(RunProbe({"false", "false", "info"}, "basic"), "");
  EXPECT_EQ(Lines(RunProbe({"false", "false", "info"}, "location")).front(), "sinks: 0");
}

TEST(LoggerEnvironment, JournalSinkFollowsConsoleSink) {
  const auto with_journal = Lines(RunProbe({"true", "true", "info"}, "location"));
  ASSERT_FALSE(with_journal.empty());
  EXPECT_EQ(with_journal.front(), "sinks: 2");
  EXPECT_EQ(Lines(RunProbe(kQuiet, "location")).front(), "sinks: 1");
}

TEST(LoggerLevels, ErrorLevelSuppressesAndDoesNotCountInfo) {
  EXPECT_EQ(Lines(RunProbe({"true", "false", "error"}, "basic")),
            std::vector<std::string>{"  1 [ERROR] error 3"});
}

TEST(LoggerLevels, DebugLevelCountsEveryMacro) {
  EXPECT_EQ(Lines(RunProbe({"true", "false", "debug"}, "basic")),
            (std::vector<std::string>{"  1 [DEBUG] debug 1", "  2 [INFO] info 2",
                                      "  3 [ERROR] error 3"}));
}

TEST(LoggerCounter, PrintedNumberWrapsAt128AndStoredByteAt256) {
  const auto lines = Lines(RunProbe(kQuiet, "wrap"));
  ASSERT_EQ(lines.size(), 301u);
  EXPECT_EQ(lines[0], "  1 [INFO] message 1");
  EXPECT_EQ(lines[126], "127 [INFO] message 127");
  EXPECT_EQ(lines[127], "  0 [INFO] message 128");
  EXPECT_EQ(lines[128], "  1 [INFO] message 129");
  EXPECT_EQ(lines[255], "  0 [INFO] message 256");  // the byte itself wrapped to 0
  EXPECT_EQ(lines[299], " 44 [INFO] message 300");
  EXPECT_EQ(lines[300], "stored counter: 44");  // 300 mod 256
}

TEST(LoggerCounter, ProgramAndSharedLibraryShareOneInstance) {
  EXPECT_EQ(Lines(RunProbe(kQuiet, "shared")),
            (std::vector<std::string>{"  1 [INFO] from program 1", "  2 [INFO] from library 2",
                                      "  3 [INFO] from program 3", "same instance: 3"}));
}

TEST(LoggerFormatting, BracesInFormattedTextArePrintedUnchanged) {
  EXPECT_EQ(Lines(RunProbe(kQuiet, "braces")),
            std::vector<std::string>{"  1 [INFO] literal {} and {{}} and {0}"});
}

TEST(LoggerFormatting, SourceLocationIsRepositoryRelativeWithFunctionName) {
  const auto lines = Lines(RunProbe(kQuiet, "location"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "  1 [INFO] where");
  EXPECT_EQ(lines[2].rfind("location: test/logger/logger_probe.cpp:", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find(" main level 2"), std::string::npos) << lines[2];
}
