// The ros2_cli program run as a separate process against nodes of this test, so that everything it
// learns crosses DDS as it does between a robot's processes and the command line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <geometry_msgs/msg/vector3.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <std_msgs/msg/header.hpp>

#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"
#include "ros2cli/yaml_message_reader.hpp"

namespace {

using namespace std::chrono_literals;
using geometry_msgs::msg::Vector3;

// The program with its standard output read through a pipe; stops it with SIGINT if still running.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      std::vector<char*> argv;
      static std::string program = ROS2_CLI_PROGRAM;
      argv.push_back(program.data());
      for (auto& arg : args) {
        argv.push_back(arg.data());
      }
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  // Reads standard output until it matches `pattern` or `limit` passes; returns what was read.
  bool read_until(const std::regex& pattern, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::regex_search(out_text_, pattern)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !read_some(left)) {
        return std::regex_search(out_text_, pattern);
      }
    }
    return true;
  }

  void interrupt() { kill(pid_, SIGINT); }

  // Waits for the exit, reading all output; the exit status, or -1 after `limit`.
  int wait(std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (read_some(50ms) || std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (read_some(10ms)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return -1;
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  bool read_some(std::chrono::milliseconds limit) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(limit.count())) <= 0) {
      return false;
    }
    bool got = false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & POLLIN) != 0) {
        const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
        if (n > 0) {
          (i == 0 ? out_text_ : err_text_).append(buffer, static_cast<std::size_t>(n));
          got = true;
        }
      }
    }
    return got;
  }

  pid_t pid_{-1};
  int out_{-1};
  int err_{-1};
  bool exited_{false};
  std::string out_text_;
  std::string err_text_;
};

int run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
  Program program(std::move(args));
  const int status = program.wait();
  if (out != nullptr) {
    *out = program.out();
  }
  if (err != nullptr) {
    *err = program.err();
  }
  return status;
}

// A context with one node, spun by a thread of its own.
class Peer {
 public:
  Peer(const std::string& name, const std::string& ns = "/")
      : context_(std::make_shared<rclcpp::Context>()) {
    context_->init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>(name, ns, rclcpp::NodeOptions().context(context_));
    rclcpp::ExecutorOptions options;
    options.context = context_;
    executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(options);
    executor_->add_node(node_);
    thread_ = std::thread([this] { executor_->spin(); });
  }
  ~Peer() {
    executor_->cancel();
    thread_.join();
    context_->shutdown("test over");
  }
  rclcpp::Node& node() { return *node_; }

 private:
  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr node_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread thread_;
};

// Publishes `message` at `rate_hz` from a thread until destroyed.
class SteadyPublisher {
 public:
  SteadyPublisher(rclcpp::Publisher<Vector3>::SharedPtr publisher, Vector3 message, double rate_hz)
      : thread_([this, publisher, message, rate_hz] {
          const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(1.0 / rate_hz));
          auto next = std::chrono::steady_clock::now();
          while (!stop_) {
            publisher->publish(message);
            next += period;
            std::this_thread::sleep_until(next);
          }
        }) {}
  ~SteadyPublisher() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Vector3 vector(double x, double y, double z) {
  Vector3 v;
  v.x = x;
  v.y = y;
  v.z = z;
  return v;
}

TEST(Ros2CliProgram, NodeListNamesEveryNodeOfEveryProcessSorted) {
  Peer zeta("zeta");
  Peer alpha("alpha");
  Peer beta("beta", "/robot");
  std::string out;
  ASSERT_EQ(run({"node", "list", "--spin-time", "2"}, &out), 0);
  EXPECT_EQ(out, "/alpha\n/robot/beta\n/zeta\n");
}

TEST(Ros2CliProgram, TopicListWithTypes) {
  Peer peer("talker");
  auto pub = peer.node().create_publisher<Vector3>("/velocity", rclcpp::QoS(5));
  auto sub = peer.node().create_subscription<std_msgs::msg::Header>(
      "stamps", rclcpp::QoS(5), [](const std_msgs::msg::Header&) {});
  std::string out;
  ASSERT_EQ(run({"topic", "list", "-t", "--spin-time", "2"}, &out), 0);
  EXPECT_EQ(out, "/stamps [std_msgs/msg/Header]\n/velocity [geometry_msgs/msg/Vector3]\n");
  ASSERT_EQ(run({"topic", "list", "--spin-time", "2"}, &out), 0);
  EXPECT_EQ(out, "/stamps\n/velocity\n");
}

// Reads echo's text back into a message, so the values are compared, not the printing.
Vector3 parse_echo(const std::string& text) {
  const auto end = text.find("\n---\n");
  EXPECT_NE(end, std::string::npos) << text;
  Vector3 parsed;
  ros2cli::fillMessageFromYaml(
      text.substr(0, end), &parsed,
      *static_cast<const ros2cli::MessageMembers*>(
          rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Vector3>()->data));
  return parsed;
}

TEST(Ros2CliProgram, EchoOnceFindsTheTypeAndMatchesABestEffortPublisher) {
  Peer peer("talker");
  // A reliable subscription would not match this publisher: echo has to follow its QoS.
  auto pub = peer.node().create_publisher<Vector3>("/velocity", rclcpp::QoS(5).best_effort());
  const Vector3 sent = vector(1.25, -0.1, 3e-7);
  SteadyPublisher publishing(pub, sent, 20.0);
  std::string out;
  std::string err;
  ASSERT_EQ(run({"topic", "echo", "/velocity", "--once"}, &out, &err), 0) << err;
  const Vector3 got = parse_echo(out);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(out.size(), out.find("\n---\n") + 5) << "more than one message: " << out;
}

TEST(Ros2CliProgram, EchoOfALatchedTopicWithTheTypeGiven) {
  Peer peer("latcher");
  auto pub = peer.node().create_publisher<Vector3>("/latched", rclcpp::QoS(1).transient_local());
  pub->publish(vector(7, 8, 9));
  std::string out;
  ASSERT_EQ(run({"topic", "echo", "latched", "geometry_msgs/msg/Vector3", "--once"}, &out), 0);
  EXPECT_EQ(parse_echo(out), vector(7, 8, 9));
}

TEST(Ros2CliProgram, EchoWarnsAboutAnUnpublishedTopicAndWaits) {
  Program echo({"topic", "echo", "/nobody"});
  EXPECT_TRUE(
      echo.read_until(std::regex("WARNING: topic \\[/nobody\\] does not appear to be "
                                 "published yet\n")));
  echo.interrupt();
  EXPECT_EQ(echo.wait(), 0);
}

TEST(Ros2CliProgram, UnknownTypesAndBadUsageFail) {
  std::string err;
  EXPECT_EQ(run({"topic", "echo", "/x", "geometry_msgs/msg/NoSuchType"}, nullptr, &err), 1);
  EXPECT_NE(err.find("The passed message type is invalid"), std::string::npos) << err;
  EXPECT_EQ(run({"topic", "pub", "/x", "not a type", "{}"}, nullptr, &err), 1);
  EXPECT_NE(err.find("The passed message type is invalid"), std::string::npos) << err;
  EXPECT_EQ(run({"topic", "pub", "/x", "geometry_msgs/msg/Vector3", "{w: 1}"}, nullptr, &err), 1);
  EXPECT_NE(err.find("w"), std::string::npos) << err;
  EXPECT_EQ(run({"topic", "hz"}, nullptr, &err), 2);
  EXPECT_NE(err.find("usage: ros2_cli topic hz"), std::string::npos) << err;
  EXPECT_EQ(run({"topic", "frobnicate"}), 2);
  EXPECT_EQ(run({"nodes", "list"}), 2);
  EXPECT_EQ(run({"topic", "pub", "/x", "geometry_msgs/msg/Vector3", "-r", "0"}), 2);
  std::string out;
  EXPECT_EQ(run({"topic", "echo", "--help"}, &out), 0);
  EXPECT_NE(out.find("usage: ros2_cli topic echo"), std::string::npos) << out;
}

TEST(Ros2CliProgram, PubOnceReachesASubscription) {
  Peer peer("listener");
  std::mutex mutex;
  std::vector<Vector3> heard;
  auto sub =
      peer.node().create_subscription<Vector3>("/command", rclcpp::QoS(10), [&](const Vector3& v) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(v);
      });
  std::string out;
  std::string err;
  ASSERT_EQ(run({"topic", "pub", "--once", "/command", "geometry_msgs/msg/Vector3",
                 "{x: 0.5, y: -2, z: 1e+3}"},
                &out, &err),
            0)
      << err;
  EXPECT_EQ(out,
            "publisher: beginning loop\n"
            "publishing #1: geometry_msgs.msg.Vector3(x=0.5, y=-2.0, z=1000.0)\n\n");
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!heard.empty() || std::chrono::steady_clock::now() > deadline) {
        break;
      }
    }
    std::this_thread::sleep_for(10ms);
  }
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], vector(0.5, -2, 1000));
}

TEST(Ros2CliProgram, PubTimesPublishesThatManyMessages) {
  Peer peer("listener");
  std::atomic<int> count{0};
  auto sub = peer.node().create_subscription<Vector3>("/command", rclcpp::QoS(10),
                                                      [&](const Vector3&) { ++count; });
  std::string out;
  ASSERT_EQ(run({"topic", "pub", "-t", "3", "-r", "20", "-w", "1", "/command",
                 "geometry_msgs/msg/Vector3"},
                &out),
            0);
  EXPECT_NE(out.find("publishing #3:"), std::string::npos) << out;
  EXPECT_EQ(out.find("publishing #4:"), std::string::npos) << out;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (count < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(count.load(), 3);
}

TEST(Ros2CliProgram, HzReportsTheRateItIsPublishedAt) {
  Peer peer("talker");
  auto pub = peer.node().create_publisher<Vector3>("/steady", rclcpp::QoS(5));
  const double rate = 20.0;
  SteadyPublisher publishing(pub, vector(1, 2, 3), rate);
  Program hz({"topic", "hz", "/steady", "--window", "15"});
  const std::regex report(
      "average rate: ([0-9.]+)\n\tmin: ([0-9.]+)s max: ([0-9.]+)s std dev: ([0-9.]+)s "
      "window: ([0-9]+)\n");
  // The second report: the first may cover the start of the subscription.
  ASSERT_TRUE(hz.read_until(std::regex("(average rate:[^\n]*\n[^\n]*\n[^a]*){2}"), 30s))
      << hz.out();
  hz.interrupt();
  EXPECT_EQ(hz.wait(), 0);
  std::vector<std::smatch> reports;
  const std::string text = hz.out();
  for (auto it = std::sregex_iterator(text.begin(), text.end(), report);
       it != std::sregex_iterator(); ++it) {
    reports.push_back(*it);
  }
  ASSERT_GE(reports.size(), 2u) << text;
  const auto& last = reports.back();
  const double average = std::stod(last[1]);
  const double min = std::stod(last[2]);
  const double max = std::stod(last[3]);
  // Generous bounds around 20 Hz: a loaded machine delays messages, but never by a factor of two
  // on average, and the mean interval lies between the extremes.
  EXPECT_GT(average, rate / 2);
  EXPECT_LT(average, rate * 2);
  EXPECT_LE(min, 1.0 / average + 1e-3);
  EXPECT_GE(max, 1.0 / average - 1e-3);
  EXPECT_LE(std::stoul(last[5]), 16u);
  EXPECT_GE(std::stoul(last[5]), 2u);
}

// Services cross processes: the program's requests reach nodes of this test over DDS.
TEST(Ros2CliProgram, ParamAndLifecycleVerbsReachNodesOfAnotherProcess) {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  const auto options = rclcpp::NodeOptions().context(context);
  auto tuned = std::make_shared<rclcpp::Node>("tuned", options);
  tuned->declare_parameter("count", 3);
  tuned->declare_parameter("names", std::vector<std::string>{"a", "b"});
  auto managed = std::make_shared<rclcpp_lifecycle::LifecycleNode>("managed", options);
  rclcpp::ExecutorOptions executor_options;
  executor_options.context = context;
  rclcpp::executors::SingleThreadedExecutor executor(executor_options);
  executor.add_node(tuned);
  executor.add_node(managed->get_node_base_interface());
  std::thread spinner([&] { executor.spin(); });

  std::string out;
  std::string err;
  EXPECT_EQ(run({"param", "get", "/tuned", "count"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "Integer value is: 3\n");
  EXPECT_EQ(run({"param", "set", "tuned", "count", "12"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "Set parameter successful\n");
  EXPECT_EQ(tuned->get_parameter("count").as_int(), 12);
  EXPECT_EQ(run({"param", "set", "tuned", "names", "[x, 'y z']"}, &out, &err), 0) << err;
  EXPECT_EQ(tuned->get_parameter("names").as_string_array(),
            (std::vector<std::string>{"x", "y z"}));
  EXPECT_EQ(run({"param", "list", "tuned"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("  count\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  names\n"), std::string::npos) << out;
  EXPECT_EQ(run({"param", "get", "nobody", "count", "--timeout", "0.5"}, &out, &err), 1);
  EXPECT_NE(err.find("Node not found"), std::string::npos) << err;

  EXPECT_EQ(run({"lifecycle", "get", "managed"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "unconfigured [1]\n");
  EXPECT_EQ(run({"lifecycle", "set", "managed", "configure"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "Transitioning successful\n");
  EXPECT_EQ(managed->get_current_state().label(), "inactive");

  executor.cancel();
  spinner.join();
  context->shutdown("test over");
}

}  // namespace
