#include "ros2cli/cli.hpp"

#include <unistd.h>

#include <cstddef>
#include <map>
#include <memory>

#include "rclcpp/context.hpp"
#include "rclcpp/node.hpp"
#include "ros2cli/command_line.hpp"
#include "ros2cli/lifecycle_commands.hpp"
#include "ros2cli/parameter_commands.hpp"
#include "ros2cli/topic_commands.hpp"

namespace ros2cli {

namespace {

const char* const kTopUsage =
    "usage: ros2_cli <command> [-h]\n"
    "\n"
    "Commands:\n"
    "  node       Various node related sub-commands\n"
    "  topic      Various topic related sub-commands\n"
    "  param      Various param related sub-commands\n"
    "  lifecycle  Various lifecycle related sub-commands\n";

const std::map<std::string, std::string> kCommandUsage = {
    {"node",
     "usage: ros2_cli node <verb> [-h]\n\nVerbs:\n"
     "  list  Output a list of available nodes\n"},
    {"topic",
     "usage: ros2_cli topic <verb> [-h]\n\nVerbs:\n"
     "  echo  Output messages from a topic\n"
     "  hz    Print the average publishing rate to screen\n"
     "  list  Output a list of available topics\n"
     "  pub   Publish a message to a topic\n"},
    {"param",
     "usage: ros2_cli param <verb> [-h]\n\nVerbs:\n"
     "  get   Get parameter\n"
     "  list  Output a list of available parameters\n"
     "  set   Set parameter\n"},
    {"lifecycle",
     "usage: ros2_cli lifecycle <verb> [-h]\n\nVerbs:\n"
     "  get  Get lifecycle state for one node\n"
     "  set  Trigger lifecycle state transition\n"},
};

const std::map<std::string, std::string> kVerbUsage = {
    {"node list", "usage: ros2_cli node list [-h] [-a] [--spin-time SPIN_TIME]\n"},
    {"topic list", "usage: ros2_cli topic list [-h] [-t] [--spin-time SPIN_TIME]\n"},
    {"topic echo",
     "usage: ros2_cli topic echo [-h] [--once] [--no-arr] [--full-length]\n"
     "                           [--truncate-length N] [--qos-reliability {system_default,"
     "reliable,best_effort}]\n"
     "                           [--qos-durability {system_default,transient_local,volatile}]\n"
     "                           [--qos-depth N] topic_name [message_type]\n"},
    {"topic hz", "usage: ros2_cli topic hz [-h] [--window WINDOW] topic_name\n"},
    {"topic pub",
     "usage: ros2_cli topic pub [-h] [-r N] [-p N] [-1 | -t TIMES] [-w N]\n"
     "                          [--qos-reliability ...] [--qos-durability ...] [--qos-depth N]\n"
     "                          topic_name message_type [values]\n"},
    {"param list", "usage: ros2_cli param list [-h] [--timeout S] node_name\n"},
    {"param get", "usage: ros2_cli param get [-h] [--timeout S] node_name parameter_name\n"},
    {"param set", "usage: ros2_cli param set [-h] [--timeout S] node_name parameter_name value\n"},
    {"lifecycle get", "usage: ros2_cli lifecycle get [-h] [--timeout S] node_name\n"},
    {"lifecycle set", "usage: ros2_cli lifecycle set [-h] [--timeout S] node_name transition\n"},
};

const std::set<std::string> kQosOptions = {"--qos-reliability", "--qos-durability", "--qos-depth"};

std::set<std::string> with(std::set<std::string> base, const std::set<std::string>& more) {
  base.insert(more.begin(), more.end());
  return base;
}

void expectPositionals(const CommandLine& line, std::size_t minimum, std::size_t maximum) {
  const std::size_t count = line.positional().size();
  if (count < minimum) {
    throw UsageError("the following arguments are required");
  }
  if (count > maximum) {
    throw UsageError("unrecognized arguments: " + line.positional()[maximum]);
  }
}

QosChoice qosChoice(const CommandLine& line) {
  QosChoice choice;
  if (const auto reliability = line.value("--qos-reliability")) {
    if (*reliability == "reliable") {
      choice.reliability = ros2_core::Reliability::Reliable;
    } else if (*reliability == "best_effort") {
      choice.reliability = ros2_core::Reliability::BestEffort;
    } else if (*reliability != "system_default") {
      throw UsageError("argument --qos-reliability: invalid choice: '" + *reliability + "'");
    }
  }
  if (const auto durability = line.value("--qos-durability")) {
    if (*durability == "transient_local") {
      choice.durability = ros2_core::Durability::TransientLocal;
    } else if (*durability == "volatile") {
      choice.durability = ros2_core::Durability::Volatile;
    } else if (*durability != "system_default") {
      throw UsageError("argument --qos-durability: invalid choice: '" + *durability + "'");
    }
  }
  if (const auto depth = line.number("--qos-depth", 1)) {
    choice.depth = static_cast<std::size_t>(*depth);
  }
  return choice;
}

int runTopicVerb(const std::string& verb, const std::vector<std::string>& args,
                 TopicCommandContext& context) {
  if (verb == "list") {
    CommandLine line(args, {"--spin-time"}, {"-t", "--show-types"});
    expectPositionals(line, 0, 0);
    return listTopics(context, line.number("--spin-time", 0).value_or(1.0),
                      line.has("-t") || line.has("--show-types"));
  }
  if (verb == "echo") {
    CommandLine line(args, with(kQosOptions, {"--truncate-length", "-l"}),
                     {"--once", "--no-arr", "--full-length", "-f"});
    expectPositionals(line, 1, 2);
    EchoOptions options;
    options.topic = line.positional()[0];
    if (line.positional().size() == 2) {
      options.type = line.positional()[1];
    }
    options.once = line.has("--once");
    options.print.no_arr = line.has("--no-arr");
    if (!line.has("--full-length") && !line.has("-f")) {
      const auto length = line.value("--truncate-length") ? line.number("--truncate-length", 0)
                                                          : line.number("-l", 0);
      options.print.truncate_length =
          length ? static_cast<std::size_t>(*length) : kEchoTruncateLength;
    }
    options.qos = qosChoice(line);
    return echoTopic(context, options);
  }
  if (verb == "hz") {
    CommandLine line(args, {"--window", "-w"}, {});
    expectPositionals(line, 1, 1);
    const auto window = line.value("--window") ? line.number("--window", 1) : line.number("-w", 1);
    return topicHz(context, line.positional()[0],
                   window ? static_cast<std::size_t>(*window) : 10000);
  }
  if (verb == "pub") {
    CommandLine line(args,
                     with(kQosOptions, {"-r", "--rate", "-p", "--print", "-t", "--times", "-w",
                                        "--wait-matching-subscriptions"}),
                     {"-1", "--once"});
    expectPositionals(line, 2, 3);
    PubOptions options;
    options.topic = line.positional()[0];
    options.type = line.positional()[1];
    if (line.positional().size() == 3) {
      options.values = line.positional()[2];
    }
    const auto rate = line.value("-r") ? line.number("-r", 0) : line.number("--rate", 0);
    if (rate) {
      if (*rate <= 0) {
        throw UsageError("argument -r/--rate: must be greater than 0");
      }
      options.rate = *rate;
    }
    const auto print = line.value("-p") ? line.number("-p", 0) : line.number("--print", 0);
    if (print) {
      options.print_every = static_cast<std::size_t>(*print);
    }
    const auto times = line.value("-t") ? line.number("-t", 1) : line.number("--times", 1);
    if (line.has("-1") || line.has("--once")) {
      if (times) {
        throw UsageError("argument -t/--times: not allowed with argument -1/--once");
      }
      options.times = 1;
    } else if (times) {
      options.times = static_cast<std::size_t>(*times);
    }
    options.wait_matching =
        line.value("-w") ? line.number("-w", 0) : line.number("--wait-matching-subscriptions", 0);
    options.qos = qosChoice(line);
    return publishTopic(context, options);
  }
  throw UsageError("invalid choice: '" + verb + "'");
}

// The tool's own node for service calls, hidden from node list by its leading underscore.
int runServiceVerb(const std::string& command, const std::string& verb,
                   const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line(args, {"--timeout"}, {});
  std::size_t positionals = 0;
  if (command == "param") {
    positionals = verb == "list" ? 1 : verb == "get" ? 2 : verb == "set" ? 3 : 0;
  } else {
    positionals = verb == "get" ? 1 : verb == "set" ? 2 : 0;
  }
  if (positionals == 0) {
    throw UsageError("invalid choice: '" + verb + "'");
  }
  expectPositionals(line, positionals, positionals);
  const double timeout = line.number("--timeout", 0).value_or(5.0);

  auto rcl_context = std::make_shared<rclcpp::Context>();
  rcl_context->init(0, nullptr);
  int status = 1;
  {
    auto node = std::make_shared<rclcpp::Node>("_ros2cli_" + std::to_string(::getpid()),
                                               rclcpp::NodeOptions().context(rcl_context));
    const ServiceCommandContext context{
        node, std::chrono::milliseconds(static_cast<long long>(timeout * 1000)), out, err};
    const auto& p = line.positional();
    if (command == "param") {
      status = verb == "list"  ? listParameters(context, p[0])
               : verb == "get" ? getParameter(context, p[0], p[1])
                               : setParameter(context, p[0], p[1], p[2]);
    } else {
      status =
          verb == "get" ? getLifecycleState(context, p[0]) : setLifecycleState(context, p[0], p[1]);
    }
  }
  rcl_context->shutdown("ros2_cli done");
  return status;
}

bool wantsHelp(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "-h" || arg == "--help") {
      return true;
    }
  }
  return false;
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           StopSignal& stop) {
  std::string usage = kTopUsage;
  try {
    if (args.empty() || args[0] == "-h" || args[0] == "--help") {
      (args.empty() ? err : out) << kTopUsage;
      return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    const auto command_usage = kCommandUsage.find(command);
    if (command_usage == kCommandUsage.end()) {
      throw UsageError("argument <command>: invalid choice: '" + command + "'");
    }
    usage = command_usage->second;
    if (args.size() < 2 || args[1] == "-h" || args[1] == "--help") {
      (args.size() < 2 ? err : out) << usage;
      return args.size() < 2 ? 2 : 0;
    }
    const std::string& verb = args[1];
    const auto verb_usage = kVerbUsage.find(command + " " + verb);
    if (verb_usage == kVerbUsage.end()) {
      throw UsageError("argument <verb>: invalid choice: '" + verb + "'");
    }
    usage = verb_usage->second;
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    if (wantsHelp(rest)) {
      out << usage;
      return 0;
    }
    if (command == "param" || command == "lifecycle") {
      return runServiceVerb(command, verb, rest, out, err);
    }
    // Interfaces built with this tree are found even where no setup script set the prefixes.
    std::vector<std::string> prefixes = amentPrefixes();
    prefixes.push_back(ROS2CLI_INTERFACE_PREFIX);
    TypeSupportRegistry registry(prefixes);
    TopicCommandContext context{ros2_dds::domain_settings_from_environment(), registry, stop, out,
                                err};
    if (command == "node") {
      CommandLine line(rest, {"--spin-time"}, {"-a", "--all"});
      expectPositionals(line, 0, 0);
      return listNodes(context, line.number("--spin-time", 0).value_or(1.0),
                       line.has("-a") || line.has("--all"));
    }
    return runTopicVerb(verb, rest, context);
  } catch (const UsageError& e) {
    err << usage << "ros2_cli: error: " << e.what() << std::endl;
    return 2;
  } catch (const std::exception& e) {
    err << "ros2_cli: " << e.what() << std::endl;
    return 1;
  }
}

}  // namespace ros2cli
