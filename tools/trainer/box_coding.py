"""Anchors and box coding of the pillar detector, as libtrelvon's post-process decodes them.

Anchor number N = (row * W + col) * 6 + type; row runs along y, col along x. An anchor of type t
has length, width, height and yaw anchors[t] and its bottom at anchor_bottom_heights[t // 2].

Regression per anchor (dx, dy, dz, dl, dw, dh, dyaw):
  x = dx * diag + xa, y = dy * diag + ya       diag = sqrt(la^2 + wa^2)
  zc = dz * ha + za                            za = ha / 2 + bottom height (anchor centre)
  length = la * exp(dl), width = wa * exp(dw), height = ha * exp(dh)
  z = zc - height / 2                          (bottom face)
  heading: r = ra + dyaw is folded into [dir_offset, dir_offset + pi) and turned by pi when the
  second direction logit is not below the first.
"""

import math
from typing import Dict, List, Tuple

import numpy as np

ANCHORS_PER_CELL = 6


class AnchorGrid:
    def __init__(self, min_range: List[float], max_range: List[float], feature_size: List[int],
                 anchors: List[List[float]], bottom_heights: List[float], dir_offset: float):
        self.rows, self.cols = int(feature_size[0]), int(feature_size[1])
        self.anchors = np.asarray(anchors, np.float32)
        self.bottom = np.asarray(bottom_heights, np.float32)
        self.dir_offset = np.float32(dir_offset)
        f32 = np.float32
        self.sx = f32(f32(max_range[0]) - f32(min_range[0])) / f32(self.cols)
        self.sy = f32(f32(max_range[1]) - f32(min_range[1])) / f32(self.rows)
        cols = np.arange(self.cols, dtype=np.float64)
        rows = np.arange(self.rows, dtype=np.float64)
        # Centres as the decoder computes them: in double, then rounded to float.
        self.col_x = ((cols + 0.5) * float(self.sx) + float(f32(min_range[0]))).astype(np.float32)
        self.row_y = ((rows + 0.5) * float(self.sy) + float(f32(min_range[1]))).astype(np.float32)

    @property
    def count(self) -> int:
        return self.rows * self.cols * ANCHORS_PER_CELL

    def split(self, number: np.ndarray) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """Row, column and type of anchor numbers."""
        cell, kind = np.divmod(np.asarray(number), ANCHORS_PER_CELL)
        row, col = np.divmod(cell, self.cols)
        return row, col, kind

    def anchor_boxes(self, number: np.ndarray) -> Dict[str, np.ndarray]:
        row, col, kind = self.split(number)
        la, wa, ha, ra = (self.anchors[kind, i] for i in range(4))
        bh = self.bottom[kind // 2]
        return {"xa": self.col_x[col], "ya": self.row_y[row],
                "za": (np.float32(0.5) * ha + bh).astype(np.float32), "la": la, "wa": wa,
                "ha": ha, "ra": ra, "diag": np.sqrt(la * la + wa * wa).astype(np.float32)}

    def direction_bin(self, yaw: np.ndarray) -> np.ndarray:
        """0 or 1: the half turn the heading lies in, counted from dir_offset."""
        u = np.asarray(yaw, np.float64) - float(self.dir_offset)
        return (np.floor(u / math.pi).astype(np.int64) % 2)

    def encode(self, boxes: np.ndarray, number: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        """Regression targets [n, 7] and direction bins [n] of boxes [n, 7] (x, y, z bottom,
        length, width, height, yaw) against anchors `number`."""
        boxes = np.asarray(boxes, np.float64)
        a = {k: v.astype(np.float64) for k, v in self.anchor_boxes(number).items()}
        target = np.zeros((len(boxes), 7), np.float64)
        target[:, 0] = (boxes[:, 0] - a["xa"]) / a["diag"]
        target[:, 1] = (boxes[:, 1] - a["ya"]) / a["diag"]
        target[:, 2] = (boxes[:, 2] + 0.5 * boxes[:, 5] - a["za"]) / a["ha"]
        target[:, 3] = np.log(boxes[:, 3] / a["la"])
        target[:, 4] = np.log(boxes[:, 4] / a["wa"])
        target[:, 5] = np.log(boxes[:, 5] / a["ha"])
        # Heading relative to the anchor, folded to [-pi/2, pi/2): the bin restores the rest.
        target[:, 6] = np.mod(boxes[:, 6] - a["ra"] + 0.5 * math.pi, math.pi) - 0.5 * math.pi
        return target.astype(np.float32), self.direction_bin(boxes[:, 6])

    def decode(self, regression: np.ndarray, direction: np.ndarray,
               number: np.ndarray) -> np.ndarray:
        """Boxes [n, 7] from regressions [n, 7] and direction logits [n, 2], in float as the
        post-process does (doubles only where it casts)."""
        f32 = np.float32
        reg = np.asarray(regression, f32)
        a = self.anchor_boxes(number)
        x = reg[:, 0] * a["diag"] + a["xa"]
        y = reg[:, 1] * a["diag"] + a["ya"]
        zc = reg[:, 2] * a["ha"] + a["za"]
        length = a["la"] * np.exp(reg[:, 3]).astype(f32)
        width = a["wa"] * np.exp(reg[:, 4]).astype(f32)
        height = a["ha"] * np.exp(reg[:, 5]).astype(f32)
        z = zc - f32(0.5) * height
        r = (a["ra"] + reg[:, 6]).astype(f32)
        u = (r - self.dir_offset).astype(f32)
        q = np.floor(u.astype(np.float64) / math.pi)
        v = (u.astype(np.float64) - q * math.pi).astype(f32)
        direction = np.asarray(direction, f32)
        flip = ~(direction[:, 0] > direction[:, 1])  # also when a logit is NaN
        yaw = ((v + self.dir_offset).astype(f32).astype(np.float64) +
               flip.astype(np.float64) * math.pi).astype(f32)
        return np.stack([x, y, z, length, width, height, yaw], axis=1).astype(f32)


def grid_from_settings(settings: Dict) -> AnchorGrid:
    grid = settings["grid"]
    return AnchorGrid(grid["min_range"], grid["max_range"], grid["feature_size"],
                      settings["anchors"], settings["anchor_bottom_heights"],
                      settings["dir_offset"])


def same_heading(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """Smallest difference of two headings, radians in [0, pi]."""
    d = np.mod(np.asarray(a, np.float64) - np.asarray(b, np.float64) + math.pi, 2 * math.pi)
    return np.abs(d - math.pi)
