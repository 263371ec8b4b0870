// What every browser door test stands on: a fresh engine home with a signer
// certificate, a machine allow-list naming one of two local sites, scripted
// dialog answers, the extension's files and the native host registered.
//
// Where the programs come from:
//   KV_INSTALLED=1  the installed package: /usr/lib/korvessa, the extension
//                   in /usr/share/korvessa and the host found through the
//                   package's system-wide manifests;
//   otherwise       KV_BUILD (default build/dev): the host registered in
//                   the test's own profile and home, the extension built from
//                   the sources by tools/package/extensions.sh.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
export const installed = Boolean(process.env.KV_INSTALLED);
const programs = installed ? "/usr/lib/korvessa" : path.resolve(process.env.KV_BUILD || path.join(root, "build/dev"));

export const SITE_NOT_ALLOWED = 1502;

function serve() {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end("<!doctype html><title>trading</title><p>order page</p>");
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

export async function setUpDoor() {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "korvessa-browser-"));
  const work = path.join(tmp, "work");
  const home = path.join(tmp, "home");
  // The browsers' environment, handed on to the host: the engine's state in
  // the temporary folder, no display (the dialogs take the scripted answers),
  // and a home of the test's own, so no manifest of the user's is found.
  const env = {
    ...process.env,
    HOME: home,
    KORVESSA_HOME: path.join(tmp, "engine"),
    KORVESSA_MACHINE_HOME: path.join(tmp, "machine"),
    KORVESSA_DIALOGS: path.join(tmp, "dialogs.json"),
    KORVESSA_DIALOG_LOG: path.join(tmp, "dialogs.log"),
    KORVESSA_SIGNER_AREA: `Korvessa browser test ${process.pid}`,
  };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  for (const dir of [work, home, env.KORVESSA_HOME, env.KORVESSA_MACHINE_HOME]) fs.mkdirSync(dir, { recursive: true });

  const run = (file, args, options = {}) => execFileSync(file, args, { env, stdio: ["pipe", "pipe", "pipe"], ...options });
  const tool = (name) => path.join(programs, name);

  const servers = [await serve(), await serve()];
  const [allowedOrigin, otherOrigin] = servers.map((s) => `http://127.0.0.1:${s.address().port}`);
  // Only the first origin is on the machine's list; users may not add any.
  run(tool("korvessa-reg"), ["set", "HKLM\\SOFTWARE\\Korvessa\\CAPI\\AllowedSites", "trading", "REG_SZ", allowedOrigin]);
  makeSigner(work, run, tool("korvessa"), env);
  // The chooser picks the signer, the confirmation is accepted.
  fs.writeFileSync(env.KORVESSA_DIALOGS, JSON.stringify([
    { dialog: 204, select: 0, press: 1 },
    { dialog: 201, press: 1 },
  ]));

  const profiles = { chromium: path.join(tmp, "profile-chromium"), firefox: path.join(tmp, "profile-firefox") };
  for (const dir of Object.values(profiles)) fs.mkdirSync(dir, { recursive: true });
  let extensions;
  if (installed) {
    const share = "/usr/share/korvessa";
    const xpi = fs.readdirSync(share).find((name) => name.endsWith(".xpi"));
    assert.ok(xpi, `no .xpi in ${share}`);
    extensions = { chromium: path.join(share, "extension"), firefox: path.join(share, xpi) };
  } else {
    const built = path.join(tmp, "extension");
    const packed = run("bash", [path.join(root, "tools/package/extensions.sh"), built]).toString().trim().split("\n");
    extensions = { chromium: path.join(built, "chromium"), firefox: packed.find((f) => f.endsWith(".xpi")) };
    // Chromium reads the manifest from the profile it was started with,
    // Firefox from the user's home.
    run(tool("korvessa-nm"), ["--install", "--profile", profiles.chromium]);
    run(tool("korvessa-nm"), ["--install"]);
  }

  return {
    env, work, allowedOrigin, otherOrigin, profiles, extensions,
    run,
    // The dialogs shown since the last call (the transcript starts afresh).
    takeDialogLog() {
      if (!fs.existsSync(env.KORVESSA_DIALOG_LOG)) return [];
      const lines = fs.readFileSync(env.KORVESSA_DIALOG_LOG, "utf8").split("\n").filter(Boolean);
      fs.truncateSync(env.KORVESSA_DIALOG_LOG);
      return lines.map((l) => JSON.parse(l));
    },
    close() {
      for (const s of servers) s.close();
      if (!process.env.KV_KEEP_TEMP) fs.rmSync(tmp, { recursive: true, force: true });
    },
  };
}

// A signer certificate from a root of its own, in a PFX imported into the
// user's store of the fresh home (as an earlier enrolment would have left it).
function makeSigner(work, run, korvessa, env) {
  const p = (name) => path.join(work, name);
  run("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/C=TW/O=Korvessa Test/CN=Test Root CA",
    "-keyout", p("root.key"), "-out", p("root.pem"), "-addext", "basicConstraints=critical,CA:TRUE",
    "-addext", "keyUsage=critical,keyCertSign,cRLSign"]);
  run("openssl", ["req", "-newkey", "rsa:2048", "-nodes", "-subj", "/C=TW/O=Korvessa Test/CN=Browser Signer",
    "-keyout", p("signer.key"), "-out", p("signer.csr")]);
  fs.writeFileSync(p("signer.ext"), "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n");
  run("openssl", ["x509", "-req", "-in", p("signer.csr"), "-CA", p("root.pem"), "-CAkey", p("root.key"),
    "-set_serial", "0x2001", "-days", "30", "-extfile", p("signer.ext"), "-out", p("signer.pem")]);
  run("openssl", ["pkcs12", "-export", "-inkey", p("signer.key"), "-in", p("signer.pem"), "-certfile", p("root.pem"),
    "-keypbe", "PBE-SHA1-3DES", "-certpbe", "PBE-SHA1-3DES", "-macalg", "sha1", "-passout", "pass:test1234",
    "-out", p("signer.pfx")]);
  fs.writeFileSync(p("signer.pub"), run("openssl", ["x509", "-in", p("signer.pem"), "-pubkey", "-noout"]));
  const answers = run(korvessa, ["--batch"], {
    input: JSON.stringify({ call: "ImportPfxToIE", args: [work, "signer.pfx", "test1234", 1, 0] }) + "\n",
    env: { ...env, KORVESSA_DIALOGS: "" },
  }).toString();
  assert.equal(JSON.parse(answers.trim()).error, 0, answers);
}
