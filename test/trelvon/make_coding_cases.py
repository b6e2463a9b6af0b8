#!/usr/bin/python3
"""Writes boxes and their network outputs as the trainer encodes them, for the decoding test.

  make_coding_cases.py OUTPUT.csv

One line per case: anchor number, class, the seven regression values, the two direction logits,
then the box (x, y, z, length, width, height, yaw) the regression was made from. The C++ test runs
the post-process on outputs where only that anchor fires and compares its box with this one.
"""

import math
import os
import sys

import numpy as np
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "trainer"))
from box_coding import grid_from_settings  # noqa: E402


def main() -> None:
    with open(os.path.join(ROOT, "tools", "trainer", "settings.yaml")) as f:
        settings = yaml.safe_load(f)
    anchors = grid_from_settings(settings)
    rng = np.random.default_rng(11)
    count = 200
    number = rng.integers(0, anchors.count, count)
    number[:3] = [0, 6 * anchors.cols + 1, anchors.count - 1]  # the corners of the map
    a = anchors.anchor_boxes(number)
    boxes = np.stack([a["xa"] + rng.uniform(-0.4, 0.4, count),
                      a["ya"] + rng.uniform(-0.4, 0.4, count),
                      rng.uniform(-0.2, 0.2, count),
                      a["la"] * rng.uniform(0.6, 1.6, count),
                      a["wa"] * rng.uniform(0.6, 1.6, count),
                      a["ha"] * rng.uniform(0.6, 1.3, count),
                      rng.uniform(-math.pi, math.pi, count)], axis=1)
    target, bins = anchors.encode(boxes, number)
    _, _, kind = anchors.split(number)
    with open(sys.argv[1], "w") as f:
        for i in range(count):
            logits = [-0.5, 0.5] if bins[i] == 1 else [0.5, -0.5]
            values = [int(number[i]), int(kind[i] // 2)] + [repr(float(v)) for v in target[i]]
            values += [repr(v) for v in logits] + [repr(float(v)) for v in boxes[i]]
            f.write(",".join(str(v) for v in values) + "\n")


if __name__ == "__main__":
    main()
