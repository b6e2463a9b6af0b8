#!/usr/bin/python3
"""Writes TorchScript models for the inference engine and the pillar detector.

Run with Debian's Python (python3-torch). Models are generated at build time and never
committed. Weights are random with a fixed seed: the files exercise the whole data path
(pillar encoding, scatter into the bird's-eye grid, convolutions, anchor heads) with the
same shapes and cost as a trained network, but their boxes mean nothing.

Kinds:
  pillars      the detector network: inputs "voxels" float32 [M, P, F], "coors" int32 [M, 4],
               "voxel_num" int32 [1]; outputs "cls_score" [H*W*6, C], "bbox_pred" [H*W*6, 7],
               "dir_cls_pred" [H*W*6, 2], float32, anchor-major as the decoder reads them.
               With --fail-below X the network raises when a stored point's fourth feature
               (the intensity) is below X, so tests can provoke a failing inference.
  typed_echo   one input per element type (a uint8 [3], b float16 [2], c float32 [2, 2],
               d int32 [2], e int64 [2]); each output "<name>_out" is its input plus one.
"""

import argparse
from typing import Dict

import torch
from torch import nn

ANCHORS_PER_CELL = 6


class Pillars(nn.Module):
    def __init__(self, max_voxels: int, nx: int, ny: int, num_feature: int, num_classes: int,
                 channels: int, stride: int, fail_below: float):
        super().__init__()
        self.max_voxels = max_voxels
        self.nx = nx
        self.ny = ny
        self.channels = channels
        self.num_classes = num_classes
        self.stride = stride
        self.fail_below = fail_below
        self.check_intensity = fail_below != 0.0
        self.encoder = nn.Linear(num_feature, channels)
        self.block = nn.Sequential(
            nn.Conv2d(channels, 2 * channels, 3, stride=stride, padding=1), nn.ReLU(),
            nn.Conv2d(2 * channels, 2 * channels, 3, padding=1), nn.ReLU(),
            nn.Conv2d(2 * channels, 2 * channels, 3, padding=1), nn.ReLU())
        self.cls_head = nn.Conv2d(2 * channels, ANCHORS_PER_CELL * num_classes, 1)
        self.box_head = nn.Conv2d(2 * channels, ANCHORS_PER_CELL * 7, 1)
        self.dir_head = nn.Conv2d(2 * channels, ANCHORS_PER_CELL * 2, 1)

    def forward(self, voxels: torch.Tensor, coors: torch.Tensor,
                voxel_num: torch.Tensor) -> Dict[str, torch.Tensor]:
        count = int(voxel_num[0])
        if count < 0 or count > self.max_voxels:
            raise RuntimeError("voxel_num out of range")
        pillars = voxels[:count]
        if self.check_intensity and count > 0:
            if bool((pillars[:, :, 3] < self.fail_below).any()):
                raise RuntimeError("intensity below the model's limit")
        # Empty point slots are all zero; they must not win the max over the slots.
        occupied = (pillars.abs().sum(dim=2, keepdim=True) > 0).to(pillars.dtype)
        features = torch.relu(self.encoder(pillars)) * occupied
        pillar_features = features.max(dim=1)[0] if count > 0 else features.sum(dim=1)
        cells = coors[:count, 2].long() * self.nx + coors[:count, 3].long()
        canvas = torch.zeros(self.channels, self.ny * self.nx, dtype=voxels.dtype)
        canvas.index_put_((torch.arange(self.channels).unsqueeze(1), cells.unsqueeze(0)),
                          pillar_features.t())
        canvas = canvas.view(1, self.channels, self.ny, self.nx)
        grid = self.block(canvas)
        # Untrained weights score every cell alike; lifting the cells that hold points makes the
        # boxes land where the cloud is, so that the detector's output can be exercised.
        occupied_cells = (canvas.abs().sum(dim=1, keepdim=True) > 0).to(canvas.dtype)
        occupied_cells = torch.nn.functional.max_pool2d(occupied_cells, self.stride, self.stride)
        return {
            "cls_score": self.per_anchor(self.cls_head(grid) + 6.0 * occupied_cells,
                                         self.num_classes),
            "bbox_pred": self.per_anchor(self.box_head(grid), 7),
            "dir_cls_pred": self.per_anchor(self.dir_head(grid), 2),
        }

    def per_anchor(self, head: torch.Tensor, values: int) -> torch.Tensor:
        # [1, 6 * values, H, W] -> [H * W * 6, values]: anchor number (row * W + col) * 6 + type.
        return head.permute(0, 2, 3, 1).reshape(-1, values).contiguous()


class TypedEcho(nn.Module):
    def forward(self, a: torch.Tensor, b: torch.Tensor, c: torch.Tensor, d: torch.Tensor,
                e: torch.Tensor) -> Dict[str, torch.Tensor]:
        return {"a_out": a + 1, "b_out": b + 1, "c_out": c + 1, "d_out": d + 1, "e_out": e + 1}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=["pillars", "typed_echo"])
    parser.add_argument("output")
    parser.add_argument("--max-voxels", type=int, default=10000)
    parser.add_argument("--grid", type=int, nargs=2, default=[128, 128], metavar=("NX", "NY"))
    parser.add_argument("--num-feature", type=int, default=10)
    parser.add_argument("--num-classes", type=int, default=3)
    parser.add_argument("--channels", type=int, default=32)
    parser.add_argument("--stride", type=int, default=2)
    parser.add_argument("--fail-below", type=float, default=0.0)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()

    torch.manual_seed(args.seed)
    if args.kind == "pillars":
        model = Pillars(args.max_voxels, args.grid[0], args.grid[1], args.num_feature,
                        args.num_classes, args.channels, args.stride, args.fail_below)
        with torch.no_grad():
            # A few confident anchors per scene rather than none or all of them.
            model.cls_head.bias.fill_(-3.0)
            model.box_head.weight.mul_(0.1)
    else:
        model = TypedEcho()
    scripted = torch.jit.script(model.eval())
    scripted.save(args.output)


if __name__ == "__main__":
    main()
