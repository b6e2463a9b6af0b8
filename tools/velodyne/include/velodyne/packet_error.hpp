// The error a malformed VLP-16 data packet raises.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace velodyne {

// Thrown by the decoder for a packet it cannot read: wrong size, missing block flag, azimuth or
// timestamp out of range, a return mode or product it does not decode. Names the packet's index
// in the sweep and the byte offset inside the packet where the fault lies.
class MalformedPacketError : public std::runtime_error {
 public:
  MalformedPacketError(std::size_t packet_index, std::size_t byte_offset, const std::string& what)
      : std::runtime_error(what), packet_index_(packet_index), byte_offset_(byte_offset) {}

  std::size_t packetIndex() const { return packet_index_; }
  std::size_t byteOffset() const { return byte_offset_; }

 private:
  std::size_t packet_index_;
  std::size_t byte_offset_;
};

}  // namespace velodyne
