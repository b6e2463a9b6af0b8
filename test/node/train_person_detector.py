#!/usr/bin/python3
"""Trains a small pillar network that finds people in simulated scans, for the node's tests.

Run with Debian's Python (python3-torch) at build time; the result is never committed. The input
is what the node hands its detector: the obstacle points of a frame (no ground, inside the region
of interest, at most 0.666 m high) in the robot's base frame. The network has the detector's
contract (inputs "voxels" [M, 32, 10], "coors" [M, 4], "voxel_num" [1]; outputs "cls_score",
"bbox_pred", "dir_cls_pred" per anchor of a 64 x 64 x 6 map) and scores only anchor type 0 of
class 0: a person's box is that anchor (0.8 m x 0.6 m) moved onto the person's centre.

Deterministic: fixed seeds, one thread, the same frames in the same order.

  train_person_detector.py OUTPUT DATASET_DIR [DATASET_DIR ...] [--steps N]
"""

import argparse
import glob
import math
import os
from typing import Dict, List, Tuple

import numpy as np
import torch
import yaml
from torch import nn

# The detector's grid (trelvon.yaml): 128 x 128 pillars of 0.16 m from -10.24 m, z from -1 to 3.
RANGE_MIN = -10.24
PILLAR = 0.16
GRID = 128
MAX_VOXELS = 10000
SLOTS = 32
FEATURES = 10
OUT = 64  # output map, stride 2
CLASSES = 3
ANCHORS_PER_CELL = 6
ANCHOR_DIAG = math.hypot(0.8, 0.6)
# What the node keeps of a scan (its default region of interest and obstacle height).
ROI_HALF = 5.0
MAX_HEIGHT = 0.666
BODY = (0.41, -0.315, 0.255)
CHANNELS = 9


class PersonPillars(nn.Module):
    def __init__(self, width: int = 24):
        super().__init__()
        # TorchScript reads attributes, not module globals.
        self.slots = SLOTS
        self.grid = GRID
        self.channels = CHANNELS
        self.out = OUT
        self.classes = CLASSES
        self.anchors = ANCHORS_PER_CELL
        self.net = nn.Sequential(
            nn.Conv2d(CHANNELS, width, 3, padding=1), nn.ReLU(),
            nn.Conv2d(width, width, 3, stride=2, padding=1), nn.ReLU(),
            nn.Conv2d(width, width, 3, padding=1), nn.ReLU(),
            nn.Conv2d(width, width, 3, padding=2, dilation=2), nn.ReLU())
        self.score = nn.Conv2d(width, 1, 1)
        self.offset = nn.Conv2d(width, 2, 1)

    def canvas(self, voxels: torch.Tensor, coors: torch.Tensor,
               voxel_num: torch.Tensor) -> torch.Tensor:
        """Per pillar: point count, highest, lowest and mean z, horizontal spread, occupancy, and
        the shares of its points below 0.2 m, from 0.2 to 0.4 m and above."""
        count = int(voxel_num[0])
        pillars = voxels[:count]
        mask = (pillars.abs().sum(dim=2, keepdim=True) > 0).to(pillars.dtype)
        n = mask.sum(dim=1).clamp(min=1.0)
        x = pillars[:, :, 0:1]
        y = pillars[:, :, 1:2]
        z = pillars[:, :, 2:3]
        mean_x = (x * mask).sum(dim=1) / n
        mean_y = (y * mask).sum(dim=1) / n
        mean_z = (z * mask).sum(dim=1) / n
        z_max = torch.where(mask > 0, z, torch.full_like(z, -10.0)).max(dim=1)[0]
        z_min = torch.where(mask > 0, z, torch.full_like(z, 10.0)).min(dim=1)[0]
        spread = (((x - mean_x.unsqueeze(1)) ** 2 + (y - mean_y.unsqueeze(1)) ** 2) * mask).sum(
            dim=1) / n
        low = (((z < 0.2).to(z.dtype)) * mask).sum(dim=1) / n
        middle = (((z >= 0.2) & (z < 0.4)).to(z.dtype) * mask).sum(dim=1) / n
        high = (((z >= 0.4).to(z.dtype)) * mask).sum(dim=1) / n
        features = torch.cat([n / float(self.slots), z_max, z_min, mean_z,
                              torch.sqrt(spread + 1e-6) * 5.0, torch.ones_like(n), low, middle,
                              high], dim=1)
        cells = coors[:count, 2].long() * self.grid + coors[:count, 3].long()
        canvas = torch.zeros(self.channels, self.grid * self.grid, dtype=voxels.dtype)
        canvas.index_put_((torch.arange(self.channels).unsqueeze(1), cells.unsqueeze(0)),
                          features.t())
        return canvas.view(1, self.channels, self.grid, self.grid)

    def heads(self, canvas: torch.Tensor) -> Tuple[torch.Tensor, torch.Tensor]:
        grid = self.net(canvas)
        return self.score(grid), self.offset(grid)

    def forward(self, voxels: torch.Tensor, coors: torch.Tensor,
                voxel_num: torch.Tensor) -> Dict[str, torch.Tensor]:
        score, offset = self.heads(self.canvas(voxels, coors, voxel_num))
        cells = self.out * self.out
        # Anchor-major rows: (row * W + col) * 6 + type. Only type 0, class 0 can score.
        cls = torch.full((cells, self.anchors, self.classes), -20.0)
        cls[:, 0, 0] = score.view(cells)
        box = torch.zeros(cells, self.anchors, 7)
        box[:, 0, 0:2] = offset.view(2, cells).t()
        return {
            "cls_score": cls.view(cells * self.anchors, self.classes),
            "bbox_pred": box.view(cells * self.anchors, 7),
            "dir_cls_pred": torch.zeros(cells * self.anchors, 2),
        }


def voxelize(points: np.ndarray) -> Tuple[torch.Tensor, torch.Tensor, torch.Tensor]:
    """Pillars in first-come order with at most SLOTS points each, x, y, z in features 0-2."""
    voxels = np.zeros((MAX_VOXELS, SLOTS, FEATURES), np.float32)
    coors = np.zeros((MAX_VOXELS, 4), np.int32)
    ix = np.floor((points[:, 0] - RANGE_MIN) / PILLAR).astype(np.int64)
    iy = np.floor((points[:, 1] - RANGE_MIN) / PILLAR).astype(np.int64)
    keep = (ix >= 0) & (ix < GRID) & (iy >= 0) & (iy < GRID) & (points[:, 2] >= -1.0) & (
        points[:, 2] < 3.0)
    points, ix, iy = points[keep], ix[keep], iy[keep]
    cell = iy * GRID + ix
    _, first, inverse = np.unique(cell, return_index=True, return_inverse=True)
    order = np.argsort(first, kind="stable")  # pillars numbered by first point
    rank = np.empty_like(order)
    rank[order] = np.arange(len(order))
    pillar = rank[inverse]
    slot = np.zeros(len(points), np.int64)
    seen: Dict[int, int] = {}
    for i, p in enumerate(pillar):
        slot[i] = seen.get(p, 0)
        seen[p] = slot[i] + 1
    ok = (slot < SLOTS) & (pillar < MAX_VOXELS)
    voxels[pillar[ok], slot[ok], 0:3] = points[ok, 0:3]
    count = min(len(order), MAX_VOXELS)
    firsts = first[order][:count]
    coors[:count, 2] = iy[firsts]
    coors[:count, 3] = ix[firsts]
    return torch.from_numpy(voxels), torch.from_numpy(coors), torch.tensor([count], dtype=torch.int32)


def quaternion_matrix(q: List[float]) -> np.ndarray:
    x, y, z, w = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


RECORD = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("i", "<f4"), ("t", "<u4"),
                   ("id", "<u2"), ("label", "u1"), ("line", "u1")])


def load_frames(dataset: str):
    """Yields (obstacle points in the base frame, person centres with their point counts)."""
    with open(os.path.join(dataset, "dataset.yaml")) as f:
        index = yaml.safe_load(f)
    mount = index["base_to_lidar"]
    rotation = quaternion_matrix(mount["rotation_xyzw"])
    translation = np.array(mount["translation"])
    for path in sorted(glob.glob(os.path.join(dataset, "frames", "*.bin"))):
        records = np.fromfile(path, RECORD)
        with open(path[:-4] + ".yaml") as f:
            meta = yaml.safe_load(f)
        xyz = np.stack([records["x"], records["y"], records["z"]], axis=1).astype(np.float64)
        base = xyz @ rotation.T + translation
        x, y, z = base[:, 0], base[:, 1], base[:, 2]
        on_body = (np.abs(y) < BODY[2]) & (((x > 0) & (x < BODY[0])) | ((x < 0) & (x > BODY[1])))
        keep = ((records["label"] != 0) & (np.abs(x) <= ROI_HALF) & (np.abs(y) <= ROI_HALF) &
                (z <= MAX_HEIGHT) & ~on_body)
        points = base[keep].astype(np.float32)
        people = []
        for box in meta.get("boxes") or []:
            if box["class"] != "person":
                continue
            near = np.hypot(points[:, 0] - box["x"], points[:, 1] - box["y"]) < 0.35
            people.append((box["x"], box["y"], int(near.sum())))
        yield points, people


def targets(people) -> Tuple[torch.Tensor, torch.Tensor, torch.Tensor]:
    """Score target, loss weight and centre offset per output cell."""
    centres = (np.arange(OUT) + 0.5) * (PILLAR * 2) + RANGE_MIN
    cx, cy = np.meshgrid(centres, centres)  # [row (y), col (x)]
    label = np.zeros((OUT, OUT), np.float32)
    weight = np.ones((OUT, OUT), np.float32)
    offset = np.zeros((2, OUT, OUT), np.float32)
    for px, py, count in people:
        distance = np.hypot(cx - px, cy - py)
        weight[distance < 0.6] = 0.0  # around a person only the centre cells count
        if count < 8:
            continue  # too few points to be seen: neither a person nor background
        centre = distance < 0.25
        label[centre] = 1.0
        weight[centre] = 1.0
        offset[0][centre] = ((px - cx) / ANCHOR_DIAG)[centre]
        offset[1][centre] = ((py - cy) / ANCHOR_DIAG)[centre]
    return torch.from_numpy(label), torch.from_numpy(weight), torch.from_numpy(offset)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("datasets", nargs="+")
    parser.add_argument("--steps", type=int, default=600)
    parser.add_argument("--seed", type=int, default=3)
    args = parser.parse_args()

    torch.manual_seed(args.seed)
    torch.set_num_threads(1)
    torch.use_deterministic_algorithms(True)
    model = PersonPillars()
    canvases, labels, weights, offsets = [], [], [], []
    with torch.no_grad():
        for dataset in args.datasets:
            for points, people in load_frames(dataset):
                canvases.append(model.canvas(*voxelize(points)))
                label, weight, offset = targets(people)
                labels.append(label)
                weights.append(weight)
                offsets.append(offset)
    canvases = torch.cat(canvases)
    labels = torch.stack(labels)
    weights = torch.stack(weights)
    offsets = torch.stack(offsets)
    frames = canvases.shape[0]
    print(f"{frames} frames, {int(labels.sum())} person cells")

    optimiser = torch.optim.Adam(model.parameters(), lr=3e-3)
    generator = torch.Generator().manual_seed(args.seed)
    positive_weight = torch.tensor(4.0)
    for step in range(args.steps):
        batch = torch.randint(0, frames, (16,), generator=generator)
        score, offset = model.heads(canvases[batch])
        score = score[:, 0]
        bce = nn.functional.binary_cross_entropy_with_logits(
            score, labels[batch], weight=weights[batch], pos_weight=positive_weight,
            reduction="sum") / weights[batch].sum()
        mask = labels[batch].unsqueeze(1)
        regression = (nn.functional.smooth_l1_loss(offset, offsets[batch], reduction="none") *
                      mask).sum() / mask.sum().clamp(min=1.0)
        loss = bce + regression
        optimiser.zero_grad()
        loss.backward()
        optimiser.step()
        if step % 50 == 0 or step == args.steps - 1:
            print(f"step {step}: score loss {bce.item():.4f}, offset loss {regression.item():.4f}")

    scripted = torch.jit.script(model.eval())
    scripted.save(args.output)


if __name__ == "__main__":
    main()
