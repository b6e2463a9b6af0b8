// Scalars written the way PyYAML's dumper writes them with allow_unicode and unlimited width,
// which is how `ros2 topic echo` prints every value.
#pragma once

#include <cstddef>
#include <string>

namespace ros2cli {

// Python's repr() of `value` with PyYAML's touches: lower case, ".0" added to a mantissa without
// a point ("1.0e-05", "1.0e+16"), ".inf", "-.inf", ".nan".
std::string yamlFloat(double value);

// `text` (code points) as a block-context scalar, UTF-8 encoded: plain when PyYAML would write it
// plain, else single-quoted, else double-quoted with escapes. A plain form is refused when it
// would read back as something else than a string (a number, a bool, null, a date, "<<", "="),
// which is why "" prints as '' and "1.5" as '1.5'. Line breaks inside a single-quoted scalar are
// written doubled and continue on lines indented by `indent` spaces.
std::string yamlString(const std::u32string& text, std::size_t indent);

// True when the plain scalar `text` reads back, under YAML 1.1 as PyYAML resolves it, as a
// value other than a string.
bool resolvesAsNonString(const std::string& text);

}  // namespace ros2cli
