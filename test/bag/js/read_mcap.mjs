// Reads an MCAP file with @mcap/core (indexed reader, then stream reader, both checking CRCs),
// decodes each message from its channel's ros2msg schema with @foxglove/rosmsg2-serialization
// and prints what it found, one tab-separated line per item, for bag_io's tests to compare.
// Exits non-zero with the reader's complaint when the file is not valid.
import { readFileSync } from "node:fs";
import { McapIndexedReader, McapStreamReader } from "@mcap/core";
import { loadDecompressHandlers } from "@mcap/support";
import { parse } from "@foxglove/rosmsg";
import { MessageReader } from "@foxglove/rosmsg2-serialization";
import { crc32 } from "@foxglove/crc";

const file = process.argv[2];
const bytes = new Uint8Array(readFileSync(file));
const decompressHandlers = await loadDecompressHandlers();
const out = [];
const hex = (data) => Buffer.from(data).toString("hex");
const json = (value) =>
  JSON.stringify(value, (_key, v) => (typeof v === "bigint" ? v.toString() : v));

const reader = await McapIndexedReader.Initialize({
  readable: {
    size: async () => BigInt(bytes.length),
    read: async (offset, length) => bytes.subarray(Number(offset), Number(offset + length)),
  },
  decompressHandlers,
});

// The indexed reader keeps the data section CRC but does not check it: check it here.
const dataEnd = Number(reader.dataEndOffset);
const storedCrc = reader.dataSectionCrc ?? 0;
const computedCrc = crc32(bytes.subarray(0, dataEnd));
if (storedCrc !== 0 && storedCrc !== computedCrc) {
  throw new Error(`data section CRC ${computedCrc} differs from DataEnd's ${storedCrc}`);
}
out.push(["data_crc", storedCrc === 0 ? "absent" : "ok"]);
out.push(["profile", reader.header.profile]);
const stats = reader.statistics;
out.push([
  "statistics",
  stats.messageCount,
  stats.schemaCount,
  stats.channelCount,
  stats.chunkCount,
  stats.messageStartTime,
  stats.messageEndTime,
]);
for (const index of reader.chunkIndexes) {
  out.push(["chunk", index.compression, index.messageIndexOffsets.size]);
}

const readers = new Map();
for (const [id, channel] of [...reader.channelsById].sort((a, b) => a[0] - b[0])) {
  const schema = reader.schemasById.get(channel.schemaId);
  out.push([
    "channel",
    channel.topic,
    schema.name,
    schema.encoding,
    channel.messageEncoding,
    stats.channelMessageCounts.get(id) ?? 0n,
    channel.metadata.has("offered_qos_profiles") ? "qos" : "no-qos",
  ]);
  const text = new TextDecoder().decode(schema.data);
  readers.set(id, new MessageReader(parse(text, { ros2: true })));
}

const indexed = [];
for await (const message of reader.readMessages({ validateCrcs: true })) {
  const channel = reader.channelsById.get(message.channelId);
  const decoded = readers.get(message.channelId).readMessage(message.data);
  indexed.push([
    "message",
    channel.topic,
    message.logTime,
    message.publishTime,
    hex(message.data),
    json(decoded),
  ]);
}
out.push(...indexed);

// The stream reader walks every record from the start, checking chunk CRCs on the way.
const stream = new McapStreamReader({ decompressHandlers, validateCrcs: true });
stream.append(bytes);
let streamed = 0;
let record;
while ((record = stream.nextRecord())) {
  if (record.type === "Message") {
    streamed += 1;
  }
}
if (!stream.done()) {
  throw new Error("stream reader did not reach the end magic");
}
out.push(["streamed_messages", streamed]);

process.stdout.write(out.map((fields) => fields.join("\t")).join("\n") + "\n");
