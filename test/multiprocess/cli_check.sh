#!/usr/bin/env bash
# lidar_obstacle_detector in one process, the lidar mount from static_transform_publisher in a
# second, simulated scans and the robot's pose from lidar_scan_player in a third, and the
# command-line tool in a fourth: it lists the nodes, echoes one of the node's obstacle messages,
# sets a ground-removal parameter (the node's next frame must log the update) and reads the
# lifecycle state, which must be "active".
#
#   cli_check.sh NODE PLAYER STATIC_TF_PUBLISHER CLI PARAMS_FILE
set -u
node=$1 player=$2 static_tf=$3 cli=$4 params=$5
logs=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$logs"
}
trap cleanup EXIT
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

# The office_crossing mount: 0.3 m above base_footprint, level.
"$static_tf" --z 0.3 --frame-id base_footprint --child-frame-id 3d_lidar_link \
  >"$logs/static_tf.log" 2>&1 &
pids+=($!)
"$node" --ros-args --params-file "$params" -p vir_cam_0.horizontal_start_pos:=-45.0 \
  -p vir_cam_0.horizontal_end_pos:=45.0 >"$logs/node.log" 2>&1 &
node_pid=$!
pids+=("$node_pid")
"$player" --scenario office_crossing --frames 300 --rate "${CHECK_RATE:-1}" --no-mount \
  --wait-for-subscriber 60 \
  >"$logs/player.log" 2>&1 &
pids+=($!)

# Discovery takes a moment, and a sanitizer build starts slowly: ask until every node is there.
for _ in $(seq 30); do
  nodes=$("$cli" node list 2>>"$logs/cli.err")
  grep -qx /lidar_detect_node <<<"$nodes" && grep -qx /lidar_scan_player <<<"$nodes" &&
    grep -q "^/static_transform_publisher_" <<<"$nodes" && break
done
for expected in /lidar_detect_node /lidar_scan_player; do
  grep -qx "$expected" <<<"$nodes" || fail "node list does not show $expected: $nodes"
done
grep -q "^/static_transform_publisher_" <<<"$nodes" || fail "node list shows no static_transform_publisher"

echo_out=$(timeout 60 "$cli" topic echo /livox/virtual_camera0_semantic_dynamic_obstacles --once \
  --no-arr 2>>"$logs/cli.err")
grep -q "^header:" <<<"$echo_out" && grep -q "^---$" <<<"$echo_out" ||
  fail "topic echo --once printed no obstacle message: $echo_out"
grep -q "frame_id: base_footprint" <<<"$echo_out" ||
  fail "the echoed obstacles are not in base_footprint: $echo_out"

set_out=$("$cli" param set /lidar_detect_node lidar_1.max_slope 0.25 2>>"$logs/cli.err")
[ "$set_out" = "Set parameter successful" ] || fail "param set printed: $set_out"
get_out=$("$cli" param get /lidar_detect_node lidar_1.max_slope 2>>"$logs/cli.err")
[ "$get_out" = "Double value is: 0.25" ] || fail "param get printed: $get_out"
state=$("$cli" lifecycle get /lidar_detect_node 2>>"$logs/cli.err")
[ "$state" = "active [3]" ] || fail "lifecycle get printed: $state"
# The next frame takes the new value.
sleep 2
grep -q "updates param named lidar_1.max_slope" "$logs/node.log" ||
  fail "the node did not log the request for lidar_1.max_slope"
grep -q "update params" "$logs/node.log" || fail "no frame of the node took the parameter update"

kill -INT "$node_pid"
for _ in $(seq 300); do
  kill -0 "$node_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$node_pid" 2>/dev/null; then
  fail "lidar_obstacle_detector still runs 30 s after SIGINT"
else
  wait "$node_pid" || fail "lidar_obstacle_detector exited with $? after SIGINT"
fi
if [ "$status" -ne 0 ]; then
  for name in node player static_tf; do
    echo "---- $name (last 30 lines)"
    tail -n 30 "$logs/$name.log"
  done
  echo "---- ros2_cli errors"
  cat "$logs/cli.err"
else
  echo "cli_check: node list, topic echo, param set/get and lifecycle get across four processes"
fi
exit "$status"
