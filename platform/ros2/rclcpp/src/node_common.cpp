#include "rclcpp/detail/node_common.hpp"

#include <cctype>

#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace detail {
namespace {

bool valid_name_token(const std::string& token) {
  if (token.empty() || std::isdigit(static_cast<unsigned char>(token[0])) != 0) {
    return false;
  }
  for (char c : token) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      return false;
    }
  }
  return true;
}

std::string normalise_namespace(const std::string& ns) {
  std::string result = ns.empty() || ns[0] != '/' ? "/" + ns : ns;
  while (result.size() > 1 && result.back() == '/') {
    result.pop_back();
  }
  return result;
}

void validate_namespace(const std::string& ns) {
  if (ns == "/") {
    return;
  }
  std::size_t start = 1;
  while (start <= ns.size()) {
    const std::size_t end = ns.find('/', start);
    const std::string token =
        ns.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!valid_name_token(token)) {
      throw exceptions::InvalidNamespaceError("Invalid namespace: '" + ns +
                                              "': tokens must be alphanumerics or underscores, "
                                              "not start with a number, and not be empty");
    }
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
}

// Applies the node-name or namespace rules of `arguments` (`key` is "__node" or "__ns").
bool find_name_remap(const RosArguments* arguments, const std::string& key,
                     const std::string& node_name, std::string& out) {
  if (arguments == nullptr) {
    return false;
  }
  for (const auto& rule : arguments->remaps) {
    if (rule.from == key && (rule.node_name.empty() || rule.node_name == node_name)) {
      out = rule.to;
      return true;
    }
  }
  return false;
}

std::string expand_topic(const std::string& topic, const std::string& node_name,
                         const std::string& ns) {
  const std::string fqn = ns == "/" ? "/" + node_name : ns + "/" + node_name;
  if (topic.empty()) {
    throw exceptions::InvalidTopicNameError("Invalid topic name: topic name must not be empty");
  }
  std::string expanded;
  if (topic[0] == '~') {
    if (topic.size() > 1 && topic[1] != '/') {
      throw exceptions::InvalidTopicNameError("Invalid topic name: '" + topic +
                                              "': '~' must be followed by '/'");
    }
    expanded = fqn + topic.substr(1);
  } else if (topic[0] == '/') {
    expanded = topic;
  } else {
    expanded = (ns == "/" ? "/" : ns + "/") + topic;
  }
  if (expanded.size() > 1 && expanded.back() == '/') {
    throw exceptions::InvalidTopicNameError("Invalid topic name: '" + topic +
                                            "': must not end with '/'");
  }
  if (expanded.find("//") != std::string::npos) {
    throw exceptions::InvalidTopicNameError("Invalid topic name: '" + topic +
                                            "': must not contain '//'");
  }
  for (char c : expanded) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_' && c != '/') {
      throw exceptions::InvalidTopicNameError("Invalid topic name: '" + topic +
                                              "': must contain only alphanumerics, '_' and '/'");
    }
  }
  return expanded;
}

// Expands `name` in the node's namespace, then applies the first matching remapping rule of
// the node's own arguments, else of the process-wide ones (`global` may be null).
std::string resolve_name(const std::string& name, const std::string& node_name,
                         const std::string& ns, const RosArguments& local,
                         const RosArguments* global, bool only_expand) {
  const std::string expanded = expand_topic(name, node_name, ns);
  if (only_expand) {
    return expanded;
  }
  for (const RosArguments* source : {&local, global}) {
    if (source == nullptr) {
      continue;
    }
    for (const auto& rule : source->remaps) {
      if (rule.from == "__node" || rule.from == "__ns") {
        continue;
      }
      if (!rule.node_name.empty() && rule.node_name != node_name) {
        continue;
      }
      if (expand_topic(rule.from, node_name, ns) == expanded) {
        return expand_topic(rule.to, node_name, ns);
      }
    }
  }
  return expanded;
}

std::string logger_name_for(const std::string& fqn) {
  std::string name = fqn.substr(1);
  for (char& c : name) {
    if (c == '/') {
      c = '.';
    }
  }
  return name;
}

}  // namespace

NodeCommon::NodeCommon(const std::string& node_name, const std::string& namespace_,
                       const NodeOptions& options)
    : options_(options),
      local_arguments_(parse_ros_arguments(options.arguments())),
      logger_(rclcpp::get_logger(node_name)),
      clock_(std::make_shared<rclcpp::Clock>(RCL_ROS_TIME)) {
  Context::SharedPtr context = options.context();
  const RosArguments* global =
      options.use_global_arguments() ? &context->get_global_arguments() : nullptr;
  // The node's own arguments take precedence over the process-wide ones.
  std::string name = node_name;
  if (!find_name_remap(&local_arguments_, "__node", node_name, name)) {
    find_name_remap(global, "__node", node_name, name);
  }
  std::string ns = namespace_;
  if (!find_name_remap(&local_arguments_, "__ns", node_name, ns)) {
    find_name_remap(global, "__ns", node_name, ns);
  }
  if (!valid_name_token(name)) {
    throw exceptions::InvalidNodeNameError(
        "Invalid node name: '" + name +
        "': must be non-empty, contain only alphanumerics and underscores, and not start with a "
        "number");
  }
  ns = normalise_namespace(ns);
  validate_namespace(ns);

  node_base_ = std::make_shared<node_interfaces::NodeBaseInterface>(name, ns, context);
  node_timers_ = std::make_shared<node_interfaces::NodeTimersInterface>(node_base_.get());
  logger_ = rclcpp::get_logger(logger_name_for(node_base_->get_fully_qualified_name()));
  node_parameters_ = std::make_shared<node_interfaces::NodeParametersInterface>(
      logger_,
      resolve_parameter_overrides(node_base_->get_fully_qualified_name(),
                                  options.parameter_overrides(), &local_arguments_, global),
      options.automatically_declare_parameters_from_overrides(),
      options.allow_undeclared_parameters());
  // The resolver owns what it reads, so that the interface may outlive this object.
  node_services_ = std::make_shared<node_interfaces::NodeServicesInterface>(
      node_base_.get(),
      [name, ns, local = local_arguments_, context, use_global = options.use_global_arguments()](
          const std::string& service_name, bool only_expand) {
        return resolve_name(service_name, name, ns, local,
                            use_global ? &context->get_global_arguments() : nullptr, only_expand);
      });
  if (options.start_parameter_services()) {
    parameter_service_ = std::make_shared<rclcpp::ParameterService>(
        node_base_, node_services_, node_parameters_.get(), rmw_qos_profile_parameters);
  }
}

NodeCommon::~NodeCommon() = default;

std::string NodeCommon::resolve_topic_name(const std::string& topic) const {
  const RosArguments* global = options_.use_global_arguments()
                                   ? &node_base_->get_context()->get_global_arguments()
                                   : nullptr;
  return resolve_name(topic, node_base_->get_name(), node_base_->get_namespace(), local_arguments_,
                      global, false);
}

CallbackGroup::SharedPtr NodeCommon::group_or_default(const CallbackGroup::SharedPtr& group) const {
  if (group == nullptr) {
    return node_base_->get_default_callback_group();
  }
  if (!node_base_->callback_group_in_node(group)) {
    throw std::runtime_error("Cannot create subscription, group not in node.");
  }
  return group;
}

}  // namespace detail

Context::SharedPtr NodeOptions::context() const {
  return context_ != nullptr ? context_ : contexts::get_global_default_context();
}

namespace node_interfaces {

void NodeTimersInterface::add_timer(rclcpp::TimerBase::SharedPtr timer,
                                    rclcpp::CallbackGroup::SharedPtr callback_group) {
  if (callback_group == nullptr) {
    callback_group = node_base_->get_default_callback_group();
  } else if (!node_base_->callback_group_in_node(callback_group)) {
    throw std::runtime_error("Cannot create timer, group not in node.");
  }
  timer->set_callback_group(callback_group);
  callback_group->add_executable(timer);
}

}  // namespace node_interfaces
}  // namespace rclcpp
