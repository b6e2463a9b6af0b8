// The independent side of ros2_core's CDR tests. For each request line
//   <pkg/msg/Type> TAB <canonical JSON of a message> TAB <hex of the C++ serializer's bytes>
// it builds the type's definition from the .msg files under the share directory, parses it with
// @foxglove/rosmsg, encodes the JSON values with @foxglove/rosmsg2-serialization's MessageWriter
// and decodes the C++ bytes with its MessageReader, printing
//   <pkg/msg/Type> TAB <hex of the oracle's bytes> TAB <canonical JSON of the decoded C++ bytes>
// or <pkg/msg/Type> TAB ERROR TAB <message>. The canonical JSON matches the C++ test's: fields in
// declaration order, integers as decimal strings, floats as "d:" plus the 16 hex digits of the
// value as a double, time and duration as {"sec","nanosec"}.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { parse } from "@foxglove/rosmsg";
import { MessageReader, MessageWriter } from "@foxglove/rosmsg2-serialization";

const [shareDir, requestFile] = process.argv.slice(2);
if (!shareDir || !requestFile) {
  console.error("usage: cdr_oracle.mjs SHARE_DIR REQUEST_FILE");
  process.exit(2);
}

const PRIMITIVES = new Set([
  "bool", "byte", "char", "int8", "uint8", "int16", "uint16", "int32", "uint32", "int64",
  "uint64", "float32", "float64", "string", "wstring",
]);
const INTEGERS = new Set(["byte", "char", "int8", "uint8", "int16", "uint16", "int32", "uint32"]);
const BIG_INTEGERS = new Set(["int64", "uint64"]);
const FLOATS = new Set(["float32", "float64"]);

function fieldLines(text) {
  return text
    .split("\n")
    .map((raw) => raw.replace(/#.*/, "").trim())
    .filter((line) => line !== "" && !(line.includes("=") && !line.includes("<=")));
}

function hasDataField(text) {
  return fieldLines(text).length > 0;
}

// The .msg text of a type and of everything it uses, in the layout ROS 2 bags store. A service's
// request or response ("pkg/srv/Type_Request") is read from the .msg file rosidl installs for it
// beside the .srv; the types it uses are messages.
function definitionText(fullName) {
  const [pkg, folder, type] = fullName.split("/");
  const order = [];
  const seen = new Set();
  const visit = (p, t, dir = "msg") => {
    const key = `${p}/${t}`;
    if (seen.has(key)) return;
    seen.add(key);
    let text = readFileSync(join(shareDir, p, dir, `${t}.msg`), "utf8");
    if (!hasDataField(text)) {
      // A message of constants only gets this member from ROS 2's conversion to IDL.
      text += "\nuint8 structure_needs_at_least_one_member\n";
    }
    order.push([key, text]);
    for (const line of fieldLines(text)) {
      const fieldType = line.split(/\s+/)[0].replace(/\[.*\]$/, "").replace(/<=\d+$/, "");
      if (PRIMITIVES.has(fieldType)) continue;
      const parts = fieldType.split("/");
      if (parts.length === 1) visit(p, parts[0]);
      else visit(parts[0], parts[parts.length - 1]);
    }
  };
  visit(pkg, type, folder);
  const sep = "=".repeat(80);
  return order
    .map(([key, text], i) => (i === 0 ? text : `${sep}\nMSG: ${key}\n${text}`))
    .join("\n");
}

function floatBits(value) {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, value);
  return "d:" + view.getBigUint64(0).toString(16).padStart(16, "0");
}

function floatFromBits(text) {
  const view = new DataView(new ArrayBuffer(8));
  view.setBigUint64(0, BigInt("0x" + text.slice(2)));
  return view.getFloat64(0);
}

class Codec {
  constructor(name) {
    this.definitions = parse(definitionText(name), { ros2: true });
    this.byName = new Map(this.definitions.map((d) => [d.name ?? "", d.definitions]));
    this.root = this.definitions[0].definitions;
    this.writer = new MessageWriter(this.definitions);
    this.reader = new MessageReader(this.definitions);
  }

  fields(definition) {
    return definition.filter((f) => f.isConstant !== true);
  }

  // Canonical JSON values -> what MessageWriter takes.
  toJs(definition, value) {
    const out = {};
    for (const field of this.fields(definition)) {
      const v = value[field.name];
      out[field.name] = field.isArray === true
        ? v.map((e) => this.scalarToJs(field, e))
        : this.scalarToJs(field, v);
    }
    return out;
  }

  scalarToJs(field, v) {
    if (field.isComplex === true) return this.toJs(this.byName.get(field.type), v);
    if (field.type === "time" || field.type === "duration") {
      return { sec: Number(v.sec), nanosec: Number(v.nanosec) };
    }
    if (BIG_INTEGERS.has(field.type)) return BigInt(v);
    if (INTEGERS.has(field.type)) return Number(v);
    if (FLOATS.has(field.type)) return floatFromBits(v);
    return v;
  }

  // What MessageReader returns -> canonical JSON values.
  fromJs(definition, value) {
    const out = {};
    for (const field of this.fields(definition)) {
      const v = value[field.name];
      out[field.name] = field.isArray === true
        ? Array.from(v, (e) => this.scalarFromJs(field, e))
        : this.scalarFromJs(field, v);
    }
    return out;
  }

  scalarFromJs(field, v) {
    if (field.isComplex === true) return this.fromJs(this.byName.get(field.type), v);
    if (field.type === "time" || field.type === "duration") {
      return { sec: String(v.sec), nanosec: String(v.nanosec ?? v.nsec) };
    }
    if (BIG_INTEGERS.has(field.type) || INTEGERS.has(field.type)) return String(v);
    if (FLOATS.has(field.type)) return floatBits(v);
    return v;
  }
}

const codecs = new Map();
const lines = [];
for (const line of readFileSync(requestFile, "utf8").split("\n")) {
  if (line === "") continue;
  const [name, json, hex] = line.split("\t");
  try {
    if (!codecs.has(name)) codecs.set(name, new Codec(name));
    const codec = codecs.get(name);
    const written = codec.writer.writeMessage(codec.toJs(codec.root, JSON.parse(json)));
    const decoded = codec.reader.readMessage(Buffer.from(hex, "hex"));
    lines.push([
      name,
      Buffer.from(written).toString("hex"),
      JSON.stringify(codec.fromJs(codec.root, decoded)),
    ].join("\t"));
  } catch (error) {
    lines.push([name, "ERROR", String(error?.stack ?? error).replace(/\s+/g, " ")].join("\t"));
  }
}
process.stdout.write(lines.join("\n") + "\n");
