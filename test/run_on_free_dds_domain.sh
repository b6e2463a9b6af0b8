#!/usr/bin/env bash
# Runs a test program on a DDS domain that no other test running at the same time uses, on this
# machine only: ctest runs the test cases of one program side by side (ctest -j), and a node in
# one must never receive another's scans. The domain is held by a lock on a file for as long as
# the program runs (the open descriptor passes to it through exec).
#
#   run_on_free_dds_domain.sh PROGRAM [ARGS...]
set -u
lock_dir="${TMPDIR:-/tmp}"
# 100 to 139 are handed out at configure time to single tests (corvanta_test_domain).
for domain in $(seq 140 232); do
  exec {lock}>"$lock_dir/corvanta-test-dds-domain-$domain.lock"
  if flock -n "$lock"; then
    export ROS_DOMAIN_ID="$domain" ROS_LOCALHOST_ONLY=1
    exec "$@"
  fi
  exec {lock}>&-
done
echo "run_on_free_dds_domain.sh: every DDS test domain from 140 to 232 is in use" >&2
exit 1
