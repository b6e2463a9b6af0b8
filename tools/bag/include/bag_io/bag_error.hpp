// The one exception type of bag_io: a bag that cannot be read or written.
//
// The message always names the file; for damage inside a file it also names the byte offset
// where the damaged record starts (and, inside a compressed chunk, the offset within the chunk's
// uncompressed records), so a user can look at the bytes with a hex dump.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace bag_io {

class BagError : public std::runtime_error {
 public:
  // "<file>: <what>".
  BagError(const std::string& file, const std::string& what);
  // "<file>: at byte <offset>: <what>".
  BagError(const std::string& file, std::uint64_t offset, const std::string& what);

  const std::string& file() const { return file_; }
  // Offset of the damaged record, when the error concerns one.
  std::optional<std::uint64_t> offset() const { return offset_; }

 private:
  std::string file_;
  std::optional<std::uint64_t> offset_;
};

}  // namespace bag_io
