// Starts the native host the way a browser does and talks to it in native
// messaging frames: the command line (the manifest's path and the caller
// origin argument) comes after "--"; each line of the requests file is one
// message. Every message is written, standard input is closed, and each
// answer the host wrote is printed as one line of JSON. Exit status 1 when
// the host's output is not a whole number of frames.
//
//   node host_driver.mjs REQUESTS.jsonl -- COMMAND [ARGS...]
import { spawn } from "node:child_process";
import { readFileSync } from "node:fs";

const [requestsFile, dashes, command, ...args] = process.argv.slice(2);
if (!requestsFile || dashes !== "--" || !command) {
  console.error("usage: node host_driver.mjs REQUESTS.jsonl -- COMMAND [ARGS...]");
  process.exit(2);
}

const frames = [];
for (const line of readFileSync(requestsFile, "utf8").split("\n")) {
  if (!line.trim()) continue;
  const body = Buffer.from(line, "utf8");
  const length = Buffer.alloc(4);
  length.writeUInt32LE(body.length);
  frames.push(length, body);
}

const host = spawn(command, args, { stdio: ["pipe", "pipe", "inherit"] });
const out = [];
host.stdout.on("data", (chunk) => out.push(chunk));
host.stdin.end(Buffer.concat(frames));
host.on("close", (code) => {
  const all = Buffer.concat(out);
  let at = 0;
  let whole = true;
  while (at < all.length) {
    if (at + 4 > all.length) { whole = false; break; }
    const size = all.readUInt32LE(at);
    if (at + 4 + size > all.length) { whole = false; break; }
    process.stdout.write(all.subarray(at + 4, at + 4 + size).toString("utf8") + "\n");
    at += 4 + size;
  }
  if (!whole) console.error(`host_driver: the host's output ends inside a frame (${all.length} bytes, exit ${code})`);
  process.exit(whole ? 0 : 1);
});
