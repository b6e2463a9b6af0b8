// The exceptions of tf2 lookups.
#pragma once

#include <stdexcept>
#include <string>

namespace tf2 {

// Base of every tf2 lookup error.
class TransformException : public std::runtime_error {
 public:
  explicit TransformException(const std::string errorDescription)
      : std::runtime_error(errorDescription) {}
};

// The two frames are in trees that are not connected.
class ConnectivityException : public TransformException {
 public:
  explicit ConnectivityException(const std::string errorDescription)
      : tf2::TransformException(errorDescription) {}
};

// A frame is unknown (or the tree contains a loop).
class LookupException : public TransformException {
 public:
  explicit LookupException(const std::string errorDescription)
      : tf2::TransformException(errorDescription) {}
};

// The requested time lies outside the buffered data.
class ExtrapolationException : public TransformException {
 public:
  explicit ExtrapolationException(const std::string errorDescription)
      : tf2::TransformException(errorDescription) {}
};

// An argument is malformed (an empty frame id, a frame id with a leading '/').
class InvalidArgumentException : public TransformException {
 public:
  explicit InvalidArgumentException(const std::string errorDescription)
      : tf2::TransformException(errorDescription) {}
};

// A wait for a transform ran out of time.
class TimeoutException : public TransformException {
 public:
  explicit TimeoutException(const std::string errorDescription)
      : tf2::TransformException(errorDescription) {}
};

}  // namespace tf2
