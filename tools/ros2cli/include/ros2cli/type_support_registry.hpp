// Message and service descriptions found at run time from their rosidl names.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <rosidl_typesupport_introspection_cpp/service_introspection.hpp>

#include "ros2cli/interface_name.hpp"
#include "ros2cli/shared_library.hpp"

namespace ros2cli {

using rosidl_typesupport_introspection_cpp::MessageMember;
using rosidl_typesupport_introspection_cpp::MessageMembers;
using rosidl_typesupport_introspection_cpp::ServiceMembers;

// A message type's C++ introspection description. `members` points into `library`, so copies of
// this value keep it valid on their own.
struct MessageType {
  std::string name;  // "pkg/msg/Type"
  const MessageMembers* members = nullptr;
  std::shared_ptr<const SharedLibrary> library;
};

// A service type's request and response descriptions, valid while `library` is held.
struct ServiceType {
  std::string name;  // "pkg/srv/Type"
  const ServiceMembers* members = nullptr;
  std::shared_ptr<const SharedLibrary> library;
};

// Finds lib<pkg>__rosidl_typesupport_introspection_cpp.so of a package by its plain name first
// (LD_LIBRARY_PATH, runpath) and then under <prefix>/lib of each prefix in order, and takes the
// type's handle from it. Every library and type found is kept for the registry's lifetime, so a
// name is looked up once. Thread-safe.
class TypeSupportRegistry {
 public:
  // Searches the prefixes of AMENT_PREFIX_PATH as it is now.
  TypeSupportRegistry();
  explicit TypeSupportRegistry(std::vector<std::string> prefixes);

  // `name` is "pkg/msg/Type" or "pkg/Type". Throws std::invalid_argument for a malformed name and
  // std::runtime_error for a package that is not found or that has no such type.
  MessageType message(const std::string& name);
  // `name` is "pkg/srv/Type" or "pkg/Type"; throws as message() does.
  ServiceType service(const std::string& name);

 private:
  std::shared_ptr<const SharedLibrary> library(const std::string& package);  // mutex_ held
  // The same, with errors naming the interface.
  std::shared_ptr<const SharedLibrary> packageLibrary(const InterfaceName& name);  // mutex_ held

  const std::vector<std::string> prefixes_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const SharedLibrary>> libraries_;  // guarded by mutex_
  std::map<std::string, MessageType> messages_;                            // guarded by mutex_
  std::map<std::string, ServiceType> services_;                            // guarded by mutex_
};

// The entries of AMENT_PREFIX_PATH (colon-separated, empty entries dropped); none when unset.
std::vector<std::string> amentPrefixes();

}  // namespace ros2cli
