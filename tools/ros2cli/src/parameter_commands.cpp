#include "ros2cli/parameter_commands.hpp"

#include <algorithm>

#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>

#include "ros2cli/parameter_text.hpp"
#include "ros2cli/service_call.hpp"

namespace ros2cli {

namespace {

using namespace rcl_interfaces::srv;

int nodeNotFound(const ServiceCommandContext& context) {
  context.err << "Node not found" << std::endl;
  return 1;
}

}  // namespace

int listParameters(const ServiceCommandContext& context, const std::string& node_name) {
  auto request = std::make_shared<ListParameters::Request>();
  request->depth = ListParameters::Request::DEPTH_RECURSIVE;
  const auto response = callService<ListParameters>(
      context.node, fullyQualifiedNodeName(node_name) + "/list_parameters", request,
      context.timeout);
  if (response == nullptr) {
    return nodeNotFound(context);
  }
  std::vector<std::string> names = response->result.names;
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    context.out << "  " << name << '\n';
  }
  context.out << std::flush;
  return 0;
}

int getParameter(const ServiceCommandContext& context, const std::string& node_name,
                 const std::string& parameter) {
  auto request = std::make_shared<GetParameters::Request>();
  request->names.push_back(parameter);
  const auto response = callService<GetParameters>(
      context.node, fullyQualifiedNodeName(node_name) + "/get_parameters", request,
      context.timeout);
  if (response == nullptr) {
    return nodeNotFound(context);
  }
  // A node answers an undeclared name with no value at all.
  if (response->values.empty()) {
    context.err << "Parameter not set." << std::endl;
    return 1;
  }
  if (response->values.size() != 1) {
    context.err << "Exception while calling service of node '" << node_name
                << "': expected one value, got " << response->values.size() << std::endl;
    return 1;
  }
  context.out << describeParameterValue(response->values[0]) << std::endl;
  return 0;
}

int setParameter(const ServiceCommandContext& context, const std::string& node_name,
                 const std::string& parameter, const std::string& value_text) {
  auto request = std::make_shared<SetParameters::Request>();
  rcl_interfaces::msg::Parameter entry;
  entry.name = parameter;
  entry.value = parameterValueFromText(value_text);
  request->parameters.push_back(entry);
  const auto response = callService<SetParameters>(
      context.node, fullyQualifiedNodeName(node_name) + "/set_parameters", request,
      context.timeout);
  if (response == nullptr) {
    return nodeNotFound(context);
  }
  if (response->results.size() != 1) {
    context.err << "Exception while calling service of node '" << node_name
                << "': expected one result, got " << response->results.size() << std::endl;
    return 1;
  }
  const auto& result = response->results[0];
  if (result.successful) {
    context.out << "Set parameter successful" << std::endl;
    return 0;
  }
  context.out << "Setting parameter failed" << (result.reason.empty() ? "" : ": " + result.reason)
              << std::endl;
  return 1;
}

}  // namespace ros2cli
