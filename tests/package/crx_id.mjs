// Prints the extension ID a .crx (format 3) installs under, after checking
// what Chromium checks: the ID named in the signed header is the one of a
// key whose signature over the header and the archive holds.
//   node tests/package/crx_id.mjs FILE.crx
import crypto from "node:crypto";
import fs from "node:fs";

// The fields of one protobuf message: [number, bytes] for the
// length-delimited ones, which are all this format uses.
function fields(buffer) {
  const out = [];
  let at = 0;
  const varint = () => {
    let value = 0n;
    for (let shift = 0n; ; shift += 7n) {
      if (at >= buffer.length) throw new Error("truncated header");
      const byte = buffer[at++];
      value |= BigInt(byte & 0x7f) << shift;
      if (!(byte & 0x80)) return value;
    }
  };
  while (at < buffer.length) {
    const tag = varint();
    if ((tag & 7n) !== 2n) throw new Error(`unexpected wire type in field ${tag >> 3n}`);
    const length = Number(varint());
    if (at + length > buffer.length) throw new Error("truncated field");
    out.push([Number(tag >> 3n), buffer.subarray(at, at + length)]);
    at += length;
  }
  return out;
}

const idText = (bytes) => [...bytes.toString("hex")].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");

const crx = fs.readFileSync(process.argv[2]);
if (crx.toString("latin1", 0, 4) !== "Cr24" || crx.readUInt32LE(4) !== 3) throw new Error("not a CRX3 file");
const headerSize = crx.readUInt32LE(8);
const header = fields(crx.subarray(12, 12 + headerSize));
const archive = crx.subarray(12 + headerSize);
const signedData = header.find(([n]) => n === 10000)?.[1];
if (!signedData) throw new Error("no signed header data");
const crxId = fields(signedData).find(([n]) => n === 1)?.[1];
if (!crxId || crxId.length !== 16) throw new Error("no 16-byte crx_id");

const prefix = Buffer.from("CRX3 SignedData\x00", "latin1");
const length = Buffer.alloc(4);
length.writeUInt32LE(signedData.length);
const message = Buffer.concat([prefix, length, signedData, archive]);
const proofs = header.filter(([n]) => n === 2).map(([, proof]) => Object.fromEntries(fields(proof)));
const owner = proofs.find((p) => crypto.createHash("sha256").update(p[1]).digest().subarray(0, 16).equals(crxId));
if (!owner) throw new Error(`no RSA key of the header gives the ID ${idText(crxId)}`);
const key = crypto.createPublicKey({ key: owner[1], format: "der", type: "spki" });
if (!crypto.verify("sha256", message, key, owner[2])) throw new Error("the signature of the ID's key does not hold");
console.log(idText(crxId));
