// A dlopen()ed shared library, closed when the last owner lets go.
#pragma once

#include <memory>
#include <string>

namespace ros2cli {

// Owns one dlopen() reference (RTLD_NOW | RTLD_LOCAL). Symbols taken from it stay valid while the
// object lives; hold it through std::shared_ptr wherever such a symbol's data is kept.
class SharedLibrary {
 public:
  // Opens `path`; a bare file name is searched the way dlopen() searches (LD_LIBRARY_PATH, the
  // caller's runpath, the system directories). nullptr when it cannot be opened, with dlerror()'s
  // text in `error`.
  static std::shared_ptr<const SharedLibrary> open(const std::string& path, std::string& error);

  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of `name`, nullptr when the library does not export it.
  void* symbol(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::string path) : handle_{handle}, path_{std::move(path)} {}

  void* handle_;
  std::string path_;
};

}  // namespace ros2cli
