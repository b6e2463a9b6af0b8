#include "bag_test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>

#include <sys/wait.h>

namespace bag_test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("bag_io_test_" + std::to_string(entropy()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

namespace {

// Little-endian CDR body after the encapsulation header; alignment counts from the body start.
class CdrBody {
 public:
  CdrBody() : bytes_{0x00, 0x01, 0x00, 0x00} {}
  void align(std::size_t n) {
    while ((bytes_.size() - 4) % n != 0)
      bytes_.push_back(0);
  }
  template <typename T>
  void put(T value) {
    align(sizeof(T));
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));  // the test machines are little endian
    bytes_.insert(bytes_.end(), raw, raw + sizeof(T));
  }
  void putString(const std::string& s) {
    put<std::uint32_t>(static_cast<std::uint32_t>(s.size() + 1));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  Bytes take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

}  // namespace

Bytes stringCdr(const std::string& text) {
  CdrBody body;
  body.putString(text);
  return body.take();
}

Bytes pointStampedCdr(std::int32_t sec, std::uint32_t nanosec, const std::string& frame_id,
                      double x, double y, double z) {
  CdrBody body;
  body.put(sec);
  body.put(nanosec);
  body.putString(frame_id);
  body.put(x);
  body.put(y);
  body.put(z);
  return body.take();
}

Bytes transformStampedCdr(std::int32_t sec, std::uint32_t nanosec, const std::string& frame_id,
                          const std::string& child_frame_id, const double translation[3],
                          const double rotation[4]) {
  CdrBody body;
  body.put(sec);
  body.put(nanosec);
  body.putString(frame_id);
  body.putString(child_frame_id);
  for (int i = 0; i < 3; ++i)
    body.put(translation[i]);
  for (int i = 0; i < 4; ++i)
    body.put(rotation[i]);
  return body.take();
}

Bytes pointCloud2Cdr(std::int32_t sec, const std::string& frame_id, const std::vector<float>& xyz) {
  CdrBody body;
  body.put(sec);
  body.put<std::uint32_t>(0);
  body.putString(frame_id);
  const auto points = static_cast<std::uint32_t>(xyz.size() / 3);
  body.put<std::uint32_t>(1);       // height
  body.put<std::uint32_t>(points);  // width
  body.put<std::uint32_t>(3);       // fields
  const char* names[] = {"x", "y", "z"};
  for (std::uint32_t i = 0; i < 3; ++i) {
    body.putString(names[i]);
    body.put<std::uint32_t>(4 * i);  // offset
    body.put<std::uint8_t>(7);       // FLOAT32
    body.put<std::uint32_t>(1);      // count
  }
  body.put<std::uint8_t>(0);             // is_bigendian
  body.put<std::uint32_t>(12);           // point_step
  body.put<std::uint32_t>(12 * points);  // row_step
  body.put<std::uint32_t>(12 * points);  // data length
  for (const float v : xyz) {
    std::uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    for (const std::uint8_t b : raw)
      body.put(b);
  }
  body.put<std::uint8_t>(1);  // is_dense
  return body.take();
}

const char* const kStringSchema = "string data\n";
const char* const kPointStampedSchema =
    "std_msgs/Header header\n"
    "geometry_msgs/Point point\n"
    "================================================================================\n"
    "MSG: std_msgs/Header\n"
    "builtin_interfaces/Time stamp\n"
    "string frame_id\n"
    "================================================================================\n"
    "MSG: builtin_interfaces/Time\n"
    "int32 sec\n"
    "uint32 nanosec\n"
    "================================================================================\n"
    "MSG: geometry_msgs/Point\n"
    "float64 x\n"
    "float64 y\n"
    "float64 z\n";

std::string hex(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::vector<bag_io::BagMessage> readAll(bag_io::BagReader& reader) {
  std::vector<bag_io::BagMessage> messages;
  bag_io::BagMessage message;
  while (reader.readNext(message)) {
    messages.push_back(message);
  }
  return messages;
}

std::vector<TopRecord> topRecords(const Bytes& file) {
  std::vector<TopRecord> records;
  std::uint64_t pos = 8;
  while (pos + 9 <= file.size()) {
    TopRecord record;
    record.opcode = file[pos];
    record.offset = pos;
    for (int i = 7; i >= 0; --i) {
      record.length = (record.length << 8) | file[pos + 1 + i];
    }
    records.push_back(record);
    if (record.opcode == 0x02) {
      break;
    }
    pos += 9 + record.length;
  }
  return records;
}

TopRecord firstRecord(const Bytes& file, std::uint8_t opcode) {
  for (const auto& record : topRecords(file)) {
    if (record.opcode == opcode) {
      return record;
    }
  }
  ADD_FAILURE() << "no record with opcode " << int{opcode};
  return {};
}

int runCommand(const std::string& command, std::string& output) {
  struct Closer {
    int* status;
    void operator()(FILE* f) const { *status = pclose(f); }
  };
  int status = -1;
  {
    std::unique_ptr<FILE, Closer> pipe(popen(command.c_str(), "r"), Closer{&status});
    if (pipe == nullptr) {
      return -1;
    }
    std::array<char, 4096> buffer{};
    output.clear();
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
      output.append(buffer.data(), n);
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bag_test
