#pragma once

#include "rclcpp/subscription_options.hpp"
