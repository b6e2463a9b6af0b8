#include "file_handle.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

#include "bag_io/bag_error.hpp"

namespace bag_io {

FileHandle::FileHandle(std::string path, Mode mode) : path_(std::move(path)) {
  file_.reset(std::fopen(path_.c_str(), mode == Mode::kRead ? "rb" : "wb"));
  if (file_ == nullptr) {
    throw BagError(
        path_, fmt::format("cannot open for {}: {}", mode == Mode::kRead ? "reading" : "writing",
                           std::strerror(errno)));
  }
}

std::uint64_t FileHandle::size() const {
  if (std::fseek(file_.get(), 0, SEEK_END) != 0) {
    throw BagError(path_, fmt::format("cannot seek: {}", std::strerror(errno)));
  }
  const long end = std::ftell(file_.get());
  if (end < 0) {
    throw BagError(path_, fmt::format("cannot tell the size: {}", std::strerror(errno)));
  }
  return static_cast<std::uint64_t>(end);
}

void FileHandle::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) {
    throw BagError(path_, offset, fmt::format("cannot seek: {}", std::strerror(errno)));
  }
  const std::size_t got = std::fread(out, 1, size, file_.get());
  if (got != size) {
    throw BagError(path_, offset,
                   fmt::format("wanted {} bytes, the file holds {} from here", size, got));
  }
}

std::vector<std::uint8_t> FileHandle::readAt(std::uint64_t offset, std::size_t size) const {
  std::vector<std::uint8_t> bytes(size);
  readAt(offset, bytes.data(), size);
  return bytes;
}

void FileHandle::write(const std::uint8_t* data, std::size_t size) {
  if (file_ == nullptr) {
    throw BagError(path_, "write after close");
  }
  if (size > 0 && std::fwrite(data, 1, size, file_.get()) != size) {
    throw BagError(path_, fmt::format("write failed: {}", std::strerror(errno)));
  }
}

void FileHandle::close() {
  if (file_ == nullptr) {
    return;
  }
  std::FILE* f = file_.release();
  if (std::fclose(f) != 0) {
    throw BagError(path_, fmt::format("closing failed: {}", std::strerror(errno)));
  }
}

}  // namespace bag_io
