// Writes an MCAP file with @mcap/core's McapWriter for bag_io's reader to read.
//   node write_mcap.mjs <out.mcap> <none|zstd|lz4> <indexed|unindexed|unchunked>
// Content: 40 std_msgs/String messages on /chatter ("message <i>", log time 1e9 + 1000 i) and
// 20 geometry_msgs/PointStamped on /point (stamp sec 100+i nanosec 7 i, frame "map",
// x = i / 4, y = -i, z = 0.5, log time 1e9 + 2000 i + 500), encoded with
// @foxglove/rosmsg2-serialization. "unindexed": no message indexes; "unchunked": no chunks.
import { openSync, writeSync, closeSync } from "node:fs";
import { McapWriter } from "@mcap/core";
import { parse } from "@foxglove/rosmsg";
import { MessageWriter } from "@foxglove/rosmsg2-serialization";
import * as zstd from "@foxglove/wasm-zstd";
import lz4 from "lz4js";

const [file, compression, mode] = process.argv.slice(2);
await zstd.isLoaded;

const stringSchema = "string data\n";
const pointSchema = [
  "std_msgs/Header header",
  "geometry_msgs/Point point",
  "================================================================================",
  "MSG: std_msgs/Header",
  "builtin_interfaces/Time stamp",
  "string frame_id",
  "================================================================================",
  "MSG: builtin_interfaces/Time",
  "int32 sec",
  "uint32 nanosec",
  "================================================================================",
  "MSG: geometry_msgs/Point",
  "float64 x",
  "float64 y",
  "float64 z",
  "",
].join("\n");

const compressChunk = {
  none: undefined,
  zstd: (data) => ({ compression: "zstd", compressedData: zstd.compress(data, 3) }),
  lz4: (data) => ({ compression: "lz4", compressedData: new Uint8Array(lz4.compress(data)) }),
}[compression];

const fd = openSync(file, "w");
let position = 0n;
const writer = new McapWriter({
  writable: {
    position: () => position,
    write: async (buffer) => {
      writeSync(fd, buffer);
      position += BigInt(buffer.byteLength);
    },
  },
  chunkSize: 1024,
  compressChunk,
  useChunks: mode !== "unchunked",
  useMessageIndex: mode !== "unindexed",
});
await writer.start({ profile: "ros2", library: "mcap-js oracle" });

const encoder = new TextEncoder();
const stringId = await writer.registerSchema({
  name: "std_msgs/msg/String",
  encoding: "ros2msg",
  data: encoder.encode(stringSchema),
});
const pointId = await writer.registerSchema({
  name: "geometry_msgs/msg/PointStamped",
  encoding: "ros2msg",
  data: encoder.encode(pointSchema),
});
const qos = new Map([["offered_qos_profiles", ""]]);
const chatter = await writer.registerChannel({
  topic: "/chatter", schemaId: stringId, messageEncoding: "cdr", metadata: qos,
});
const point = await writer.registerChannel({
  topic: "/point", schemaId: pointId, messageEncoding: "cdr", metadata: qos,
});
const stringWriter = new MessageWriter(parse(stringSchema, { ros2: true }));
const pointWriter = new MessageWriter(parse(pointSchema, { ros2: true }));

for (let i = 0; i < 40; i += 1) {
  const t = 1_000_000_000n + 1000n * BigInt(i);
  await writer.addMessage({
    channelId: chatter, sequence: i, logTime: t, publishTime: t,
    data: stringWriter.writeMessage({ data: `message ${i}` }),
  });
  if (i < 20) {
    const tp = 1_000_000_000n + 2000n * BigInt(i) + 500n;
    await writer.addMessage({
      channelId: point, sequence: i, logTime: tp, publishTime: tp,
      data: pointWriter.writeMessage({
        header: { stamp: { sec: 100 + i, nanosec: 7 * i }, frame_id: "map" },
        point: { x: i / 4, y: -i, z: 0.5 },
      }),
    });
  }
}
await writer.end();
closeSync(fd);
