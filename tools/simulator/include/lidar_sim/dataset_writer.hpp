// Writes simulated frames into a data set directory.
//
// The constructor creates the directory (and its frames folder) and writes the index; each
// `write` adds one frame's point file and metadata file; `finish` rewrites the index with the
// number of frames written. The destructor finishes a writer that was not finished, swallowing
// errors (call finish() to see them). Throws DatasetError naming the path on any I/O failure.
#pragma once

#include <cstdint>
#include <string>

#include "lidar_sim/dataset_layout.hpp"
#include "lidar_sim/scenario.hpp"
#include "lidar_sim/simulated_frame.hpp"

namespace lidar_sim {

class DatasetWriter {
 public:
  // `scenario_text`, when not empty, is saved as the directory's scenario copy. Frame files of an
  // earlier run in `directory` are removed first; other files stay.
  DatasetWriter(const std::string& directory, const Scenario& scenario,
                const std::string& scenario_text = "");
  ~DatasetWriter();
  DatasetWriter(const DatasetWriter&) = delete;
  DatasetWriter& operator=(const DatasetWriter&) = delete;

  void write(const SimulatedFrame& frame);
  void finish();

  std::uint32_t framesWritten() const { return frames_written_; }
  std::uint64_t bytesWritten() const { return bytes_written_; }
  // Frame files of an earlier run that the constructor removed.
  std::uint32_t staleFilesRemoved() const { return stale_files_removed_; }

 private:
  void removeStaleFrames();
  void writeIndex() const;

  std::string directory_;
  Scenario scenario_;
  std::uint32_t frames_written_{0};
  std::uint64_t bytes_written_{0};
  std::uint32_t stale_files_removed_{0};
  bool finished_{false};
  std::string buffer_;  // one frame's point records, reused
};

}  // namespace lidar_sim
