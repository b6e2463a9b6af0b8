// tf2 buffer: interpolation, chaining, static frames, errors, waiting lookups, and the
// listener/broadcaster pair; pcl conversions of stamps and transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "pcl_conversions/pcl_conversions.h"
#include "pcl_ros/transforms.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"
#include "tf2/buffer_core.h"
#include "tf2/exceptions.h"
#include "tf2/time.h"
#include "tf2_ros/buffer.h"
#include "tf2_ros/create_timer_ros.h"
#include "tf2_ros/static_transform_broadcaster.h"
#include "tf2_ros/transform_listener.h"

namespace {

geometry_msgs::msg::TransformStamped make_tf(const std::string& parent, const std::string& child,
                                             double t_sec, double x, double y, double z,
                                             double yaw = 0.0) {
  geometry_msgs::msg::TransformStamped tf;
  tf.header.frame_id = parent;
  tf.child_frame_id = child;
  const tf2::TimePoint time = tf2::timeFromSec(t_sec);
  const int64_t ns = time.time_since_epoch().count();
  tf.header.stamp.sec = static_cast<int32_t>(ns / 1000000000LL);
  tf.header.stamp.nanosec = static_cast<uint32_t>(ns % 1000000000LL);
  tf.transform.translation.x = x;
  tf.transform.translation.y = y;
  tf.transform.translation.z = z;
  tf.transform.rotation.z = std::sin(yaw / 2.0);
  tf.transform.rotation.w = std::cos(yaw / 2.0);
  return tf;
}

double yaw_of(const geometry_msgs::msg::TransformStamped& tf) {
  const auto& q = tf.transform.rotation;
  return std::atan2(2.0 * (q.w * q.z + q.x * q.y), 1.0 - 2.0 * (q.y * q.y + q.z * q.z));
}

}  // namespace

TEST(BufferCore, InterpolatesTranslationLinearlyAndRotationBySlerp) {
  tf2::BufferCore buffer;
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", 10.0, 0.0, 0.0, 0.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", 12.0, 4.0, -2.0, 1.0, M_PI / 2), "test"));
  const auto mid = buffer.lookupTransform("map", "base", tf2::timeFromSec(11.5));
  // Three quarters of the way: translation (3, -1.5, 0.75), yaw 3/4 * 90 degrees.
  EXPECT_NEAR(mid.transform.translation.x, 3.0, 1e-9);
  EXPECT_NEAR(mid.transform.translation.y, -1.5, 1e-9);
  EXPECT_NEAR(mid.transform.translation.z, 0.75, 1e-9);
  EXPECT_NEAR(yaw_of(mid), 0.75 * M_PI / 2, 1e-9);
  EXPECT_EQ(mid.header.stamp.sec, 11);
  EXPECT_EQ(mid.header.stamp.nanosec, 500000000u);
  EXPECT_EQ(mid.header.frame_id, "map");
  EXPECT_EQ(mid.child_frame_id, "base");

  // Time zero: the latest data.
  const auto latest = buffer.lookupTransform("map", "base", tf2::TimePointZero);
  EXPECT_NEAR(latest.transform.translation.x, 4.0, 1e-9);
  EXPECT_EQ(latest.header.stamp.sec, 12);
}

TEST(BufferCore, ChainsThroughTheTreeAndInverts) {
  tf2::BufferCore buffer;
  // base sits at (1, 0, 0) in map turned by 90 degrees; lidar 0.5 m ahead of base, 1 m up.
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", 5.0, 1.0, 0.0, 0.0, M_PI / 2), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("base", "lidar", 0.0, 0.5, 0.0, 1.0), "test", true));
  ASSERT_TRUE(buffer.setTransform(make_tf("base", "camera", 0.0, 0.0, 0.2, 0.0), "test", true));

  // lidar in map: base origin + rotated (0.5, 0, 1) = (1, 0.5, 1).
  const auto lidar_in_map = buffer.lookupTransform("map", "lidar", tf2::TimePointZero);
  EXPECT_NEAR(lidar_in_map.transform.translation.x, 1.0, 1e-9);
  EXPECT_NEAR(lidar_in_map.transform.translation.y, 0.5, 1e-9);
  EXPECT_NEAR(lidar_in_map.transform.translation.z, 1.0, 1e-9);
  EXPECT_NEAR(yaw_of(lidar_in_map), M_PI / 2, 1e-9);
  EXPECT_EQ(lidar_in_map.header.stamp.sec, 5) << "static links do not limit the common time";

  // Sibling frames: camera origin seen from the lidar is (-0.5, 0.2, -1).
  const auto camera_in_lidar = buffer.lookupTransform("lidar", "camera", tf2::timeFromSec(5.0));
  EXPECT_NEAR(camera_in_lidar.transform.translation.x, -0.5, 1e-9);
  EXPECT_NEAR(camera_in_lidar.transform.translation.y, 0.2, 1e-9);
  EXPECT_NEAR(camera_in_lidar.transform.translation.z, -1.0, 1e-9);

  // The inverse direction: map origin in lidar coordinates. Map origin relative to the lidar
  // is (-1, -0.5, -1) in map axes; rotated by -90 degrees into lidar axes: (-0.5, 1, -1).
  const auto map_in_lidar = buffer.lookupTransform("lidar", "map", tf2::TimePointZero);
  EXPECT_NEAR(map_in_lidar.transform.translation.x, -0.5, 1e-9);
  EXPECT_NEAR(map_in_lidar.transform.translation.y, 1.0, 1e-9);
  EXPECT_NEAR(map_in_lidar.transform.translation.z, -1.0, 1e-9);

  // A static frame answers at any time.
  EXPECT_NO_THROW(buffer.lookupTransform("base", "lidar", tf2::timeFromSec(1234.0)));
}

TEST(BufferCore, ErrorsCarryTf2TypesAndTexts) {
  tf2::BufferCore buffer(tf2::durationFromSec(10.0));
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", 20.0, 0, 0, 0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", 21.0, 1, 0, 0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "wheel", 0.0, 0, 0, 0), "test", true));
  try {
    buffer.lookupTransform("map", "base", tf2::timeFromSec(22.0));
    FAIL();
  } catch (const tf2::ExtrapolationException& e) {
    EXPECT_STREQ(e.what(),
                 "Lookup would require extrapolation into the future.  Requested time 22.000000 "
                 "but the latest data is at time 21.000000, when looking up transform from frame "
                 "[base] to frame [map]");
  }
  try {
    buffer.lookupTransform("map", "base", tf2::timeFromSec(19.5));
    FAIL();
  } catch (const tf2::ExtrapolationException& e) {
    EXPECT_NE(std::string(e.what()).find("extrapolation into the past"), std::string::npos);
  }
  try {
    buffer.lookupTransform("map", "nowhere", tf2::TimePointZero);
    FAIL();
  } catch (const tf2::LookupException& e) {
    EXPECT_STREQ(e.what(),
                 "\"nowhere\" passed to lookupTransform argument source_frame does not exist. ");
  }
  try {
    buffer.lookupTransform("map", "wheel", tf2::TimePointZero);
    FAIL();
  } catch (const tf2::ConnectivityException& e) {
    EXPECT_STREQ(e.what(),
                 "Could not find a connection between 'map' and 'wheel' because they are not part "
                 "of the same tree.Tf has two or more unconnected trees.");
  }
  EXPECT_THROW(buffer.lookupTransform("", "base", tf2::TimePointZero),
               tf2::InvalidArgumentException);
  std::string error;
  EXPECT_FALSE(buffer.canTransform("map", "base", tf2::timeFromSec(30.0), &error));
  EXPECT_NE(error.find("extrapolation into the future"), std::string::npos);

  // Malformed input is refused and changes nothing.
  testing::internal::CaptureStderr();
  auto nan_tf = make_tf("map", "base", 20.5, std::nan(""), 0, 0);
  EXPECT_FALSE(buffer.setTransform(nan_tf, "test"));
  auto bad_quaternion = make_tf("map", "base", 20.5, 0, 0, 0);
  bad_quaternion.transform.rotation.w = 2.0;
  EXPECT_FALSE(buffer.setTransform(bad_quaternion, "test"));
  EXPECT_FALSE(buffer.setTransform(make_tf("map", "map", 20.5, 0, 0, 0), "test"));
  // Older than the 10 s cache behind the newest data.
  EXPECT_FALSE(buffer.setTransform(make_tf("map", "base", 5.0, 0, 0, 0), "test"));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("TF_NAN_INPUT"), std::string::npos);
  EXPECT_NE(log.find("TF_DENORMALIZED_QUATERNION"), std::string::npos);
  EXPECT_NE(log.find("TF_SELF_TRANSFORM"), std::string::npos);
  EXPECT_NEAR(buffer.lookupTransform("map", "base", tf2::timeFromSec(20.5)).transform.translation.x,
              0.5, 1e-9);
}

TEST(BufferCore, CacheForgetsDataOlderThanItsLength) {
  tf2::BufferCore buffer(tf2::durationFromSec(2.0));
  for (int t = 0; t <= 5; ++t) {
    ASSERT_TRUE(buffer.setTransform(make_tf("map", "base", t, t, 0, 0), "test"));
  }
  EXPECT_TRUE(buffer.canTransform("map", "base", tf2::timeFromSec(3.0)));
  EXPECT_FALSE(buffer.canTransform("map", "base", tf2::timeFromSec(2.5)));
}

TEST(BufferCore, TimeZeroTakesTheLatestTimeCommonToTheWholeChain) {
  tf2::BufferCore buffer;
  // map->odom known up to 11 s, odom->base up to 12 s, odom->laser up to 11.5 s.
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "odom", 10.0, 0.0, 0.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("map", "odom", 11.0, 1.0, 0.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "base", 10.0, 0.0, 0.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "base", 12.0, 0.0, 4.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "laser", 11.5, 0.0, 0.0, 2.0), "test"));

  // map->base at 11 s: odom at x = 1, base halfway along its link (y = 2).
  const auto base_in_map = buffer.lookupTransform("map", "base", tf2::TimePointZero);
  EXPECT_EQ(base_in_map.header.stamp.sec, 11);
  EXPECT_EQ(base_in_map.header.stamp.nanosec, 0u);
  EXPECT_NEAR(base_in_map.transform.translation.x, 1.0, 1e-9);
  EXPECT_NEAR(base_in_map.transform.translation.y, 2.0, 1e-9);

  // Siblings under odom: the map link plays no part, so 11.5 s; base at y = 3 then.
  const auto base_in_laser = buffer.lookupTransform("laser", "base", tf2::TimePointZero);
  EXPECT_EQ(base_in_laser.header.stamp.sec, 11);
  EXPECT_EQ(base_in_laser.header.stamp.nanosec, 500000000u);
  EXPECT_NEAR(base_in_laser.transform.translation.y, 3.0, 1e-9);
  EXPECT_NEAR(base_in_laser.transform.translation.z, -2.0, 1e-9);

  // A frame to itself is the identity, stamped with its latest data.
  const auto self = buffer.lookupTransform("base", "base", tf2::TimePointZero);
  EXPECT_EQ(self.header.stamp.sec, 12);
  EXPECT_DOUBLE_EQ(self.transform.translation.y, 0.0);
  EXPECT_DOUBLE_EQ(self.transform.rotation.w, 1.0);

  // A fixed time outside one link's data fails even though other links cover it.
  try {
    buffer.lookupTransform("map", "base", tf2::timeFromSec(11.5));
    FAIL() << "map->odom has no data after 11 s";
  } catch (const tf2::ExtrapolationException& e) {
    EXPECT_NE(std::string(e.what()).find("extrapolation into the future"), std::string::npos)
        << e.what();
  }
  try {
    buffer.lookupTransform("map", "base", tf2::timeFromSec(9.5));
    FAIL() << "no link has data before 10 s";
  } catch (const tf2::ExtrapolationException& e) {
    EXPECT_NE(std::string(e.what()).find("Lookup would require extrapolation into the past.  "
                                         "Requested time 9.500000 but the earliest data is at "
                                         "time 10.000000"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(buffer.lookupTransform("/map", "base", tf2::TimePointZero),
               tf2::InvalidArgumentException);
}

TEST(BufferCore, TimeTravelLookupGoesThroughTheFixedFrame) {
  tf2::BufferCore buffer;
  // The robot drives along x in odom: at 1 s at x = 1, at 3 s at x = 3.
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "base", 1.0, 1.0, 0.0, 0.0), "test"));
  ASSERT_TRUE(buffer.setTransform(make_tf("odom", "base", 3.0, 3.0, 0.0, 0.0), "test"));
  // Where the base pose at 1 s lies seen from the base at 3 s: 2 m behind.
  const auto then_in_now =
      buffer.lookupTransform("base", tf2::timeFromSec(3.0), "base", tf2::timeFromSec(1.0), "odom");
  EXPECT_NEAR(then_in_now.transform.translation.x, -2.0, 1e-9);
  EXPECT_EQ(then_in_now.header.frame_id, "base");
  EXPECT_EQ(then_in_now.child_frame_id, "base");
  // tf2 stamps the result with the time of the target side of the lookup.
  EXPECT_EQ(then_in_now.header.stamp.sec, 3);
  EXPECT_EQ(then_in_now.header.stamp.nanosec, 0u);
}

TEST(TimeHelpers, DurationFromSecRoundsToNanoseconds) {
  EXPECT_EQ(tf2::durationFromSec(0.2).count(), 200000000);
  EXPECT_EQ(tf2::durationFromSec(1.9999999999).count(), 2000000000);
  EXPECT_EQ(tf2::durationFromSec(-0.5).count(), -500000000);
  EXPECT_EQ(tf2::displayTimePoint(tf2::timeFromSec(1.25)), "1.250000");
}

class RosBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* argv[] = {"tf2_test"};
    rclcpp::init(1, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  }
  void TearDown() override { rclcpp::shutdown(); }
};

TEST_F(RosBufferTest, TimedLookupWaitsForLateDataAndTimesOutOtherwise) {
  auto node = std::make_shared<rclcpp::Node>("tf_wait");
  auto buffer = std::make_shared<tf2_ros::Buffer>(node->get_clock(), tf2::durationFromSec(10.0));
  auto group = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
  buffer->setCreateTimerInterface(std::make_shared<tf2_ros::CreateTimerROS>(
      node->get_node_base_interface(), node->get_node_timers_interface(), group));
  tf2_ros::TransformListener listener(*buffer, node, true);

  // Without data, the lookup gives up after its timeout with tf2's lookup error.
  EXPECT_THROW(
      buffer->lookupTransform("base", "lidar", tf2::TimePointZero, tf2::durationFromSec(0.05)),
      tf2::LookupException);

  // A static transform sent from another thread while the lookup waits is returned.
  auto sender_node = std::make_shared<rclcpp_lifecycle::LifecycleNode>("sender");
  tf2_ros::StaticTransformBroadcaster broadcaster(sender_node);
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    broadcaster.sendTransform(make_tf("base", "lidar", 0.0, 0.3, 0.0, 1.2));
  });
  const auto tf = buffer->lookupTransform("base", "lidar", rclcpp::Time(0, 0, RCL_ROS_TIME),
                                          rclcpp::Duration::from_seconds(5.0));
  sender.join();
  EXPECT_NEAR(tf.transform.translation.z, 1.2, 1e-9);

  Eigen::Matrix4f matrix;
  pcl_ros::transformAsMatrix(tf, matrix);
  EXPECT_FLOAT_EQ(matrix(0, 3), 0.3f);
  EXPECT_FLOAT_EQ(matrix(2, 3), 1.2f);
  EXPECT_FLOAT_EQ(matrix(3, 3), 1.0f);
  EXPECT_FLOAT_EQ(matrix(0, 0), 1.0f);
}

TEST_F(RosBufferTest, StaticBroadcasterKeepsLatestPerChildForLateListeners) {
  auto node = std::make_shared<rclcpp::Node>("static_sender");
  tf2_ros::StaticTransformBroadcaster broadcaster(node);
  broadcaster.sendTransform(make_tf("base", "cam0", 0.0, 1.0, 0.0, 0.0));
  broadcaster.sendTransform(make_tf("base", "cam1", 0.0, 2.0, 0.0, 0.0));
  broadcaster.sendTransform(make_tf("base", "cam0", 0.0, 3.0, 0.0, 0.0));

  // A listener created afterwards still gets both frames, cam0 with its latest value.
  auto buffer = std::make_shared<tf2_ros::Buffer>(node->get_clock());
  tf2_ros::TransformListener listener(*buffer);
  const auto cam0 =
      buffer->lookupTransform("base", "cam0", tf2::TimePointZero, tf2::durationFromSec(5.0));
  const auto cam1 =
      buffer->lookupTransform("base", "cam1", tf2::TimePointZero, tf2::durationFromSec(5.0));
  EXPECT_NEAR(cam0.transform.translation.x, 3.0, 1e-9);
  EXPECT_NEAR(cam1.transform.translation.x, 2.0, 1e-9);
}

TEST(PclConversions, TimeStampsAndCloudMetaDataRoundTrip) {
  {
    // Nanoseconds are cut to whole microseconds, not rounded.
    const rclcpp::Time t(3, 999999, RCL_ROS_TIME);
    EXPECT_EQ(pcl_conversions::toPCL(t), 3000999ull);
    rclcpp::Time back;
    pcl_conversions::fromPCL(3000999ull, back);
    EXPECT_EQ(back.nanoseconds(), 3000999000LL);
  }
  {
    sensor_msgs::msg::PointCloud2 msg;
    msg.header.frame_id = "lidar";
    msg.header.stamp.sec = 7;
    msg.header.stamp.nanosec = 250000000;
    msg.height = 2;
    msg.width = 3;
    msg.is_bigendian = false;
    msg.is_dense = false;
    msg.point_step = 4;
    msg.row_step = 12;
    sensor_msgs::msg::PointField field;
    field.name = "intensity";
    field.offset = 0;
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    msg.fields.push_back(field);
    msg.data.assign(24, 7);

    pcl::PCLPointCloud2 pcl_cloud;
    pcl_conversions::toPCL(msg, pcl_cloud);
    EXPECT_EQ(pcl_cloud.header.stamp, 7250000ull);
    EXPECT_EQ(pcl_cloud.height, 2u);
    EXPECT_EQ(pcl_cloud.width, 3u);
    EXPECT_EQ(pcl_cloud.row_step, 12u);
    EXPECT_EQ(pcl_cloud.is_dense, 0);
    ASSERT_EQ(pcl_cloud.fields.size(), 1u);
    EXPECT_EQ(pcl_cloud.fields[0].name, "intensity");
    EXPECT_EQ(pcl_cloud.fields[0].datatype, pcl::PCLPointField::FLOAT32);
    EXPECT_EQ(pcl_cloud.data.size(), 24u);

    sensor_msgs::msg::PointCloud2 back;
    pcl_conversions::fromPCL(pcl_cloud, back);
    EXPECT_EQ(back.header.frame_id, "lidar");
    EXPECT_EQ(back.header.stamp.sec, 7);
    EXPECT_EQ(back.header.stamp.nanosec, 250000000u);
    EXPECT_EQ(back.height, 2u);
    EXPECT_EQ(back.width, 3u);
    EXPECT_EQ(back.point_step, 4u);
    EXPECT_EQ(back.row_step, 12u);
    EXPECT_FALSE(back.is_dense);
    ASSERT_EQ(back.fields.size(), 1u);
    EXPECT_EQ(back.fields[0].offset, 0u);
    EXPECT_EQ(back.fields[0].count, 1u);
    EXPECT_EQ(back.data, msg.data);
  }
  {
    // A typed cloud keeps its organisation, density and header through toROSMsg/fromROSMsg.
    pcl::PointCloud<pcl::PointXYZI> cloud(2, 2);
    cloud.header.stamp = 1500000;  // 1.5 s in microseconds
    cloud.header.frame_id = "base";
    cloud.is_dense = false;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      cloud[i].x = static_cast<float>(i);
      cloud[i].intensity = 10.0f * static_cast<float>(i);
    }
    cloud[3].z = std::numeric_limits<float>::quiet_NaN();
    sensor_msgs::msg::PointCloud2 msg;
    pcl::toROSMsg(cloud, msg);
    EXPECT_EQ(msg.header.stamp.sec, 1);
    EXPECT_EQ(msg.header.stamp.nanosec, 500000000u);
    EXPECT_EQ(msg.height, 2u);
    EXPECT_EQ(msg.width, 2u);
    EXPECT_EQ(msg.row_step, 2u * msg.point_step);
    EXPECT_FALSE(msg.is_dense);
    pcl::PointCloud<pcl::PointXYZI> back;
    pcl::fromROSMsg(msg, back);
    EXPECT_EQ(back.header.stamp, 1500000ull);
    EXPECT_EQ(back.header.frame_id, "base");
    EXPECT_EQ(back.height, 2u);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_FLOAT_EQ(back[2].x, 2.0f);
    EXPECT_FLOAT_EQ(back[2].intensity, 20.0f);
    EXPECT_TRUE(std::isnan(back[3].z));
  }
}

TEST(PclRos, TransformAsMatrixComposesRotationAndTranslation) {
  // 90 degrees about x, then a shift of (1, 2, 3): the point (0, 1, 0) lands at (1, 2, 4).
  auto tf = make_tf("map", "base", 0.0, 1.0, 2.0, 3.0);
  tf.transform.rotation.x = std::sin(M_PI / 4);
  tf.transform.rotation.z = 0.0;
  tf.transform.rotation.w = std::cos(M_PI / 4);
  Eigen::Matrix4f m;
  pcl_ros::transformAsMatrix(tf, m);
  const Eigen::Vector4f p = m * Eigen::Vector4f(0.0f, 1.0f, 0.0f, 1.0f);
  EXPECT_NEAR(p.x(), 1.0f, 1e-6);
  EXPECT_NEAR(p.y(), 2.0f, 1e-6);
  EXPECT_NEAR(p.z(), 4.0f, 1e-6);
  EXPECT_NEAR(p.w(), 1.0f, 1e-6);
  // A quaternion and its negative describe the same rotation; a scaled one too.
  tf.transform.rotation.x = -3.0 * std::sin(M_PI / 4);
  tf.transform.rotation.w = -3.0 * std::cos(M_PI / 4);
  Eigen::Matrix4f negated;
  pcl_ros::transformAsMatrix(tf, negated);
  EXPECT_TRUE(negated.isApprox(m, 1e-6f)) << negated;
}

TEST(PclConversions, StampsInMicrosecondsAndNormalisedRotations) {
  std_msgs::msg::Header header;
  header.stamp.sec = 10;
  header.stamp.nanosec = 999999999;
  header.frame_id = "lidar";
  pcl::PCLHeader pcl_header;
  pcl_conversions::toPCL(header, pcl_header);
  EXPECT_EQ(pcl_header.stamp, 10999999ull);
  EXPECT_EQ(pcl_header.frame_id, "lidar");
  std_msgs::msg::Header back;
  pcl_conversions::fromPCL(pcl_header, back);
  EXPECT_EQ(back.stamp.sec, 10);
  EXPECT_EQ(back.stamp.nanosec, 999999000u);

  // A quaternion of length 2 describing 90 degrees about z still gives a rotation matrix.
  geometry_msgs::msg::Transform t;
  t.rotation.z = 2.0 * std::sin(M_PI / 4);
  t.rotation.w = 2.0 * std::cos(M_PI / 4);
  Eigen::Matrix4f m;
  pcl_ros::transformAsMatrix(t, m);
  EXPECT_NEAR(m(0, 0), 0.0f, 1e-6);
  EXPECT_NEAR(m(0, 1), -1.0f, 1e-6);
  EXPECT_NEAR(m(1, 0), 1.0f, 1e-6);
  EXPECT_NEAR(m(2, 2), 1.0f, 1e-6);

  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.push_back(pcl::PointXYZ(1.0f, 2.0f, 3.0f));
  sensor_msgs::msg::PointCloud2 msg;
  pcl::toROSMsg(cloud, msg);
  EXPECT_EQ(msg.point_step, 16u);
  EXPECT_EQ(msg.width, 1u);
  pcl::PointCloud<pcl::PointXYZ> round_trip;
  pcl::fromROSMsg(msg, round_trip);
  ASSERT_EQ(round_trip.size(), 1u);
  EXPECT_FLOAT_EQ(round_trip[0].z, 3.0f);
  msg.data.resize(8);  // shorter than one declared point
  EXPECT_THROW(pcl::fromROSMsg(msg, round_trip), std::invalid_argument);
}
