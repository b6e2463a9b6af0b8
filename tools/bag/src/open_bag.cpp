#include <fmt/format.h>

#include <filesystem>

#include "bag_io/bag_error.hpp"
#include "bag_io/bag_reader.hpp"
#include "bag_io/db3_reader.hpp"
#include "bag_io/mcap_reader.hpp"
#include "bag_metadata.hpp"

namespace bag_io {

namespace fs = std::filesystem;

std::unique_ptr<BagReader> openBag(const std::string& path) {
  const fs::path given(path);
  if (fs::is_directory(given)) {
    const std::string metadata_path = (given / "metadata.yaml").string();
    const BagMetadata metadata = readBagMetadata(metadata_path);
    if (metadata.storage_identifier == "sqlite3") {
      return std::make_unique<Db3Reader>(path);
    }
    if (metadata.storage_identifier == "mcap") {
      if (metadata.relative_file_paths.size() != 1) {
        throw BagError(metadata_path,
                       fmt::format("lists {} MCAP files; split MCAP bags are read one file at a "
                                   "time: pass the .mcap file",
                                   metadata.relative_file_paths.size()));
      }
      return std::make_unique<McapReader>((given / metadata.relative_file_paths[0]).string());
    }
    throw BagError(metadata_path, fmt::format("unknown storage_identifier '{}' (known: sqlite3, "
                                              "mcap)",
                                              metadata.storage_identifier));
  }
  if (!fs::exists(given)) {
    throw BagError(path, "no such file or folder");
  }
  if (given.extension() == ".mcap") {
    return std::make_unique<McapReader>(path);
  }
  if (given.extension() == ".db3") {
    return std::make_unique<Db3Reader>(path);
  }
  throw BagError(path, "unknown bag format: expected a .mcap file, a .db3 file or a bag folder");
}

}  // namespace bag_io
