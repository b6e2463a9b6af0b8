"""The pillar network with libtrelvon's contract.

Inputs "voxels" float32 [M, P, 10], "coors" int32 [M, 4] (batch, z, y, x), "voxel_num" int32 [1];
outputs "cls_score" [H*W*6, C], "bbox_pred" [H*W*6, 7], "dir_cls_pred" [H*W*6, 2], float32, rows
numbered (row * W + col) * 6 + anchor type.

Pillar feature net: linear, batch norm and ReLU on every stored point (empty slots and pillars
beyond voxel_num take no part), the maximum over a pillar's points; scattered onto the bird's-eye
canvas (the grid of the pre-process); a two-stage 2-D backbone (stride 2 and stride 4, the second
upsampled and joined to the first) and 1 x 1 heads at stride 2. The intensity (feature 3) is not
used: the node hands the detector clouds without it.
"""

from typing import Dict, List, Tuple

import torch
from torch import nn

ANCHORS_PER_CELL = 6


def conv_bn(inputs: int, outputs: int, stride: int = 1) -> List[nn.Module]:
    return [nn.Conv2d(inputs, outputs, 3, stride=stride, padding=1, bias=False),
            nn.BatchNorm2d(outputs, eps=1e-3, momentum=0.01), nn.ReLU()]


class PillarNet(nn.Module):
    def __init__(self, settings: Dict):
        super().__init__()
        grid = settings["grid"]
        net = settings["network"]
        lo, hi, size = grid["min_range"], grid["max_range"], grid["voxel_size"]
        self.nx = int(round((hi[0] - lo[0]) / size[0]))
        self.ny = int(round((hi[1] - lo[1]) / size[1]))
        self.max_voxels = int(grid["max_voxels"])
        self.num_classes = len(settings["classes"])
        self.channels = int(net["pillar_channels"])
        c1, c2 = int(net["block_channels"][0]), int(net["block_channels"][1])
        up = int(net["up_channels"])
        # Which point features the encoder reads: all but the intensity.
        self.register_buffer("feature_mask",
                             torch.tensor([1, 1, 1, 0, 1, 1, 1, 1, 1, 1], dtype=torch.float32))
        self.linear = nn.Linear(10, self.channels, bias=False)
        self.norm = nn.BatchNorm1d(self.channels, eps=1e-3, momentum=0.01)
        # Optional profile of each pillar: the share of its stored points in each height band
        # (edges in metres, base frame) and how full it is. The maximum over points keeps a
        # pillar's extremes, not how its points spread between them, which is what tells a
        # person from a chair, a table's legs or a column.
        profile = net.get("height_profile")
        edges: List[float] = []
        if profile:
            low, high, step = (float(profile["low"]), float(profile["high"]),
                               float(profile["step"]))
            edges = [low + step * k for k in range(int(round((high - low) / step)) + 1)]
        self.register_buffer("height_edges", torch.tensor(edges, dtype=torch.float32),
                             persistent=False)
        self.profile_channels = len(edges) + 2 if edges else 0
        self.slots = int(grid["max_points_per_voxel"])
        self.canvas_channels = self.channels + self.profile_channels
        layers1, layers2 = int(net["block_layers"][0]), int(net["block_layers"][1])
        block1 = conv_bn(self.canvas_channels, c1, 2)
        for _ in range(layers1 - 1):
            block1 += conv_bn(c1, c1)
        block2 = conv_bn(c1, c2, 2)
        for _ in range(layers2 - 1):
            block2 += conv_bn(c2, c2)
        self.block1 = nn.Sequential(*block1)
        self.block2 = nn.Sequential(*block2)
        self.up1 = nn.Sequential(nn.Conv2d(c1, up, 1, bias=False),
                                 nn.BatchNorm2d(up, eps=1e-3, momentum=0.01), nn.ReLU())
        self.up2 = nn.Sequential(nn.ConvTranspose2d(c2, up, 2, stride=2, bias=False),
                                 nn.BatchNorm2d(up, eps=1e-3, momentum=0.01), nn.ReLU())
        # Output stride 1 (one cell per pillar) places a person's box to a pillar instead of two:
        # the joined stride-2 features are upsampled once more before the heads.
        self.output_stride = int(net.get("output_stride", 2))
        if self.output_stride not in (1, 2):
            raise ValueError("network.output_stride must be 1 or 2")
        head_in = 2 * up
        self.up0 = None
        if self.output_stride == 1:
            self.up0 = nn.Sequential(nn.ConvTranspose2d(2 * up, up, 2, stride=2, bias=False),
                                     nn.BatchNorm2d(up, eps=1e-3, momentum=0.01), nn.ReLU())
            head_in = up
        self.cls_head = nn.Conv2d(head_in, ANCHORS_PER_CELL * self.num_classes, 1)
        self.box_head = nn.Conv2d(head_in, ANCHORS_PER_CELL * 7, 1)
        self.dir_head = nn.Conv2d(head_in, ANCHORS_PER_CELL * 2, 1)
        with torch.no_grad():
            self.cls_head.bias.fill_(-4.6)  # a prior of 1 % foreground
            self.box_head.weight.mul_(0.1)
            self.box_head.bias.zero_()

    def pillar_features(self, voxels: torch.Tensor) -> torch.Tensor:
        """[n, P, 10] -> [n, channels]: the encoder on stored points, maximum per pillar."""
        occupied = voxels.abs().sum(dim=2) > 0
        out = torch.zeros(voxels.shape[0], voxels.shape[1], self.channels, dtype=voxels.dtype)
        points = voxels[occupied] * self.feature_mask
        if points.shape[0] > 0:
            out[occupied] = torch.relu(self.norm(self.linear(points)))
        features = out.max(dim=1)[0]
        if self.profile_channels == 0:
            return features
        bands = torch.bucketize(voxels[:, :, 2].contiguous(), self.height_edges)
        stored = occupied.to(voxels.dtype)
        share = torch.zeros(voxels.shape[0], self.profile_channels - 1, dtype=voxels.dtype)
        share = share.scatter_add(1, bands, stored)
        count = stored.sum(dim=1, keepdim=True)
        share = share / count.clamp(min=1.0)
        fill = count / float(self.slots)
        return torch.cat([features, share, fill], dim=1)

    def heads(self, canvas: torch.Tensor) -> Tuple[torch.Tensor, torch.Tensor, torch.Tensor]:
        x1 = self.block1(canvas)
        x2 = self.block2(x1)
        x = torch.cat([self.up1(x1), self.up2(x2)], dim=1)
        if self.up0 is not None:
            x = self.up0(x)
        return self.cls_head(x), self.box_head(x), self.dir_head(x)

    def per_anchor(self, head: torch.Tensor, values: int) -> torch.Tensor:
        """[B, 6 * values, H, W] -> [B, H * W * 6, values]."""
        return head.permute(0, 2, 3, 1).reshape(head.shape[0], -1, values)

    def batch_forward(self, voxels: torch.Tensor, coors: torch.Tensor,
                      batch: int) -> Tuple[torch.Tensor, torch.Tensor, torch.Tensor]:
        """Training entry: pillars of several frames, coors column 0 the frame."""
        features = self.pillar_features(voxels)
        cells = coors[:, 0] * (self.ny * self.nx) + coors[:, 2] * self.nx + coors[:, 3]
        canvas = torch.zeros(batch * self.ny * self.nx, self.canvas_channels, dtype=voxels.dtype)
        canvas = canvas.index_put((cells,), features)
        canvas = canvas.view(batch, self.ny, self.nx, self.canvas_channels).permute(0, 3, 1, 2)
        cls, box, direction = self.heads(canvas.contiguous())
        return (self.per_anchor(cls, self.num_classes), self.per_anchor(box, 7),
                self.per_anchor(direction, 2))

    def forward(self, voxels: torch.Tensor, coors: torch.Tensor,
                voxel_num: torch.Tensor) -> Dict[str, torch.Tensor]:
        count = int(voxel_num[0])
        if count < 0 or count > self.max_voxels:
            raise RuntimeError("voxel_num out of range")
        pillars = voxels[:count]
        features = self.pillar_features(pillars)
        cells = coors[:count, 2].long() * self.nx + coors[:count, 3].long()
        canvas = torch.zeros(self.ny * self.nx, self.canvas_channels, dtype=voxels.dtype)
        canvas = canvas.index_put((cells,), features)
        canvas = canvas.view(1, self.ny, self.nx, self.canvas_channels).permute(0, 3, 1, 2)
        cls, box, direction = self.heads(canvas.contiguous())
        return {
            "cls_score": self.per_anchor(cls, self.num_classes)[0].contiguous(),
            "bbox_pred": self.per_anchor(box, 7)[0].contiguous(),
            "dir_cls_pred": self.per_anchor(direction, 2)[0].contiguous(),
        }
