#include "lidar_sim/scan_pattern.hpp"

#include <cmath>

#include "lidar_sim/rosette_pattern.hpp"
#include "lidar_sim/spinning_pattern.hpp"

namespace lidar_sim {

namespace {

std::uint32_t periodNs(const LidarSpec& spec) {
  return static_cast<std::uint32_t>(std::llround(spec.frame_period * 1e9));
}

}  // namespace

std::shared_ptr<const ScanPattern> ScanPattern::create(const LidarSpec& spec) {
  if (spec.pattern == ScanPatternType::kRosette) {
    return std::make_shared<RosettePattern>(spec);
  }
  return std::make_shared<SpinningPattern>(spec);
}

SpinningPattern::SpinningPattern(const LidarSpec& spec) {
  const auto columns = static_cast<std::size_t>(std::floor(2.0 * M_PI / spec.azimuth_step + 1e-9));
  const std::size_t rings = spec.vertical_angles.size();
  const double column_ns = static_cast<double>(periodNs(spec)) / static_cast<double>(columns);
  beams_.reserve(columns * rings);
  for (std::size_t column = 0; column < columns; ++column) {
    const double azimuth = M_PI - static_cast<double>(column) * spec.azimuth_step;
    for (std::size_t ring = 0; ring < rings; ++ring) {
      const double elevation = spec.vertical_angles[ring];
      Beam beam;
      beam.direction =
          Eigen::Vector3d(std::cos(elevation) * std::cos(azimuth),
                          std::cos(elevation) * std::sin(azimuth), std::sin(elevation));
      // Rings fire in sequence within the column's time slot.
      beam.offset_ns = static_cast<std::uint32_t>(
          (static_cast<double>(column) + static_cast<double>(ring) / static_cast<double>(rings)) *
          column_ns);
      beam.line = static_cast<std::uint8_t>(ring);
      beams_.push_back(beam);
    }
  }
}

void SpinningPattern::beamsForFrame(std::uint32_t /*frame_index*/, std::vector<Beam>& beams) const {
  beams.assign(beams_.begin(), beams_.end());
}

RosettePattern::RosettePattern(const LidarSpec& spec) : spec_(spec) {}

void RosettePattern::beamsForFrame(std::uint32_t frame_index, std::vector<Beam>& beams) const {
  const auto count = static_cast<std::size_t>(spec_.points_per_frame);
  const double period_ns = static_cast<double>(periodNs(spec_));
  const double step_ns = period_ns / static_cast<double>(count);
  const double frame_start = static_cast<double>(frame_index) * spec_.frame_period;
  // Each prism deflects by half the cone angle, so together they reach its rim.
  const double half = spec_.cone_half_angle / 2.0;
  const double w1 = 2.0 * M_PI * spec_.prism_rate_1;
  const double w2 = 2.0 * M_PI * spec_.prism_rate_2;
  const double w_axis = 2.0 * M_PI * spec_.azimuth_rate;
  beams.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double offset_ns = static_cast<double>(i) * step_ns;
    // Frame-relative part kept separate from the frame start to hold precision over long runs.
    const double t_local = offset_ns * 1e-9;
    const double a1 = std::fmod(w1 * frame_start, 2.0 * M_PI) + w1 * t_local;
    const double a2 = std::fmod(w2 * frame_start, 2.0 * M_PI) + w2 * t_local;
    const double u = half * (std::cos(a1) + std::cos(a2));  // azimuth-wise deflection
    const int laser = static_cast<int>(i % static_cast<std::size_t>(spec_.lasers));
    const double v = half * (std::sin(a1) + std::sin(a2)) +
                     (laser - (spec_.lasers - 1) / 2.0) * spec_.laser_spacing;
    // Deflection (u, v) as angle from the axis and direction around it.
    const double off_axis = std::hypot(u, v);
    const double around = std::atan2(v, u);
    const Eigen::Vector3d local(std::cos(off_axis), std::sin(off_axis) * std::cos(around),
                                std::sin(off_axis) * std::sin(around));
    const double elevation = spec_.cone_elevation;
    const double azimuth = std::fmod(w_axis * frame_start, 2.0 * M_PI) + w_axis * t_local;
    // Axis along +x tilted up by the elevation, then turned by the azimuth.
    const Eigen::Vector3d tilted(std::cos(elevation) * local.x() - std::sin(elevation) * local.z(),
                                 local.y(),
                                 std::sin(elevation) * local.x() + std::cos(elevation) * local.z());
    Beam& beam = beams[i];
    beam.direction = Eigen::Vector3d(
        std::cos(azimuth) * tilted.x() - std::sin(azimuth) * tilted.y(),
        std::sin(azimuth) * tilted.x() + std::cos(azimuth) * tilted.y(), tilted.z());
    beam.offset_ns = static_cast<std::uint32_t>(offset_ns);
    beam.line = static_cast<std::uint8_t>(laser);
  }
}

}  // namespace lidar_sim
