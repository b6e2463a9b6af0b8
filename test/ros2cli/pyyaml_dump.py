# Writes each value listed in the input file the way PyYAML's yaml.dump writes it as the value
# of a one-key mapping, with the options ros2 topic echo uses; results are NUL-separated.
# Input lines: "s <hex of UTF-8 bytes>" or "d <hex of the little-endian IEEE 754 double>".
import struct
import sys

import yaml

results = []
with open(sys.argv[1], encoding="ascii") as listing:
    for line in listing:
        kind, _, data = line.rstrip("\n").partition(" ")
        if kind == "s":
            value = bytes.fromhex(data).decode("utf-8")
        else:
            value = struct.unpack("<d", bytes.fromhex(data))[0]
        results.append(yaml.dump({"v": value}, allow_unicode=True, width=sys.maxsize,
                                 default_flow_style=False))
sys.stdout.buffer.write("\0".join(results).encode("utf-8"))
