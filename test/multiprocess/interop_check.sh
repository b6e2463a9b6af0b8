#!/usr/bin/env bash
# Our ROS 2 layer against the real ROS 2 core on one DDS domain: programs of the build on our own
# layer (LAYER_BUILD) and of the colcon workspace built on the real rclcpp and rmw_cyclonedds_cpp
# (WORKSPACE) run side by side, each in the environment of its own build.
#
#  1. the real scan player feeds our node; the real output checker judges our node's outputs;
#     our recorder records; a real-rclcpp client sets a ground parameter and reads the lifecycle
#     state through our node's services;
#  2. our node runs; the real rclcpp lists it and its topics from what our layer announces;
#  3. the real node runs; our command-line tool lists it and its topics, reads a parameter and
#     the lifecycle state through its services (when the tool is built).
#
#   interop_check.sh LAYER_BUILD WORKSPACE HUMBLE_PREFIX
set -u
layer=$1 ws=$2 humble=$3
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
wrappers=$(mktemp -d)
trap 'rm -rf "$wrappers"' EXIT

# Each side must load its own librclcpp.so: the real one through the sourced environment, ours
# through the rpath of our build with no ROS library path in the way.
cat >"$wrappers/real" <<WRAPPER
#!/usr/bin/env bash
set +u
. "$humble/setup.sh"
. "$ws/install/setup.sh"
exec "\$@"
WRAPPER
cat >"$wrappers/ours" <<WRAPPER
#!/usr/bin/env bash
unset LD_LIBRARY_PATH RMW_IMPLEMENTATION
export AMENT_PREFIX_PATH="$layer/ament_prefix:$layer/interfaces_install"
exec "\$@"
WRAPPER
chmod +x "$wrappers/real" "$wrappers/ours"
wrap() {  # wrap NAME SIDE PROGRAM: a one-word command for run_check.sh
  printf '#!/usr/bin/env bash\nexec "%s" "%s" "$@"\n' "$wrappers/$2" "$3" >"$wrappers/$1"
  chmod +x "$wrappers/$1"
}
programs="$ws/install/lib/corvanta_3d_lidar_detect"
ws_tests="$ws/build/corvanta_3d_lidar_detect/test/multiprocess"
wrap our_node ours "$layer/src/lidar_obstacle_detector"
wrap our_recorder ours "$layer/tools/recorder/lidar_bag_recorder"
wrap real_player real "$programs/lidar_scan_player"
wrap real_checker real "$ws_tests/output_checker"
wrap real_probe real "$ws_tests/service_probe"

status=0
echo "interop_check: real player, checker and service client around our node"
if ! "$here/run_check.sh" "$wrappers/our_node" "$wrappers/real_player" "$wrappers/real_checker" \
  "$repo/config/default_params/lidar_detect_node.yaml" "$repo/tools/scenarios/office_crossing.yaml" \
  "$wrappers/our_recorder" "$wrappers/real_probe"; then
  status=1
fi

echo "interop_check: the real rclcpp sees our node"
log=$(mktemp)
"$wrappers/ours" "$layer/src/lidar_obstacle_detector" --ros-args \
  --params-file "$repo/config/default_params/lidar_detect_node.yaml" >"$log" 2>&1 &
our_node=$!
"$wrappers/ours" "$layer/tools/static_transform_publisher/static_transform_publisher" --z 0.3 \
  --frame-id base_footprint --child-frame-id 3d_lidar_link >/dev/null 2>&1 &
our_tf=$!
graph=$("$wrappers/real" "$ws_tests/graph_probe" 3)
kill -INT "$our_node" "$our_tf"
wait "$our_node" "$our_tf"
rm -f "$log"
echo "$graph"
grep -qx "node /lidar_detect_node" <<<"$graph" ||
  { echo "FAILED: the real rclcpp does not list our node /lidar_detect_node"; status=1; }
expected="topic /livox/virtual_camera0_semantic_dynamic_obstacles corvanta_protocol/msg/SemanticPointCloud"
grep -qxF "$expected" <<<"$graph" ||
  { echo "FAILED: the real rclcpp does not list: $expected"; status=1; }

cli="$layer/tools/ros2cli/ros2_cli"
if [ -x "$cli" ]; then
  echo "interop_check: our command-line tool sees the real node and calls its services"
  log=$(mktemp)
  "$wrappers/real" "$programs/lidar_obstacle_detector" --ros-args \
    --params-file "$repo/config/default_params/lidar_detect_node.yaml" >"$log" 2>&1 &
  real_node=$!
  # The node answers its services once configured, which waits for the lidar's mount.
  "$wrappers/ours" "$layer/tools/static_transform_publisher/static_transform_publisher" --z 0.3 \
    --frame-id base_footprint --child-frame-id 3d_lidar_link >/dev/null 2>&1 &
  our_tf=$!
  sleep 3
  nodes=$("$wrappers/ours" "$cli" node list)
  topics=$("$wrappers/ours" "$cli" topic list -t)
  # Our service clients against the real middleware's servers, which answer a client only once
  # they have found its reply reader.
  slope=$("$wrappers/ours" "$cli" param get /lidar_detect_node lidar_1.max_slope)
  state=$("$wrappers/ours" "$cli" lifecycle get /lidar_detect_node)
  kill -INT "$real_node" "$our_tf"
  wait "$real_node" "$our_tf"
  echo "$nodes"
  if ! grep -qx "/lidar_detect_node" <<<"$nodes"; then
    echo "FAILED: ros2_cli node list does not show the real node /lidar_detect_node"
    status=1
  fi
  expected="/livox/virtual_camera0_semantic_dynamic_obstacles [corvanta_protocol/msg/SemanticPointCloud]"
  if ! grep -qxF "$expected" <<<"$topics"; then
    echo "FAILED: ros2_cli topic list -t does not show: $expected"
    echo "$topics"
    status=1
  fi
  if [ "$slope" != "Double value is: 0.2" ]; then
    echo "FAILED: ros2_cli param get of the real node printed: $slope"
    status=1
  fi
  if [ "$state" != "active [3]" ]; then
    echo "FAILED: ros2_cli lifecycle get of the real node printed: $state"
    status=1
  fi
  rm -f "$log"
fi
exit "$status"
