// Where Debian's mrpt-common package installs its VLP-16 recording.
#pragma once

namespace velodyne {

// One sweep of an outdoor scene, 75 data packets (gzip-compressed MRPT rawlog, BSD-3 licensed).
inline constexpr const char* kMrptVlp16Rawlog =
    "/usr/share/mrpt/datasets/test_velodyne_VLP16.rawlog";

}  // namespace velodyne
