// Length of the picture's scale bar.
#pragma once

namespace birdseye {

// The largest length of the form 1, 2 or 5 times a power of ten that is not longer than a fifth
// of the picture's width (`width_px` * `metres_per_pixel` / 5), in metres. Preconditions: both
// arguments positive.
double scaleBarMetres(double metres_per_pixel, int width_px);

}  // namespace birdseye
