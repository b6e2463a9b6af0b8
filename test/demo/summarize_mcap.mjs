// Reads an MCAP file with @mcap/core (CRCs checked), decodes every message with
// @foxglove/rosmsg2-serialization from the file's own ros2msg schemas, and prints per topic:
// topic, schema name, message count, and a figure read from the decoded messages (points of a
// PointCloud2, obstacles of a SemanticPointCloud, transforms of a TFMessage, width of a
// CameraInfo), summed over the topic's messages. Exits non-zero when anything fails to decode.
import { readFileSync } from "node:fs";
import { McapIndexedReader } from "@mcap/core";
import { loadDecompressHandlers } from "@mcap/support";
import { parse } from "@foxglove/rosmsg";
import { MessageReader } from "@foxglove/rosmsg2-serialization";

const bytes = new Uint8Array(readFileSync(process.argv[2]));
const reader = await McapIndexedReader.Initialize({
  readable: {
    size: async () => BigInt(bytes.length),
    read: async (offset, length) => bytes.subarray(Number(offset), Number(offset + length)),
  },
  decompressHandlers: await loadDecompressHandlers(),
});
const topics = new Map();
for (const [id, channel] of reader.channelsById) {
  const schema = reader.schemasById.get(channel.schemaId);
  const text = new TextDecoder().decode(schema.data);
  topics.set(id, {
    topic: channel.topic,
    type: schema.name,
    reader: new MessageReader(parse(text, { ros2: true })),
    count: 0,
    figure: 0,
  });
}
for await (const message of reader.readMessages({ validateCrcs: true })) {
  const entry = topics.get(message.channelId);
  const m = entry.reader.readMessage(message.data);
  entry.count += 1;
  if (entry.type === "sensor_msgs/msg/PointCloud2") {
    if (m.data.length !== m.row_step * m.height) {
      throw new Error(`${entry.topic}: data of ${m.data.length} bytes, rows say ${m.row_step * m.height}`);
    }
    entry.figure += m.width * m.height;
  } else if (entry.type === "corvanta_protocol/msg/SemanticPointCloud") {
    entry.figure += m.obstacles.length;
  } else if (entry.type === "tf2_msgs/msg/TFMessage") {
    entry.figure += m.transforms.length;
  } else if (entry.type === "sensor_msgs/msg/CameraInfo") {
    entry.figure += m.width;
  }
}
for (const entry of topics.values()) {
  process.stdout.write(`${entry.topic}\t${entry.type}\t${entry.count}\t${entry.figure}\n`);
}
