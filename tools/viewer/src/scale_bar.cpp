#include "birdseye/scale_bar.hpp"

#include <cmath>
#include <initializer_list>

namespace birdseye {

double scaleBarMetres(double metres_per_pixel, int width_px) {
  const double target = metres_per_pixel * width_px / 5.0;
  const double decade = std::pow(10.0, std::floor(std::log10(target)));
  // A small tolerance keeps a target of exactly 2 x 10^k from falling to 1 x 10^k by rounding.
  for (const double step : {5.0, 2.0, 1.0}) {
    if (step * decade <= target * (1.0 + 1e-9)) {
      return step * decade;
    }
  }
  return decade;
}

}  // namespace birdseye
