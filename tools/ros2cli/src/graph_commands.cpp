#include <chrono>

#include "ros2_dds/dds_graph_view.hpp"
#include "ros2cli/topic_commands.hpp"

namespace ros2cli {

namespace {

// Discovery data keeps arriving while we wait; the view takes it in as it comes.
void listen(ros2_dds::DdsGraphView& view, double seconds, StopSignal& stop) {
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(seconds));
  while (std::chrono::steady_clock::now() < end) {
    view.refresh();
    if (stop.wait_for(std::chrono::milliseconds(50))) {
      break;
    }
  }
  view.refresh();
}

bool hidden(const std::string& node) {
  const auto slash = node.rfind('/');
  return slash + 1 < node.size() && node[slash + 1] == '_';
}

}  // namespace

std::string absoluteTopicName(const std::string& topic) {
  return !topic.empty() && topic.front() == '/' ? topic : "/" + topic;
}

int listNodes(const TopicCommandContext& context, double spin_time, bool all) {
  ros2_dds::DdsGraphView view(context.settings);
  listen(view, spin_time, context.stop);
  for (const auto& name : view.node_names()) {
    if (all || !hidden(name)) {
      context.out << name << '\n';
    }
  }
  context.out << std::flush;
  return 0;
}

int listTopics(const TopicCommandContext& context, double spin_time, bool types) {
  ros2_dds::DdsGraphView view(context.settings);
  listen(view, spin_time, context.stop);
  for (const auto& entry : view.topic_types()) {
    context.out << entry.first;
    if (types) {
      context.out << " [";
      for (std::size_t i = 0; i < entry.second.size(); ++i) {
        context.out << (i == 0 ? "" : ", ") << entry.second[i];
      }
      context.out << "]";
    }
    context.out << '\n';
  }
  context.out << std::flush;
  return 0;
}

}  // namespace ros2cli
