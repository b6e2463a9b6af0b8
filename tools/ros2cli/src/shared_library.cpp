#include "ros2cli/shared_library.hpp"

#include <dlfcn.h>

namespace ros2cli {

std::shared_ptr<const SharedLibrary> SharedLibrary::open(const std::string& path,
                                                         std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
    return nullptr;
  }
  return std::shared_ptr<const SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() {
  dlclose(handle_);
}

void* SharedLibrary::symbol(const std::string& name) const {
  return dlsym(handle_, name.c_str());
}

}  // namespace ros2cli
