#!/usr/bin/python3
"""Trains the pillar detector shipped as models/trelvon_pillars.pt on simulated scenes.

Run with Debian's Python (python3-torch) from the repository root after building the simulator:

  nice -n 10 tools/trainer/train_detector.py [--settings tools/trainer/settings.yaml]
      [--simulator build/tools/simulator/lidar_scene_sim] [--output models/trelvon_pillars.pt]
      [--work /tmp/trelvon_training] [--epochs N] [--scenes N] [--init STATE]
  tools/trainer/train_detector.py --write-heldout tools/trainer/heldout --scenes 6

Data: every scene is a scenario file written from a template with its own seed (room size,
inner walls, furniture, clutter, people walking, standing and passing along walls in sparse to
crowded numbers, carts, cyclists, the robot's route, the sensor kind and its mount: height, tilt,
upside down), simulated by lidar_scene_sim, and read back in the robot's base frame together
with the truth boxes. Frames are augmented on the fly (rotation, mirror, scaling, point dropout,
range noise) and a share of them is cut like the node's detector input (no ground, nothing above
0.666 m). The pillars are built exactly as libtrelvon's pre-process builds them and the targets
are encoded as its post-process decodes them (box_coding.py).

Deterministic for a seed: scenes, frame order and augmentation come from seeded generators and
the network runs on a fixed number of threads with deterministic algorithms.
"""

import argparse
import math
import multiprocessing
import os
import re
import shutil
import subprocess
import sys
import time
from typing import Dict, List, Tuple

import numpy as np
import torch
import yaml
from torch import nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from box_coding import AnchorGrid, grid_from_settings, same_heading  # noqa: E402
from pillar_net import PillarNet  # noqa: E402

CLASS_NAMES = ["person", "cart", "cyclist"]
RECORD = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("i", "<f4"), ("t", "<u4"),
                   ("id", "<u2"), ("label", "u1"), ("line", "u1")])
NODE_MAX_HEIGHT = 0.666

# ---------------------------------------------------------------------------------------------
# Scenes


def _r(value: float) -> float:
    return round(float(value), 3)


def make_scenario(seed: int, frames: int, sensor: str, name: str) -> Dict:
    """One scene from the template: a room of random size around the robot's start."""
    rng = np.random.default_rng(seed)
    width = rng.uniform(7.0, 26.0)
    depth = rng.uniform(6.0, 22.0)
    ox, oy = rng.uniform(-0.3, 0.3) * width, rng.uniform(-0.3, 0.3) * depth
    xmin, xmax = ox - width / 2, ox + width / 2
    ymin, ymax = oy - depth / 2, oy + depth / 2
    # The robot starts at the origin of the map; keep it inside the room.
    xmin, xmax = min(xmin, -2.0), max(xmax, 2.0)
    ymin, ymax = min(ymin, -2.0), max(ymax, 2.0)
    wall_height = rng.uniform(2.4, 4.5)

    def inside(margin: float) -> List[float]:
        return [_r(rng.uniform(xmin + margin, xmax - margin)),
                _r(rng.uniform(ymin + margin, ymax - margin))]

    def far_from_start(margin: float, clear: float = 1.2) -> List[float]:
        for _ in range(20):
            p = inside(margin)
            if math.hypot(p[0], p[1]) > clear:
                return p
        return p

    scenario: Dict = {"name": name, "seed": int(seed % 4294967295), "frames": int(frames),
                      "start_time": _r(1000.0 + (seed % 5000))}
    pitch = rng.uniform(-12.0, 12.0) if rng.random() < 0.4 else 0.0
    upside_down = rng.random() < 0.15
    # A low sensor sees legs only; its frames are the hardest, so low mounts get a larger share.
    if upside_down:
        height = rng.uniform(0.4, 1.3)
    elif rng.random() < 0.4:
        height = rng.uniform(0.2, 0.5)
    else:
        height = rng.uniform(0.5, 1.2)
    lidar: Dict = {"preset": sensor,
                   "mount": {"xyz": [_r(rng.uniform(-0.2, 0.3)), 0.0, _r(height)],
                             "rpy_deg": [180.0 if upside_down else 0.0, _r(pitch),
                                         _r(rng.choice([0.0, 0.0, 90.0, -90.0, 180.0]))]},
                   "range_noise_sigma": _r(rng.uniform(0.005, 0.02)),
                   "dropout_probability": _r(rng.uniform(0.0, 0.05))}
    if sensor == "livox":
        lidar["points_per_frame"] = int(rng.choice([10000, 20000, 20000, 30000]))
    scenario["lidar"] = lidar
    scenario["floor"] = {"slope": [_r(rng.uniform(-0.01, 0.01)), _r(rng.uniform(-0.01, 0.01))]}
    if rng.random() < 0.7:
        scenario["ceiling"] = {"height": _r(wall_height)}
    walls = [{"rectangle": [_r(xmin), _r(ymin), _r(xmax), _r(ymax)],
              "thickness": _r(rng.uniform(0.1, 0.3)), "height": _r(wall_height)}]
    for _ in range(rng.integers(0, 4)):
        a = far_from_start(0.5, 1.5)
        along_x = rng.random() < 0.5
        length = rng.uniform(1.5, 6.0)
        b = [_r(a[0] + length), a[1]] if along_x else [a[0], _r(a[1] + length)]
        walls.append({"from": a, "to": b, "thickness": _r(rng.uniform(0.1, 0.25)),
                      "height": _r(wall_height)})
    scenario["walls"] = walls
    objects = []
    for _ in range(rng.integers(0, 12)):
        shape = str(rng.choice(["box", "table", "chair", "cylinder"]))
        x, y = far_from_start(0.6)
        obj: Dict = {"shape": shape, "x": x, "y": y, "yaw_deg": _r(rng.uniform(0, 360))}
        if shape == "cylinder":
            obj["diameter"] = _r(rng.uniform(0.2, 0.8))
            obj["height"] = _r(rng.uniform(0.4, wall_height))
        elif shape == "chair":
            obj.update(length=_r(rng.uniform(0.4, 0.55)), width=_r(rng.uniform(0.4, 0.55)),
                       height=_r(rng.uniform(0.8, 1.0)))
        elif shape == "table":
            obj.update(length=_r(rng.uniform(0.6, 2.0)), width=_r(rng.uniform(0.6, 1.0)),
                       height=_r(rng.uniform(0.65, 0.8)))
        else:
            obj.update(length=_r(rng.uniform(0.3, 2.0)), width=_r(rng.uniform(0.3, 1.0)),
                       height=_r(rng.uniform(0.3, 2.0)))
        objects.append(obj)
    # Pillars and posts: from above a slim column looks like a person, so every other scene
    # has a few to learn the difference on.
    if rng.random() < 0.5:
        for _ in range(rng.integers(1, 4)):
            x, y = far_from_start(0.6)
            objects.append({"shape": "cylinder", "x": x, "y": y, "yaw_deg": 0.0,
                            "diameter": _r(rng.uniform(0.2, 0.6)),
                            "height": _r(rng.uniform(1.0, wall_height))})
    if objects:
        scenario["objects"] = objects
    if rng.random() < 0.6:
        scenario["scatter"] = [{"count": int(rng.integers(1, 8)),
                                "area": [_r(xmin + 0.5), _r(ymin + 0.5), _r(xmax - 0.5),
                                         _r(ymax - 0.5)],
                                "size_min": [0.2, 0.2, 0.2], "size_max": [0.8, 0.8, 1.3]}]

    def wall_side_point() -> Tuple[List[float], List[float]]:
        """A stretch along one of the outer walls, 0.25 to 0.8 m from it."""
        gap = rng.uniform(0.25, 0.8)
        side = rng.integers(0, 4)
        if side < 2:
            y = ymin + gap if side == 0 else ymax - gap
            x0, x1 = sorted(rng.uniform(xmin + 0.5, xmax - 0.5, 2))
            return [_r(x0), _r(y)], [_r(x1), _r(y)]
        x = xmin + gap if side == 2 else xmax - gap
        y0, y1 = sorted(rng.uniform(ymin + 0.5, ymax - 0.5, 2))
        return [_r(x), _r(y0)], [_r(x), _r(y1)]

    crowd = int(rng.choice([rng.integers(1, 5), rng.integers(4, 11), rng.integers(10, 22)]))
    people = []
    for _ in range(crowd):
        person: Dict = {"height": _r(rng.uniform(1.5, 1.95))}
        kind = rng.random()
        if kind < 0.25:  # standing, in the open or next to a piece of furniture or a column
            place = far_from_start(0.4, 0.8)
            if objects and rng.random() < 0.4:
                near = objects[int(rng.integers(0, len(objects)))]
                heading = rng.uniform(-math.pi, math.pi)
                # Clear of the object whichever way it is turned, 0.35-0.7 m from its corners.
                extent = near.get("diameter", math.hypot(near.get("length", 0.5),
                                                         near.get("width", 0.5)))
                reach = rng.uniform(0.35, 0.7) + 0.5 * extent
                place = [_r(np.clip(near["x"] + reach * math.cos(heading), xmin + 0.4, xmax - 0.4)),
                         _r(np.clip(near["y"] + reach * math.sin(heading), ymin + 0.4, ymax - 0.4))]
            person["path"] = [place]
            person["yaw_deg"] = _r(rng.uniform(-180, 180))
        elif kind < 0.45:  # along or against a wall
            a, b = wall_side_point()
            if rng.random() < 0.4:
                person["path"] = [a]
                person["yaw_deg"] = _r(rng.uniform(-180, 180))
            else:
                person["path"] = [a + [_r(rng.uniform(0, 3))], b]
                person["speed"] = _r(rng.uniform(0.4, 1.5))
                person["loop"] = True
        else:  # walking between random points, now and then waiting
            points = [inside(0.4)]
            for _ in range(rng.integers(1, 4)):
                step = rng.uniform(1.5, 5.0)
                heading = rng.uniform(-math.pi, math.pi)
                p = [_r(np.clip(points[-1][0] + step * math.cos(heading), xmin + 0.4, xmax - 0.4)),
                     _r(np.clip(points[-1][1] + step * math.sin(heading), ymin + 0.4, ymax - 0.4))]
                points.append(p)
            for p in points:
                if rng.random() < 0.3:
                    p.append(_r(rng.uniform(0.5, 4.0)))
            person["path"] = points
            person["speed"] = _r(rng.uniform(0.3, 1.8))
            person["loop"] = True
            person["start_delay"] = _r(rng.uniform(0, 3))
        people.append(person)
    scenario["people"] = people
    movers = []
    for _ in range(rng.integers(0, 3)):
        movers.append({"class": "cart", "speed": _r(rng.uniform(0.4, 1.3)),
                       "path": [inside(0.6) for _ in range(rng.integers(2, 4))], "loop": True,
                       "start_delay": _r(rng.uniform(0, 2))})
    for _ in range(rng.integers(0, 3)):
        movers.append({"class": "cyclist", "speed": _r(rng.uniform(1.5, 5.0)),
                       "path": [inside(0.8) for _ in range(rng.integers(2, 4))], "loop": True,
                       "start_delay": _r(rng.uniform(0, 2))})
    if movers:
        scenario["movers"] = movers
    if rng.random() < 0.3:
        scenario["robot"] = {"path": [[0.0, 0.0]], "yaw_deg": _r(rng.uniform(-180, 180))}
    else:
        route = [[0.0, 0.0]] + [inside(1.0) for _ in range(rng.integers(1, 3))]
        scenario["robot"] = {"path": route, "speed": _r(rng.uniform(0.2, 1.0)),
                             "turn_rate_deg": 60, "loop": True}
    return scenario


def write_scenario(path: str, scenario: Dict, comment: str) -> None:
    with open(path, "w") as f:
        f.write(f"# {comment}\n")
        yaml.safe_dump(scenario, f, default_flow_style=None, sort_keys=False, width=100)


def quaternion_matrix(q: List[float]) -> np.ndarray:
    x, y, z, w = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


def read_dataset(directory: str, stride: int) -> List[Dict]:
    """Frames of a simulated data set in the base frame: points, labels, object ids, the sensor
    position and the agents' truth boxes (class index, x, y, z, length, width, height, yaw)."""
    with open(os.path.join(directory, "dataset.yaml")) as f:
        index = yaml.load(f, Loader=yaml.CSafeLoader)
    mount = index["base_to_lidar"]
    rotation = quaternion_matrix(mount["rotation_xyzw"])
    translation = np.array(mount["translation"])
    frames = []
    for k in range(0, int(index["frames"]), stride):
        stem = os.path.join(directory, "frames", f"{k:06d}")
        records = np.fromfile(stem + ".bin", RECORD)
        with open(stem + ".yaml") as f:
            meta = yaml.load(f, Loader=yaml.CSafeLoader)
        xyz = np.stack([records["x"], records["y"], records["z"]], axis=1).astype(np.float64)
        base = (xyz @ rotation.T + translation).astype(np.float32)
        boxes, ids = [], []
        for box in meta.get("boxes") or []:
            if box["class"] in CLASS_NAMES:
                boxes.append([CLASS_NAMES.index(box["class"]), box["x"], box["y"], box["z"],
                              box["length"], box["width"], box["height"], box["yaw"]])
                ids.append(box["id"])
        frames.append({"points": base, "label": records["label"].copy(),
                       "id": records["id"].copy(), "sensor": translation.astype(np.float32),
                       "boxes": np.asarray(boxes, np.float64).reshape(-1, 8),
                       "box_ids": np.asarray(ids, np.int64)})
    return frames


def simulate(simulator: str, scenario_path: str, out_dir: str, scenario: Dict,
             comment: str) -> None:
    """Runs the simulator; an agent whose route the simulator rejects (through a wall or a piece
    of furniture) is left out and the scene written again."""
    for _ in range(60):
        run = subprocess.run([simulator, scenario_path, out_dir], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True)
        if run.returncode == 0:
            return
        match = re.search(r"(people|movers)\[(\d+)\]", run.stderr)
        if not match:
            raise RuntimeError(f"{simulator} {scenario_path}: {run.stderr.strip()}")
        del scenario[match.group(1)][int(match.group(2))]
        if not scenario[match.group(1)]:
            del scenario[match.group(1)]
        write_scenario(scenario_path, scenario, comment)
    raise RuntimeError(f"{scenario_path}: too many rejected routes")


def simulate_scene(job: Tuple[Dict, str, str, int, int]) -> List[Dict]:
    """One training scene, written, simulated and read back; its frames depend only on its
    seed, so scenes can be simulated in any order and on any number of processes."""
    data, simulator, work, s, seed = job
    stride = int(data["frame_stride"])
    sensor = data["sensors"][s % len(data["sensors"])]
    scenario = make_scenario(seed * 1000 + s, data["frames_per_scene"] * stride, sensor,
                             f"train_{s:04d}")
    path = os.path.join(work, f"scene_{s:04d}.yaml")
    write_scenario(path, scenario, "generated training scene")
    out = os.path.join(work, f"scene_{s:04d}")
    shutil.rmtree(out, ignore_errors=True)
    simulate(simulator, path, out, scenario, "generated training scene")
    frames = read_dataset(out, stride)
    shutil.rmtree(out, ignore_errors=True)
    return frames


def build_data(settings: Dict, simulator: str, work: str, scenes: int, seed: int,
               processes: int) -> List[Dict]:
    data = settings["data"]
    os.makedirs(work, exist_ok=True)
    frames: List[Dict] = []
    start = time.time()
    jobs = [(data, simulator, work, s, seed) for s in range(scenes)]
    # imap keeps the scenes in order, so the frame list is the same for any process count.
    with multiprocessing.get_context("fork").Pool(processes) as pool:
        for s, scene_frames in enumerate(pool.imap(simulate_scene, jobs, chunksize=4)):
            frames.extend(scene_frames)
            if (s + 1) % 50 == 0 or s + 1 == scenes:
                print(f"scenes {s + 1}/{scenes}: {len(frames)} frames, "
                      f"{time.time() - start:.0f} s", flush=True)
    return frames


# ---------------------------------------------------------------------------------------------
# Pillars, as the pre-process builds them


def voxelize(points: np.ndarray, grid: Dict) -> Tuple[np.ndarray, np.ndarray, int, np.ndarray]:
    """Pillars of points [n, 3] (already in cloud order and cut to max_points): voxels
    [count, P, 10], coors [count, 4] (0, z, y, x), count, and the stored point's index per slot
    (-1 when empty)."""
    f32 = np.float32
    lo = np.asarray(grid["min_range"], f32)
    hi = np.asarray(grid["max_range"], f32)
    size = np.asarray(grid["voxel_size"], f32)
    dims = np.round((hi - lo) / size).astype(np.int64)
    slots, max_voxels = int(grid["max_points_per_voxel"]), int(grid["max_voxels"])
    index = np.floor((points.astype(f32) - lo) / size).astype(np.int64)
    keep = np.all((index >= 0) & (index < dims), axis=1)
    source = np.nonzero(keep)[0]
    index = index[keep]
    cell = (index[:, 2] * dims[1] + index[:, 1]) * dims[0] + index[:, 0]
    _, first, inverse = np.unique(cell, return_index=True, return_inverse=True)
    order = np.argsort(first, kind="stable")  # pillars numbered by their first point
    rank = np.empty_like(order)
    rank[order] = np.arange(len(order))
    pillar = rank[inverse]
    by_pillar = np.argsort(pillar, kind="stable")
    sorted_pillar = pillar[by_pillar]
    starts = np.searchsorted(sorted_pillar, np.arange(len(order)))
    slot = np.empty(len(pillar), np.int64)
    slot[by_pillar] = np.arange(len(pillar)) - starts[sorted_pillar]
    stored = (slot < slots) & (pillar < max_voxels)
    count = min(len(order), max_voxels)
    pid, sid, src = pillar[stored], slot[stored], source[stored]
    xyz = points[src].astype(f32)
    n = np.bincount(pid, minlength=count).astype(f32)
    mean = np.stack([np.bincount(pid, xyz[:, k].astype(f32), minlength=count).astype(f32)
                     for k in range(3)], axis=1) / np.maximum(n, 1)[:, None]
    voxels = np.zeros((count, slots, 10), f32)
    voxels[pid, sid, 0:3] = xyz
    voxels[pid, sid, 4:7] = xyz - mean[pid]
    firsts = first[order][:count]
    coors = np.zeros((count, 4), np.int32)
    coors[:, 1] = index[firsts, 2]
    coors[:, 2] = index[firsts, 1]
    coors[:, 3] = index[firsts, 0]
    centre = np.stack([coors[:, 3].astype(f32) * size[0] + (size[0] * f32(0.5) + lo[0]),
                       coors[:, 2].astype(f32) * size[1] + (size[1] * f32(0.5) + lo[1]),
                       coors[:, 1].astype(f32) * size[2] + (f32(0.5) * size[2] + lo[2])],
                      axis=1).astype(f32)
    voxels[pid, sid, 7:10] = xyz - centre[pid]
    slot_source = np.full((count, slots), -1, np.int64)
    slot_source[pid, sid] = src
    return voxels, coors, count, slot_source


# ---------------------------------------------------------------------------------------------
# Augmentation and targets


def augment(frame: Dict, settings: Dict, rng: np.random.Generator) -> Tuple[np.ndarray, np.ndarray,
                                                                                np.ndarray]:
    """Returns points [n, 3], their object ids and the boxes [k, 8] after augmentation."""
    aug = settings["augment"]
    points = frame["points"].astype(np.float64)
    ids = frame["id"]
    labels = frame["label"]
    boxes = frame["boxes"].copy()
    keep = np.ones(len(points), bool)
    if rng.random() < settings["data"]["node_input_share"]:
        keep &= (labels != 0) & (points[:, 2] <= NODE_MAX_HEIGHT)
    dropout = rng.uniform(*aug["dropout"])
    keep &= rng.random(len(points)) >= dropout
    points, ids = points[keep], ids[keep]
    sensor = frame["sensor"].astype(np.float64)
    sigma = rng.uniform(*aug["range_noise"])
    ray = points - sensor
    distance = np.linalg.norm(ray, axis=1, keepdims=True)
    points = points + ray / np.maximum(distance, 1e-6) * rng.normal(0, sigma, (len(points), 1))
    angle = rng.uniform(-aug["rotation"], aug["rotation"])
    c, s = math.cos(angle), math.sin(angle)
    rot = np.array([[c, -s], [s, c]])
    points[:, 0:2] = points[:, 0:2] @ rot.T
    if len(boxes):
        boxes[:, 1:3] = boxes[:, 1:3] @ rot.T
        boxes[:, 7] += angle
    if rng.random() < aug["flip"]:
        points[:, 1] = -points[:, 1]
        if len(boxes):
            boxes[:, 2] = -boxes[:, 2]
            boxes[:, 7] = -boxes[:, 7]
    scale = rng.uniform(*aug["scale"])
    points *= scale
    if len(boxes):
        boxes[:, 1:7] *= scale
        boxes[:, 7] = np.mod(boxes[:, 7] + math.pi, 2 * math.pi) - math.pi
    return points.astype(np.float32), ids, boxes


def box_points(boxes: np.ndarray, box_ids: np.ndarray, ids: np.ndarray,
               points: np.ndarray, grid: Dict) -> np.ndarray:
    """Points of each truth object that lie inside the detector's region."""
    lo, hi = np.asarray(grid["min_range"]), np.asarray(grid["max_range"])
    inside = np.all((points >= lo) & (points < hi), axis=1)
    counts = np.bincount(ids[inside].astype(np.int64), minlength=65536)
    return counts[box_ids] if len(box_ids) else np.zeros(0, np.int64)


def make_targets(boxes: np.ndarray, counts: np.ndarray, anchors: AnchorGrid,
                 settings: Dict) -> Tuple[np.ndarray, ...]:
    """Per anchor: class target [A, C] (0/1), class weight [A, C] (0 = ignored), regression
    target [A, 7], direction bin [A] and positive mask [A]."""
    t = settings["targets"]
    classes = len(settings["classes"])
    rows, cols = anchors.rows, anchors.cols
    cx, cy = np.meshgrid(anchors.col_x.astype(np.float64), anchors.row_y.astype(np.float64))
    cx, cy = cx.reshape(-1), cy.reshape(-1)  # cell = row * W + col
    cells = rows * cols
    label = np.zeros((cells, 6, classes), np.float32)
    weight = np.ones((cells, 6, classes), np.float32)
    regression = np.zeros((cells * 6, 7), np.float32)
    direction = np.zeros(cells * 6, np.int64)
    positive = np.zeros(cells * 6, bool)
    best_distance = np.full(cells, np.inf)
    owner = np.full(cells, -1)
    for b, box in enumerate(boxes):
        cls, x, y, _, length, width, _, yaw = box
        dx, dy = cx - x, cy - y
        along = dx * math.cos(yaw) + dy * math.sin(yaw)
        across = -dx * math.sin(yaw) + dy * math.cos(yaw)
        distance = np.hypot(dx, dy)
        margin = t["ignore_margin"]
        near = (np.abs(along) <= length / 2 + margin) & (np.abs(across) <= width / 2 + margin)
        near |= distance <= t["positive_radius"] + margin
        if counts[b] < t["min_points"]:
            weight[near] = 0.0  # barely seen: neither object nor background
            continue
        scale = t["positive_scale"]
        pos = (np.abs(along) <= scale * length / 2) & (np.abs(across) <= scale * width / 2)
        pos |= distance <= t["positive_radius"]
        pos[np.argmin(distance)] = True
        weight[near & ~pos, :, int(cls)] = 0.0
        claim = pos & (distance < best_distance)
        best_distance[claim] = distance[claim]
        owner[claim] = b
    for cell in np.nonzero(owner >= 0)[0]:
        box = boxes[owner[cell]]
        cls = int(box[0])
        kinds = [2 * cls, 2 * cls + 1]
        ra = anchors.anchors[kinds, 3]
        best = kinds[int(np.argmin(same_heading(2 * box[7], 2 * ra)))]  # headings modulo pi
        other = kinds[0] if best == kinds[1] else kinds[1]
        number = cell * 6 + best
        label[cell, best, cls] = 1.0
        weight[cell, best, :] = 1.0
        weight[cell, other, cls] = 0.0
        target, bin_ = anchors.encode(box[None, 1:8], np.array([number]))
        regression[number] = target[0]
        direction[number] = bin_[0]
        positive[number] = True
    return (label.reshape(-1, classes), weight.reshape(-1, classes), regression, direction,
            positive)


def prepare(frame: Dict, settings: Dict, anchors: AnchorGrid, rng: np.random.Generator):
    grid = settings["grid"]
    points, ids, boxes = augment(frame, settings, rng)
    points, ids = points[:grid["max_points"]], ids[:grid["max_points"]]
    voxels, coors, count, _ = voxelize(points, grid)
    counts = box_points(boxes, frame["box_ids"], ids, points, grid)
    targets = make_targets(boxes, counts, anchors, settings)
    return voxels, coors, count, targets


# ---------------------------------------------------------------------------------------------
# Training


def focal_loss(logits: torch.Tensor, label: torch.Tensor, weight: torch.Tensor) -> torch.Tensor:
    p = torch.sigmoid(logits)
    ce = nn.functional.binary_cross_entropy_with_logits(logits, label, reduction="none")
    pt = p * label + (1 - p) * (1 - label)
    alpha = 0.25 * label + 0.75 * (1 - label)
    return (alpha * (1 - pt) ** 2 * ce * weight).sum()


def batch_loss(model: PillarNet, items, settings: Dict) -> Tuple[torch.Tensor, Dict[str, float]]:
    voxels = torch.from_numpy(np.concatenate([it[0] for it in items]))
    coors = []
    for b, it in enumerate(items):
        c = it[1].copy()
        c[:, 0] = b
        coors.append(c)
    coors_t = torch.from_numpy(np.concatenate(coors)).long()
    cls, box, direction = model.batch_forward(voxels, coors_t, len(items))
    label = torch.from_numpy(np.stack([it[3][0] for it in items]))
    weight = torch.from_numpy(np.stack([it[3][1] for it in items]))
    target = torch.from_numpy(np.stack([it[3][2] for it in items]))
    bins = torch.from_numpy(np.stack([it[3][3] for it in items]))
    positive = torch.from_numpy(np.stack([it[3][4] for it in items]))
    npos = max(float(positive.sum()), 1.0)
    cls_loss = focal_loss(cls, label, weight) / npos
    pred = box[positive]
    tgt = target[positive]
    # The heading enters through sin(difference): folded targets and a free direction bin.
    reg = torch.cat([pred[:, :6] - tgt[:, :6],
                     torch.sin(pred[:, 6:7] - tgt[:, 6:7])], dim=1)
    box_loss = nn.functional.smooth_l1_loss(reg, torch.zeros_like(reg), beta=1.0 / 9.0,
                                            reduction="sum") / npos
    dir_loss = nn.functional.cross_entropy(direction[positive], bins[positive],
                                           reduction="sum") / npos
    w = settings["train"]["loss_weights"]
    loss = w["cls"] * cls_loss + w["box"] * box_loss + w["dir"] * dir_loss
    return loss, {"cls": float(cls_loss), "box": float(box_loss), "dir": float(dir_loss)}


def train(settings: Dict, frames: List[Dict], epochs: int, seed: int, init: str = "") -> PillarNet:
    anchors = grid_from_settings(settings)
    tcfg = settings["train"]
    model = PillarNet(settings)
    if init:
        model.load_state_dict(torch.load(init))  # continue from an earlier run's weights
    optimiser = torch.optim.AdamW(model.parameters(), lr=tcfg["learning_rate"],
                                  weight_decay=tcfg["weight_decay"])
    batch = int(tcfg["batch"])
    steps_per_epoch = len(frames) // batch
    schedule = torch.optim.lr_scheduler.OneCycleLR(
        optimiser, max_lr=tcfg["learning_rate"], total_steps=epochs * steps_per_epoch,
        pct_start=0.15)
    rng = np.random.default_rng(seed)
    start = time.time()
    budget = float(tcfg["time_budget_s"])
    for epoch in range(epochs):
        model.train()
        order = rng.permutation(len(frames))
        totals = {"loss": 0.0, "cls": 0.0, "box": 0.0, "dir": 0.0}
        epoch_start = time.time()
        for step in range(steps_per_epoch):
            items = [prepare(frames[i], settings, anchors, rng)
                     for i in order[step * batch:(step + 1) * batch]]
            loss, parts = batch_loss(model, items, settings)
            optimiser.zero_grad()
            loss.backward()
            nn.utils.clip_grad_norm_(model.parameters(), 10.0)
            optimiser.step()
            schedule.step()
            totals["loss"] += float(loss)
            for k, v in parts.items():
                totals[k] += v
        elapsed = time.time() - start
        per_epoch = elapsed / (epoch + 1)
        n = max(steps_per_epoch, 1)
        print(f"epoch {epoch + 1}/{epochs}: loss {totals['loss'] / n:.4f} (cls "
              f"{totals['cls'] / n:.4f}, box {totals['box'] / n:.4f}, dir {totals['dir'] / n:.4f})"
              f", {time.time() - epoch_start:.0f} s, ETA {per_epoch * (epochs - epoch - 1):.0f} s",
              flush=True)
        if elapsed > budget and epoch + 1 < epochs:
            print(f"time budget of {budget:.0f} s spent: stopping after epoch {epoch + 1}",
                  flush=True)
            break
    return model.eval()


def export(model: PillarNet, output: str) -> None:
    scripted = torch.jit.script(model.eval())
    # Freezing folds the batch norms into the convolutions; the results must not change.
    frozen = torch.jit.freeze(scripted)
    generator = torch.Generator().manual_seed(0)
    voxels = torch.zeros(model.max_voxels, 32, 10)
    voxels[:500, :4] = torch.rand(500, 4, 10, generator=generator) * 2 - 1
    coors = torch.zeros(model.max_voxels, 4, dtype=torch.int32)
    coors[:500, 2] = torch.randperm(model.ny, generator=generator).repeat(5)[:500].int()
    coors[:500, 3] = torch.randint(0, model.nx, (500,), generator=generator).int()
    count = torch.tensor([500], dtype=torch.int32)
    with torch.no_grad():
        a, b = scripted(voxels, coors, count), frozen(voxels, coors, count)
    for key in a:
        if not torch.allclose(a[key], b[key], atol=1e-3, rtol=1e-3):
            raise RuntimeError(f"frozen network differs on {key}")
    scripted = frozen
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    scripted.save(output)
    print(f"wrote {output} ({os.path.getsize(output) / 1e6:.2f} MB)")


def main() -> None:
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--settings", default=os.path.join(here, "settings.yaml"))
    parser.add_argument("--simulator", default="build/tools/simulator/lidar_scene_sim")
    parser.add_argument("--output", default="models/trelvon_pillars.pt")
    parser.add_argument("--work", default="/tmp/trelvon_training")
    parser.add_argument("--epochs", type=int)
    parser.add_argument("--scenes", type=int)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--init", help="weights (state dict) to start from instead of random ones")
    parser.add_argument("--write-heldout", metavar="DIR",
                        help="write held-out scenario files (seeds of their own) and stop")
    args = parser.parse_args()
    with open(args.settings) as f:
        settings = yaml.safe_load(f)
    seed = args.seed if args.seed is not None else int(settings["seed"])

    if args.write_heldout:
        os.makedirs(args.write_heldout, exist_ok=True)
        sensors = settings["data"]["sensors"]
        for s in range(args.scenes or 6):
            scene_seed = 7_000_000 + 7919 * s  # far from every training seed
            name = f"heldout_{s:02d}"
            scenario = make_scenario(scene_seed, 40, sensors[s % len(sensors)], name)
            comment = ("held-out evaluation scene, never used for training "
                       "(train_detector.py --write-heldout)")
            path = os.path.join(args.write_heldout, name + ".yaml")
            write_scenario(path, scenario, comment)
            out = os.path.join(args.work, name)
            shutil.rmtree(out, ignore_errors=True)
            simulate(args.simulator, path, out, scenario, comment)  # drops rejected routes
            shutil.rmtree(out, ignore_errors=True)
        return

    torch.manual_seed(seed)
    torch.set_num_threads(int(settings["train"]["threads"]))
    torch.use_deterministic_algorithms(True)
    scenes = args.scenes or int(settings["data"]["scenes"])
    epochs = args.epochs or int(settings["train"]["epochs"])
    start = time.time()
    frames = build_data(settings, args.simulator, args.work, scenes, seed, os.cpu_count() or 1)
    print(f"data: {len(frames)} frames from {scenes} scenes in {time.time() - start:.0f} s",
          flush=True)
    model = train(settings, frames, epochs, seed, args.init or "")
    state = os.path.join(args.work, "trelvon_pillars_state.pt")
    torch.save(model.state_dict(), state)
    print(f"weights for --init: {state}")
    export(model, args.output)
    print(f"total {time.time() - start:.0f} s")


if __name__ == "__main__":
    main()
