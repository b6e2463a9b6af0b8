#!/usr/bin/python3
"""Writes pairs of rotated boxes with their overlap area and IoU computed by shapely.

Run with Debian's Python (python3-shapely). Output: one CSV line per pair,
  name, a (x, y, z, length, width, height, yaw), b (same), area, iou, near_margin
where near_margin is 1 when a corner of one box lies outside the other box but within the
detector's 0.01 m containment margin: the detector then counts that corner as inside, so its
polygon, and its area, can differ from the exact one by up to margin x edge length.
"""

import math
import random
import sys

from shapely.geometry import Point, Polygon

MARGIN = 0.01


def corners(box):
    x, y, _, length, width, _, yaw = box
    c, s = math.cos(yaw), math.sin(yaw)
    local = [(-length / 2, -width / 2), (length / 2, -width / 2), (length / 2, width / 2),
             (-length / 2, width / 2)]
    return [(u * c - v * s + x, u * s + v * c + y) for u, v in local]


def near_margin(a, b):
    for box, other in ((a, b), (b, a)):
        polygon = Polygon(corners(other))
        for corner in corners(box):
            distance = polygon.exterior.distance(Point(corner))
            if distance < 2 * MARGIN and not polygon.contains(Point(corner)):
                return 1
    return 0


def row(name, a, b):
    pa, pb = Polygon(corners(a)), Polygon(corners(b))
    area = pa.intersection(pb).area
    union = pa.area + pb.area - area
    iou = area / max(union, 1e-8)
    values = [name] + ["%.9g" % v for v in list(a) + list(b)] + ["%.9g" % area, "%.9g" % iou,
                                                                 str(near_margin(a, b))]
    return ",".join(values)


def main():
    rng = random.Random(20240611)
    rows = []
    # Hand-picked configurations.
    unit = (0.0, 0.0, 0.0, 4.0, 2.0, 1.0, 0.0)
    rows.append(row("identical", unit, unit))
    rows.append(row("nested", unit, (0.5, 0.2, 0.0, 1.0, 0.5, 1.0, 0.3)))
    rows.append(row("cross", unit, (0.0, 0.0, 0.0, 4.0, 2.0, 1.0, math.pi / 2)))
    rows.append(row("rotated_45", unit, (0.3, -0.2, 0.0, 3.0, 3.0, 1.0, math.pi / 4)))
    rows.append(row("half_shift", unit, (2.0, 0.0, 0.0, 4.0, 2.0, 1.0, 0.0)))
    rows.append(row("touching", unit, (4.0, 0.0, 0.0, 4.0, 2.0, 1.0, 0.0)))
    rows.append(row("disjoint", unit, (10.0, 3.0, 0.0, 4.0, 2.0, 1.0, 1.0)))
    rows.append(row("opposite_heading", unit, (0.0, 0.0, 0.0, 4.0, 2.0, 1.0, math.pi)))
    # Random pairs, most of them overlapping.
    for i in range(400):
        a = (rng.uniform(-3, 3), rng.uniform(-3, 3), 0.0, rng.uniform(0.2, 5), rng.uniform(0.2, 3),
             1.0, rng.uniform(-math.pi, math.pi))
        b = (a[0] + rng.uniform(-2.5, 2.5), a[1] + rng.uniform(-2.5, 2.5), 0.0,
             rng.uniform(0.2, 5), rng.uniform(0.2, 3), 1.0, rng.uniform(-math.pi, math.pi))
        rows.append(row("random_%d" % i, a, b))
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
