// What every browser door test stands on: a fresh engine home with a signer
// certificate, a machine allow-list naming one of two local sites (each
// serving the example pages of examples/web, anything else a plain page),
// scripted dialog answers, the extension's files and the native host
// registered; and, per browser, the session that opens pages in it.
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
import { browsers } from "./browsers.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
export const installed = Boolean(process.env.KV_INSTALLED);
const programs = installed ? "/usr/lib/korvessa" : path.resolve(process.env.KV_BUILD || path.join(root, "build/dev"));

const examples = path.join(root, "examples/web");

export const SITE_NOT_ALLOWED = 1502;

function serve() {
  const server = http.createServer((request, response) => {
    const name = path.basename(new URL(request.url, "http://x").pathname);
    const file = path.join(examples, name);
    if (name && fs.existsSync(file) && fs.statSync(file).isFile()) {
      const type = name.endsWith(".js") ? "text/javascript" : "text/html";
      response.writeHead(200, { "Content-Type": `${type}; charset=utf-8` });
      response.end(fs.readFileSync(file));
      return;
    }
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end("<!doctype html><title>trading</title><p>order page</p>");
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// signer: the common name of the signer certificate.
export async function setUpDoor({ signer = "Browser Signer" } = {}) {
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

  const run = (file, args, options = {}) =>
    execFileSync(file, args, { env, stdio: ["pipe", "pipe", "pipe"], maxBuffer: 1 << 30, ...options });
  const tool = (name) => path.join(programs, name);
  const setMachine = (key, name, type, value) =>
    run(tool("korvessa-reg"), ["set", `HKLM\\SOFTWARE\\Korvessa\\CAPI${key}`, name, type, String(value)]);
  const scriptDialogs = (steps) => fs.writeFileSync(env.KORVESSA_DIALOGS, JSON.stringify(steps));

  const servers = [];
  const newSite = async () => {
    const server = await serve();
    servers.push(server);
    return `http://127.0.0.1:${server.address().port}`;
  };
  const allowedOrigin = await newSite();
  const otherOrigin = await newSite();
  // Only the first origin is on the machine's list; users may not add any.
  setMachine("\\AllowedSites", "trading", "REG_SZ", allowedOrigin);
  makeSigner(work, run, tool("korvessa"), env, signer);
  // The chooser picks the signer, the confirmation is accepted.
  scriptDialogs([{ dialog: 204, select: 0, press: 1 }, { dialog: 201, press: 1 }]);

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

  const door = {
    env, work, allowedOrigin, otherOrigin, profiles, extensions,
    run, setMachine, scriptDialogs,
    // Another local site, on no list.
    newSite,
    allowOnMachine: (name, origin) => setMachine("\\AllowedSites", name, "REG_SZ", origin),
    // The dialogs the hosts have shown so far, in order.
    dialogs() {
      if (!fs.existsSync(env.KORVESSA_DIALOG_LOG)) return [];
      return fs.readFileSync(env.KORVESSA_DIALOG_LOG, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l))
        .filter((e) => e.event === "dialog");
    },
    // The browser `name` started on this door, with its own profile.
    async launch(name) {
      const browser = await browsers[name].launch({ profile: profiles[name], env, extension: extensions[name] });
      const session = new Session(name, browser);
      try {
        await session.scriptsReady();
      } catch (e) {
        await browser.close();
        throw e;
      }
      return session;
    },
    close() {
      for (const s of servers) s.close();
      if (!process.env.KV_KEEP_TEMP) fs.rmSync(tmp, { recursive: true, force: true });
    },
  };
  return door;
}

// One browser on the door.
class Session {
  constructor(name, browser) {
    this.name = name;
    this.browser = browser;
  }

  // The options page, once it shows the lists, and the lists as shown. The
  // extension answers it only once the page scripts are registered for
  // those lists.
  async options() {
    const page = await this.browser.newPage();
    const { extensionUrl, extensionPageLoad } = browsers[this.name];
    await page.goto(extensionUrl("options.html"), { waitUntil: extensionPageLoad });
    await page.waitForSelector("body[data-ready]", { timeout: 20000 });
    const lists = await page.evaluate(() => Object.fromEntries(["machine", "user", "denied"].map((id) =>
      [id, [...document.querySelectorAll(`#${id} li[data-site]`)].map((li) => li.dataset.site)])));
    return { page, lists };
  }

  // The page scripts are registered for the lists as they are now.
  async scriptsReady() {
    await (await this.options()).page.close();
  }

  async open(origin, file = "order.html", { expectObject = true } = {}) {
    const page = await this.browser.newPage();
    await page.goto(`${origin}/${file}`);
    if (expectObject) await page.waitForFunction(() => typeof window.Korvessa === "object", { timeout: 20000 });
    return page;
  }

  close() {
    return this.browser.close();
  }
}

// Whatever a page could find of the extension: the object, and an answer to
// a call posted the way the object posts it (with an origin field of
// `forged`'s, if given).
export function traces(page, forged = "") {
  return page.evaluate((forged) => new Promise((resolve) => {
    const found = { object: "Korvessa" in window, answered: false };
    window.addEventListener("message", (event) => {
      if (event.data && event.data.channel === "korvessa-answer") found.answered = true;
    });
    const call = { channel: "korvessa-call", id: 1, call: "GetVersion", args: [] };
    if (forged) Object.assign(call, { origin: forged, sender: { origin: forged }, url: `${forged}/` });
    window.postMessage(call, "*");
    setTimeout(() => resolve(found), 1500);
  }), forged);
}

// The page asks for the object; resolves with the extension's answer, or
// {silent: true} when none comes within `waitMs` (the person's answer goes
// through a host process, slow on a busy machine).
export function requestAccess(page, waitMs = 20000) {
  return page.evaluate((waitMs) => new Promise((resolve) => {
    window.addEventListener("message", (event) => {
      if (event.data && event.data.channel === "korvessa-access") resolve(event.data);
    });
    window.postMessage({ channel: "korvessa-request-access" }, "*");
    setTimeout(() => resolve({ silent: true }), waitMs);
  }), waitMs);
}

// A signer certificate from a root of its own, in a PFX imported into the
// user's store of the fresh home (as an earlier enrolment would have left it).
function makeSigner(work, run, korvessa, env, commonName) {
  const p = (name) => path.join(work, name);
  run("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/C=TW/O=Korvessa Test/CN=Test Root CA",
    "-keyout", p("root.key"), "-out", p("root.pem"), "-addext", "basicConstraints=critical,CA:TRUE",
    "-addext", "keyUsage=critical,keyCertSign,cRLSign"]);
  run("openssl", ["req", "-newkey", "rsa:2048", "-nodes", "-subj", `/C=TW/O=Korvessa Test/CN=${commonName}`,
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
