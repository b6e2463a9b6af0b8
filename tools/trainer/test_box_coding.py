#!/usr/bin/python3
"""Checks of the trainer's box coding, pillars and targets against the detector's rules.

Run by ctest with Debian's Python; exits non-zero on the first failed check.
"""

import math
import os
import struct
import sys
import unittest

import numpy as np
import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from box_coding import ANCHORS_PER_CELL, grid_from_settings  # noqa: E402
import train_detector  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))


def load_settings():
    with open(os.path.join(HERE, "settings.yaml")) as f:
        return yaml.safe_load(f)


def random_boxes(rng, anchors, count):
    """Boxes near random anchors: centre within a cell, sizes around the anchor's, any yaw."""
    number = rng.integers(0, anchors.count, count)
    a = anchors.anchor_boxes(number)
    boxes = np.stack([a["xa"] + rng.uniform(-0.3, 0.3, count),
                      a["ya"] + rng.uniform(-0.3, 0.3, count),
                      rng.uniform(-0.1, 0.1, count),
                      a["la"] * rng.uniform(0.7, 1.4, count),
                      a["wa"] * rng.uniform(0.7, 1.4, count),
                      a["ha"] * rng.uniform(0.7, 1.2, count),
                      rng.uniform(-math.pi, math.pi, count)], axis=1)
    return boxes, number


def heading_error(a, b):
    d = np.mod(np.asarray(a, np.float64) - np.asarray(b, np.float64) + math.pi, 2 * math.pi)
    return np.abs(d - math.pi)


class BoxCodingTest(unittest.TestCase):
    def setUp(self):
        self.settings = load_settings()
        self.anchors = grid_from_settings(self.settings)

    def test_settings_agree_with_the_shipped_configuration(self):
        with open(os.path.join(ROOT, "config", "default_params", "trelvon.yaml")) as f:
            shipped = yaml.safe_load(f)
        post, pre = shipped["postprocess"], shipped["preprocess"]["pillar"]
        grid = self.settings["grid"]
        np.testing.assert_allclose(post["anchors"], self.settings["anchors"])
        np.testing.assert_allclose(post["anchor_bottom_heights"],
                                   self.settings["anchor_bottom_heights"])
        self.assertEqual(post["num_classes"], len(self.settings["classes"]))
        self.assertEqual(list(post["feature_size"]), list(grid["feature_size"]))
        for key in ("min_range", "max_range"):
            np.testing.assert_allclose(post[key], grid[key])
            np.testing.assert_allclose(pre[key], grid[key])
        np.testing.assert_allclose(pre["voxel_size"], grid["voxel_size"])
        self.assertEqual(pre["max_voxels"], grid["max_voxels"])
        self.assertEqual(pre["max_points_per_voxel"], grid["max_points_per_voxel"])
        rows, cols = grid["feature_size"]
        shape = shipped["backbone"]["output_shape"]
        self.assertEqual(shape["cls_score"], [rows * cols * 6, len(self.settings["classes"])])

    def test_the_heading_offset_is_the_decoders_float(self):
        bits = struct.unpack("<I", struct.pack("<f", float(self.anchors.dir_offset)))[0]
        self.assertEqual(bits, 0xBFC90FD8)

    def test_zero_regression_gives_the_anchor(self):
        number = np.array([0, 7, self.anchors.count - 1])
        boxes = self.anchors.decode(np.zeros((3, 7)), np.array([[1.0, 0.0]] * 3), number)
        a = self.anchors.anchor_boxes(number)
        sx = float(self.anchors.sx)
        self.assertAlmostEqual(float(boxes[0, 0]), -10.24 + 0.5 * sx, places=5)
        np.testing.assert_allclose(boxes[:, 0], a["xa"], atol=1e-6)
        np.testing.assert_allclose(boxes[:, 1], a["ya"], atol=1e-6)
        np.testing.assert_allclose(boxes[:, 2], self.anchors.bottom[self.anchors.split(number)[2]
                                                                    // 2], atol=1e-6)
        np.testing.assert_allclose(boxes[:, 3], a["la"], atol=1e-6)
        np.testing.assert_allclose(heading_error(boxes[:, 6], a["ra"]), 0.0, atol=1e-5)

    def test_direction_logits_pick_the_half_turn(self):
        number = np.array([0, 0])
        boxes = self.anchors.decode(np.zeros((2, 7)), np.array([[2.0, 1.0], [1.0, 2.0]]), number)
        self.assertAlmostEqual(float(boxes[0, 6]), 0.0, places=5)
        self.assertAlmostEqual(float(boxes[1, 6]), math.pi, places=5)

    def test_encode_then_decode_returns_the_box(self):
        rng = np.random.default_rng(1)
        boxes, number = random_boxes(rng, self.anchors, 2000)
        target, bins = self.anchors.encode(boxes, number)
        logits = np.where(bins[:, None] == 1, [[0.0, 1.0]], [[1.0, 0.0]])
        decoded = self.anchors.decode(target, logits, number)
        np.testing.assert_allclose(decoded[:, 0:6], boxes[:, 0:6], atol=2e-5, rtol=2e-5)
        self.assertLess(float(heading_error(decoded[:, 6], boxes[:, 6]).max()), 2e-5)
        # The folded heading regression stays within a quarter turn either way.
        self.assertLessEqual(float(np.abs(target[:, 6]).max()), math.pi / 2 + 1e-6)

    def test_a_wrong_direction_bin_turns_the_box_around(self):
        rng = np.random.default_rng(2)
        boxes, number = random_boxes(rng, self.anchors, 200)
        target, bins = self.anchors.encode(boxes, number)
        logits = np.where(bins[:, None] == 1, [[1.0, 0.0]], [[0.0, 1.0]])
        decoded = self.anchors.decode(target, logits, number)
        np.testing.assert_allclose(heading_error(decoded[:, 6], boxes[:, 6]), math.pi, atol=2e-5)

    def test_targets_decode_to_their_object(self):
        rng = np.random.default_rng(3)
        boxes = np.array([[0, 2.13, -3.4, 0.0, 0.4, 0.52, 1.75, 0.7],
                          [1, -5.0, 4.2, 0.0, 0.9, 0.55, 1.0, -2.0],
                          [2, 7.3, 7.7, 0.0, 1.75, 0.6, 1.7, 3.0]])
        counts = np.array([50, 50, 3])  # the cyclist is barely seen
        label, weight, regression, direction, positive = train_detector.make_targets(
            boxes, counts, self.anchors, self.settings)
        numbers = np.nonzero(positive)[0]
        self.assertGreater(len(numbers), 1)
        row, col, kind = self.anchors.split(numbers)
        logits = np.where(direction[numbers, None] == 1, [[0.0, 1.0]], [[1.0, 0.0]])
        decoded = self.anchors.decode(regression[numbers], logits, numbers)
        for n, k, box in zip(numbers, kind, decoded):
            cls = k // 2
            self.assertEqual(label[n, cls], 1.0)
            self.assertEqual(label[n].sum(), 1.0)
            owner = boxes[np.argmin(np.hypot(boxes[:, 1] - box[0], boxes[:, 2] - box[1]))]
            self.assertEqual(int(owner[0]), cls)
            np.testing.assert_allclose(box[0:6], owner[1:7], atol=1e-4)
            self.assertLess(float(heading_error(box[6], owner[7])), 1e-4)
        self.assertNotIn(2, set(kind // 2))  # too few points: no positive ...
        cell = (np.abs(self.anchors.row_y - 7.7).argmin() * self.anchors.cols +
                np.abs(self.anchors.col_x - 7.3).argmin())
        self.assertTrue((weight.reshape(-1, ANCHORS_PER_CELL, 3)[cell] == 0).all())  # ... ignored
        far = np.abs(self.anchors.row_y + 9.0).argmin() * self.anchors.cols
        self.assertTrue((weight.reshape(-1, ANCHORS_PER_CELL, 3)[far] == 1).all())
        self.assertTrue((label.reshape(-1, ANCHORS_PER_CELL, 3)[far] == 0).all())


class PillarTest(unittest.TestCase):
    def setUp(self):
        self.grid = load_settings()["grid"]

    def test_first_come_pillars_with_capped_slots(self):
        slots = self.grid["max_points_per_voxel"]
        points = [[5.0, 5.0, 0.5]]  # pillar 0
        points += [[-3.01, 2.02, 0.1 + 0.01 * i] for i in range(slots + 3)]  # pillar 1, capped
        points += [[10.24, 0.0, 0.0], [0.0, 0.0, 3.5], [-10.24, -10.24, -1.0]]  # out, out, in
        voxels, coors, count, source = train_detector.voxelize(np.array(points, np.float32),
                                                               self.grid)
        self.assertEqual(count, 3)
        self.assertEqual(list(coors[0, 1:]), [0, int((5.0 + 10.24) / 0.16), int((5.0 + 10.24) /
                                                                                 0.16)])
        self.assertEqual(list(coors[2, 1:]), [0, 0, 0])
        self.assertEqual(int((source[1] >= 0).sum()), slots)
        self.assertEqual(list(source[1, :3]), [1, 2, 3])
        stored = voxels[1, :slots]
        np.testing.assert_allclose(stored[:, 4:7].sum(axis=0), 0.0, atol=1e-4)
        centre_x = coors[1, 3] * 0.16 + (0.08 - 10.24)
        np.testing.assert_allclose(stored[:, 7], stored[:, 0] - centre_x, atol=1e-5)
        np.testing.assert_allclose(stored[:, 9], stored[:, 2] - 1.0, atol=1e-5)
        self.assertTrue((voxels[:, :, 3] == 0).all())
        self.assertTrue((voxels[0, 1:] == 0).all())


class HeightProfileTest(unittest.TestCase):
    """The pillar profile counts a pillar's stored points per height band and nothing else."""

    def test_shares_per_band_of_the_stored_points(self):
        import torch
        from pillar_net import PillarNet
        settings = load_settings()
        settings["network"]["height_profile"] = {"low": 0.0, "high": 2.0, "step": 0.5}
        net = PillarNet(settings).eval()
        slots = settings["grid"]["max_points_per_voxel"]
        # Bands: below 0, (0, 0.5], (0.5, 1], (1, 1.5], (1.5, 2], above 2; then the fill.
        points = [[5.0, 5.0, z] for z in (0.2, 0.3, 0.7, 1.7)]  # legs, hip, head
        points += [[-3.0, 2.0, -0.3]] * (slots + 4)  # below the lowest band, more than fit
        voxels, _, count, _ = train_detector.voxelize(np.array(points, np.float32),
                                                      settings["grid"])
        with torch.no_grad():
            features = net.pillar_features(torch.from_numpy(voxels[:count]))
        profile = features[:, net.channels:].numpy()
        self.assertEqual(profile.shape, (2, 6 + 1))
        np.testing.assert_allclose(profile[0], [0, 0.5, 0.25, 0, 0.25, 0, 4 / slots], atol=1e-6)
        np.testing.assert_allclose(profile[1], [1, 0, 0, 0, 0, 0, 1], atol=1e-6)


if __name__ == "__main__":
    unittest.main()
