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
  // Rotating angles: prism 1, prism 2, cone axis azimuth. The frame start's share is reduced
  // modulo a turn separately, to keep precision over long recordings.
  const double rates[3] = {2.0 * M_PI * spec_.prism_rate_1, 2.0 * M_PI * spec_.prism_rate_2,
                           2.0 * M_PI * spec_.azimuth_rate};
  double start_angle[3];
  double step_cos[3];
  double step_sin[3];
  for (int r = 0; r < 3; ++r) {
    start_angle[r] = std::fmod(rates[r] * frame_start, 2.0 * M_PI);
    step_cos[r] = std::cos(rates[r] * step_ns * 1e-9);
    step_sin[r] = std::sin(rates[r] * step_ns * 1e-9);
  }
  const double cos_elevation = std::cos(spec_.cone_elevation);
  const double sin_elevation = std::sin(spec_.cone_elevation);
  const double laser_centre = (spec_.lasers - 1) / 2.0;
  // Angles advance by a fixed rotation per beam; exact values every few hundred beams keep the
  // rounding drift of the recurrence far below a micro-radian.
  constexpr std::size_t kResync = 512;
  double c[3] = {1.0, 1.0, 1.0};
  double s[3] = {0.0, 0.0, 0.0};
  beams.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double offset_ns = static_cast<double>(i) * step_ns;
    if (i % kResync == 0) {
      for (int r = 0; r < 3; ++r) {
        const double angle = start_angle[r] + rates[r] * offset_ns * 1e-9;
        c[r] = std::cos(angle);
        s[r] = std::sin(angle);
      }
    } else {
      for (int r = 0; r < 3; ++r) {
        const double next_c = c[r] * step_cos[r] - s[r] * step_sin[r];
        s[r] = s[r] * step_cos[r] + c[r] * step_sin[r];
        c[r] = next_c;
      }
    }
    const int laser = static_cast<int>(i % static_cast<std::size_t>(spec_.lasers));
    // Deflection from the axis: u across (azimuth-wise), v upwards.
    const double u = half * (c[0] + c[1]);
    const double v = half * (s[0] + s[1]) + (laser - laser_centre) * spec_.laser_spacing;
    const double off_axis = std::sqrt(u * u + v * v);
    // sin(off_axis) / off_axis, which tends to 1 on the axis.
    const double sinc = off_axis > 1e-9 ? std::sin(off_axis) / off_axis : 1.0;
    const double local_x = std::cos(off_axis);
    const double local_y = sinc * u;
    const double local_z = sinc * v;
    // Axis along +x tilted up by the elevation, then turned by the azimuth.
    const double tilted_x = cos_elevation * local_x - sin_elevation * local_z;
    const double tilted_z = sin_elevation * local_x + cos_elevation * local_z;
    Beam& beam = beams[i];
    beam.direction = Eigen::Vector3d(c[2] * tilted_x - s[2] * local_y,
                                     s[2] * tilted_x + c[2] * local_y, tilted_z);
    beam.offset_ns = static_cast<std::uint32_t>(offset_ns);
    beam.line = static_cast<std::uint8_t>(laser);
  }
}

}  // namespace lidar_sim
