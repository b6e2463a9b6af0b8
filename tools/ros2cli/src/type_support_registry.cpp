#include "ros2cli/type_support_registry.hpp"

#include <cstdlib>
#include <stdexcept>

#include <rosidl_runtime_c/message_type_support_struct.h>
#include <rosidl_runtime_c/service_type_support_struct.h>
#include <rosidl_typesupport_introspection_cpp/identifier.hpp>

#include "ros2cli/interface_name.hpp"

namespace ros2cli {

namespace {

using MessageHandleGetter = const rosidl_message_type_support_t* (*)();
using ServiceHandleGetter = const rosidl_service_type_support_t* (*)();

std::string libraryFile(const std::string& package) {
  return "lib" + package + "__rosidl_typesupport_introspection_cpp.so";
}

std::string symbolName(const InterfaceName& name) {
  const char* what = name.kind == "srv" ? "service" : "message";
  return std::string("rosidl_typesupport_introspection_cpp__get_") + what +
         "_type_support_handle__" + name.package + "__" + name.kind + "__" + name.type;
}

[[noreturn]] void throwNoType(const InterfaceName& name, const SharedLibrary& library) {
  const char* what = name.kind == "srv" ? "service" : "message";
  throw std::runtime_error(name.full() + ": package '" + name.package + "' has no " + what +
                           " type '" + name.type + "' (no " + symbolName(name) + " in " +
                           library.path() + ")");
}

// The introspection description behind the type support getter of `name` in `library`
// (`resolve` picks the C++ introspection handle out of what the getter returns).
template <typename Getter, typename Handle>
const void* introspectionData(const InterfaceName& name, const SharedLibrary& library,
                              const Handle* (*resolve)(const Handle*, const char*)) {
  const auto getter = reinterpret_cast<Getter>(library.symbol(symbolName(name)));
  if (getter == nullptr) {
    throwNoType(name, library);
  }
  const Handle* handle =
      resolve(getter(), rosidl_typesupport_introspection_cpp::typesupport_identifier);
  if (handle == nullptr || handle->data == nullptr) {
    throw std::runtime_error(name.full() + ": " + library.path() +
                             " gives no C++ introspection handle");
  }
  return handle->data;
}

}  // namespace

std::vector<std::string> amentPrefixes() {
  std::vector<std::string> prefixes;
  const char* value = std::getenv("AMENT_PREFIX_PATH");
  if (value == nullptr) {
    return prefixes;
  }
  const std::string text = value;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(':', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    if (end > start) {
      prefixes.push_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return prefixes;
}

TypeSupportRegistry::TypeSupportRegistry() : TypeSupportRegistry(amentPrefixes()) {}

TypeSupportRegistry::TypeSupportRegistry(std::vector<std::string> prefixes)
    : prefixes_{std::move(prefixes)} {}

std::shared_ptr<const SharedLibrary> TypeSupportRegistry::library(const std::string& package) {
  const auto known = libraries_.find(package);
  if (known != libraries_.end()) {
    return known->second;
  }
  const std::string file = libraryFile(package);
  std::string error;
  std::shared_ptr<const SharedLibrary> library = SharedLibrary::open(file, error);
  std::string reasons = "\n  " + error;
  for (const std::string& prefix : prefixes_) {
    if (library != nullptr) {
      break;
    }
    library = SharedLibrary::open(prefix + "/lib/" + file, error);
    reasons += "\n  " + error;
  }
  if (library == nullptr) {
    std::string searched = prefixes_.empty() ? " (AMENT_PREFIX_PATH is empty)" : "";
    for (const std::string& prefix : prefixes_) {
      searched += " " + prefix + "/lib";
    }
    throw std::runtime_error("package '" + package + "' not found: no " + file +
                             " on the library path nor in" + searched + reasons);
  }
  libraries_.emplace(package, library);
  return library;
}

std::shared_ptr<const SharedLibrary> TypeSupportRegistry::packageLibrary(
    const InterfaceName& name) {
  try {
    return library(name.package);
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(name.full() + ": " + error.what());
  }
}

MessageType TypeSupportRegistry::message(const std::string& text) {
  const InterfaceName name = parseInterfaceName(text, "msg");
  std::lock_guard<std::mutex> lock(mutex_);
  const auto known = messages_.find(name.full());
  if (known != messages_.end()) {
    return known->second;
  }
  std::shared_ptr<const SharedLibrary> library = packageLibrary(name);
  const auto* members = static_cast<const MessageMembers*>(
      introspectionData<MessageHandleGetter>(name, *library, &get_message_typesupport_handle));
  MessageType type{name.full(), members, library};
  messages_.emplace(type.name, type);
  return type;
}

ServiceType TypeSupportRegistry::service(const std::string& text) {
  const InterfaceName name = parseInterfaceName(text, "srv");
  std::lock_guard<std::mutex> lock(mutex_);
  const auto known = services_.find(name.full());
  if (known != services_.end()) {
    return known->second;
  }
  std::shared_ptr<const SharedLibrary> library = packageLibrary(name);
  const auto* members = static_cast<const ServiceMembers*>(
      introspectionData<ServiceHandleGetter>(name, *library, &get_service_typesupport_handle));
  ServiceType type{name.full(), members, library};
  services_.emplace(type.name, type);
  return type;
}

}  // namespace ros2cli
