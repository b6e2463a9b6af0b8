// `ros2 lifecycle get|set` against one lifecycle node's services.
#pragma once

#include <string>

#include "ros2cli/parameter_commands.hpp"

namespace ros2cli {

// Prints "<label> [<id>]" of the node's current state. 0, or 1 when the node did not answer.
int getLifecycleState(const ServiceCommandContext& context, const std::string& node_name);

// `transition` is a label ("configure") or a transition id. Prints "Transitioning successful" or
// "Transitioning failed" (status 1); an unknown label lists the transitions the node has now.
int setLifecycleState(const ServiceCommandContext& context, const std::string& node_name,
                      const std::string& transition);

}  // namespace ros2cli
