// An open stdio file with its name, closed on destruction; positioned reads and writes that
// throw BagError naming the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace bag_io {

class FileHandle {
 public:
  enum class Mode { kRead, kWrite };

  // Throws BagError with the system's reason if the file cannot be opened.
  FileHandle(std::string path, Mode mode);

  const std::string& path() const { return path_; }
  std::uint64_t size() const;

  // Reads exactly `size` bytes at `offset`; throws BagError if the file holds fewer.
  void readAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  std::vector<std::uint8_t> readAt(std::uint64_t offset, std::size_t size) const;

  // Appends at the current end; throws BagError on a short write.
  void write(const std::uint8_t* data, std::size_t size);
  // Flushes and closes; throws BagError if the flush fails. Idempotent.
  void close();

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace bag_io
