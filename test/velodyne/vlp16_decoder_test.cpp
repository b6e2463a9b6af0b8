// Decoding of hand-built packets; every expected coordinate is worked out by hand from the
// distance, the interpolated azimuth and the laser's elevation (x = R cos w sin a,
// y = R cos w cos a, z = R sin w + vertical correction).
#include <gtest/gtest.h>

#include <vector>

#include "packet_builder.hpp"
#include "velodyne/packet_error.hpp"
#include "velodyne/vlp16_decoder.hpp"

namespace {

using velodyne::decodePacket;
using velodyne::decodeSweep;
using velodyne::MalformedPacketError;
using velodyne::Vlp16Point;
using velodyne_test::PacketBuilder;

constexpr float kTol = 1e-5F;

std::vector<Vlp16Point> decodeOne(const PacketBuilder& packet, double packet_time_s = 0.0) {
  std::vector<Vlp16Point> points;
  decodePacket(packet.bytes(), 0, packet_time_s, points);
  return points;
}

void expectPoint(const Vlp16Point& p, float x, float y, float z) {
  EXPECT_NEAR(p.x, x, kTol);
  EXPECT_NEAR(p.y, y, kTol);
  EXPECT_NEAR(p.z, z, kTol);
}

TEST(Vlp16Decoder, FirstLaserAtBlockAzimuthLiesOnTheXAxis) {
  // 10 m (5000 x 2 mm) from laser 0 (-15 deg) at azimuth 90 deg, fired first in the block.
  const auto points = decodeOne(PacketBuilder(9000, 40).setReturn(0, 0, 5000, 77));
  ASSERT_EQ(points.size(), 1U);
  // x = 10 cos 15 = 9.659258, z = 10 sin(-15) + 0.0112 = -2.576990.
  expectPoint(points[0], 9.659258F, 0.0F, -2.576990F);
  EXPECT_EQ(points[0].intensity, 77.0F);
  EXPECT_EQ(points[0].ring, 0);
  EXPECT_EQ(points[0].time_offset, 0.0F);
}

TEST(Vlp16Decoder, LaserElevationsFollowTheFiringOrder) {
  // Every laser returns 10 m at azimuth 0 (blocks all at 0: no interpolation), so y carries
  // R cos w and z carries R sin w plus the laser's vertical correction.
  PacketBuilder packet(0, 0);
  for (int laser = 0; laser < 16; ++laser) {
    packet.setReturn(0, laser, 5000, static_cast<std::uint8_t>(laser));
  }
  const auto points = decodeOne(packet);
  ASSERT_EQ(points.size(), 16U);
  // 10 sin(w) for w = -15, 1, -13, 3, ... 15 degrees, then the correction in mm.
  const float r_sin[16] = {-2.588190F, 0.174524F, -2.249511F, 0.523360F, -1.908090F, 0.871557F,
                           -1.564345F, 1.218693F, -1.218693F, 1.564345F, -0.871557F, 1.908090F,
                           -0.523360F, 2.249511F, -0.174524F, 2.588190F};
  const float correction_mm[16] = {11.2F, -0.7F, 9.7F, -2.2F, 8.1F, -3.7F, 6.6F, -5.1F,
                                   5.1F,  -6.6F, 3.7F, -8.1F, 2.2F, -9.7F, 0.7F, -11.2F};
  const std::uint16_t ring[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
  for (int laser = 0; laser < 16; ++laser) {
    SCOPED_TRACE(laser);
    const Vlp16Point& p = points[laser];
    EXPECT_NEAR(p.x, 0.0F, kTol);
    EXPECT_NEAR(p.y * p.y + r_sin[laser] * r_sin[laser], 100.0F, 1e-3F);  // cos^2 + sin^2
    EXPECT_NEAR(p.z, r_sin[laser] + correction_mm[laser] * 0.001F, kTol);
    EXPECT_EQ(p.ring, ring[laser]);
    EXPECT_EQ(p.intensity, static_cast<float>(laser));
  }
}

TEST(Vlp16Decoder, AzimuthIsInterpolatedByFiringTime) {
  // Laser 14 (-1 deg) fires 14 x 2.304 = 32.256 us into the block, 7/24 of its 110.592 us; with
  // a 0.40 deg step to the next block its azimuth is 0.40 x 7/24 = 0.116667 deg. R = 2 m:
  // x = 2 cos 1 sin 0.116667 = 0.0040718, y = 2 cos 1 cos 0.116667 = 1.9996912,
  // z = 2 sin(-1) + 0.0007 = -0.0342048.
  const auto points = decodeOne(PacketBuilder(0, 40).setReturn(0, 14, 1000, 9));
  ASSERT_EQ(points.size(), 1U);
  expectPoint(points[0], 0.0040718F, 1.9996912F, -0.0342048F);
  EXPECT_EQ(points[0].ring, 7);
  EXPECT_NEAR(points[0].time_offset, 32.256e-6F, 1e-9F);
}

TEST(Vlp16Decoder, SecondSequenceLiesHalfwayToTheNextBlockAcrossTheWrap) {
  // Block 0 at 359.80 deg, block 1 at 0.20 deg (stored 20): the step over the wrap is 0.40 deg,
  // so the second sequence fires at 359.80 + 0.20 = 360 = 0 deg, straight along +y.
  PacketBuilder packet(35980, 40);
  packet.setReturn(0, 16, 5000, 1);  // laser 0 of the second sequence, 10 m
  const auto points = decodeOne(packet, 0.5);
  ASSERT_EQ(points.size(), 1U);
  expectPoint(points[0], 0.0F, 9.659258F, -2.576990F);
  // 0.5 s packet time + 55.296 us.
  EXPECT_NEAR(points[0].time_offset, 0.500055296F, 1e-7F);

  // Within one turn: blocks at 89.80 and 90.20 deg put the second sequence at 90 deg, along +x.
  const auto mid = decodeOne(PacketBuilder(8980, 40).setReturn(0, 16, 5000, 1));
  ASSERT_EQ(mid.size(), 1U);
  expectPoint(mid[0], 9.659258F, 0.0F, -2.576990F);
}

TEST(Vlp16Decoder, LastBlockUsesThePrecedingStep) {
  // Blocks 0.00, 0.40, ... 4.40 deg; block 11 has no successor in the packet, so it advances by
  // the previous 0.40 deg step. Laser 5 (+5 deg) of its second sequence fires 55.296 + 5 x 2.304
  // = 66.816 us into the block: 4.40 + 0.40 x 66.816 / 110.592 = 4.641667 deg. R = 4 m:
  // x = 4 cos 5 sin 4.641667 = 0.322463, y = 4 cos 5 cos 4.641667 = 3.971710,
  // z = 4 sin 5 - 0.0037 = 0.344923. It fires 11 x 110.592 + 66.816 = 1283.328 us into the
  // packet.
  // Block 0 moved to 359.80 deg makes the first step 0.60 deg: only the last pair counts.
  const auto points =
      decodeOne(PacketBuilder(0, 40).setAzimuth(0, 35980).setReturn(11, 21, 2000, 200));
  ASSERT_EQ(points.size(), 1U);
  expectPoint(points[0], 0.322463F, 3.971710F, 0.344923F);
  EXPECT_NEAR(points[0].time_offset, 1283.328e-6F, 1e-9F);
  EXPECT_EQ(points[0].intensity, 200.0F);
}

TEST(Vlp16Decoder, ZeroDistanceIsNoReturn) {
  PacketBuilder packet(0, 40);
  packet.setReturn(2, 3, 0, 90).setReturn(2, 4, 1, 0).setReturn(5, 31, 65535, 255);
  const auto points = decodeOne(packet);
  ASSERT_EQ(points.size(), 2U);
  // The 2 mm return of laser 4 (-11 deg) and the farthest, 131.07 m, of laser 15 (+15 deg).
  EXPECT_NEAR(points[0].z, 0.002F * -0.190809F + 0.0081F, kTol);
  EXPECT_EQ(points[1].ring, 15);
  EXPECT_NEAR(points[1].z, 131.07F * 0.258819F - 0.0112F, 1e-3F);
}

TEST(Vlp16Decoder, SweepTimesCountFromTheFirstPacketAcrossTheHour) {
  // 999 us before the hour, then 328 us past it: 1327 us apart.
  const std::vector<std::vector<std::uint8_t>> packets = {
      PacketBuilder(0, 40, 3'599'999'001U).setReturn(0, 0, 5000, 1).bytes(),
      PacketBuilder(480, 40, 328U).setReturn(1, 2, 5000, 1).bytes()};
  const auto points = decodeSweep(packets);
  ASSERT_EQ(points.size(), 2U);
  EXPECT_NEAR(points[0].time_offset, 0.0F, 1e-9F);
  // 1327 us + block 1 (110.592 us) + laser 2 (4.608 us).
  EXPECT_NEAR(points[1].time_offset, 1442.2e-6F, 1e-8F);
  EXPECT_TRUE(decodeSweep({}).empty());
}

// Runs the decoder on a packet that must be rejected and returns the error it raised.
MalformedPacketError rejection(const std::vector<std::uint8_t>& bytes, std::size_t index = 4) {
  std::vector<Vlp16Point> points;
  try {
    decodePacket(bytes, index, 0.0, points);
  } catch (const MalformedPacketError& e) {
    EXPECT_TRUE(points.empty());
    return e;
  }
  ADD_FAILURE() << "packet accepted";
  return MalformedPacketError(0, 0, "none");
}

TEST(Vlp16Decoder, MalformedPacketsAreRejectedWithIndexAndOffset) {
  const auto good = [] { return PacketBuilder(0, 40).setReturn(0, 0, 5000, 1); };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t offset;
    const char* says;
  };
  std::vector<std::uint8_t> short_packet = good().bytes();
  short_packet.resize(1000);
  std::vector<std::uint8_t> long_packet = good().bytes();
  long_packet.push_back(0);
  const Case cases[] = {
      {"short", short_packet, 1000, "holds 1000 bytes"},
      {"empty", {}, 0, "holds 0 bytes"},
      {"long", long_packet, 1206, "holds 1207 bytes"},
      {"flag first byte", good().setByte(700, 0xFE).bytes(), 700, "block 7 flag"},
      {"flag second byte", good().setByte(1101, 0xDD).bytes(), 1100, "0xFFDD"},
      {"azimuth", good().setAzimuth(2, 36000).bytes(), 202, "azimuth"},
      {"timestamp", good().setU32(1200, 3'600'000'000U).bytes(), 1200, "timestamp"},
      {"dual return", good().setByte(1204, 0x39).bytes(), 1204, "return mode 0x39"},
      {"other product", good().setByte(1205, 0x21).bytes(), 1205, "product id 0x21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MalformedPacketError e = rejection(c.bytes);
    EXPECT_EQ(e.packetIndex(), 4U);
    EXPECT_EQ(e.byteOffset(), c.offset);
    const std::string what = e.what();
    EXPECT_NE(what.find("packet 4"), std::string::npos) << what;
    EXPECT_NE(what.find(c.says), std::string::npos) << what;
  }
  // Old firmware leaves both factory bytes zero: still decoded.
  std::vector<Vlp16Point> points;
  decodePacket(good().setByte(1204, 0).setByte(1205, 0).bytes(), 0, 0.0, points);
  EXPECT_EQ(points.size(), 1U);
}

TEST(Vlp16Decoder, SweepNamesTheMalformedPacket) {
  const std::vector<std::vector<std::uint8_t>> packets = {
      PacketBuilder(0, 40).bytes(), PacketBuilder(480, 40).bytes(),
      PacketBuilder(960, 40).setByte(300, 0).bytes()};
  try {
    decodeSweep(packets);
    FAIL() << "sweep with a broken packet accepted";
  } catch (const MalformedPacketError& e) {
    EXPECT_EQ(e.packetIndex(), 2U);
    EXPECT_EQ(e.byteOffset(), 300U);
  }
}

}  // namespace
