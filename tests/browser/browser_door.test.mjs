// The browser door end to end: Debian's headless Chromium with the extension
// loaded, the native host registered in a temporary profile, the engine in a
// fresh home. A page on an allowed origin selects a signer and signs through
// scripted dialogs (the signature checked by OpenSSL); a page on another
// origin is refused, also when it forges the origin field of its message.
//
// KV_BUILD names the build folder (korvessa-nm, korvessa, korvessa-reg and
// the library); CHROMIUM the browser (default /usr/bin/chromium).
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import puppeteer from "puppeteer-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
const build = path.resolve(process.env.KV_BUILD || path.join(root, "build/dev"));
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
const extension = path.join(root, "tools/korvessa-nm/extension");
const HOST_NAME = "tw.korvessa.capi";
const TEXT = "委託買進台積電 1000 股，價格 600 元";
const SITE_NOT_ALLOWED = 1502;

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "korvessa-browser-"));
const work = path.join(tmp, "work");
const env = {
  ...process.env,
  KORVESSA_HOME: path.join(tmp, "home"),
  KORVESSA_MACHINE_HOME: path.join(tmp, "machine"),
  KORVESSA_DIALOGS: path.join(tmp, "dialogs.json"),
  KORVESSA_DIALOG_LOG: path.join(tmp, "dialogs.log"),
  KORVESSA_SIGNER_AREA: `Korvessa browser test ${process.pid}`,
};
delete env.DISPLAY;
delete env.WAYLAND_DISPLAY;

let browser, allowedServer, otherServer, allowedOrigin, otherOrigin;

function run(file, args, options = {}) {
  return execFileSync(file, args, { env, stdio: ["pipe", "pipe", "pipe"], ...options });
}

function serve() {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end("<!doctype html><title>trading</title><p>order page</p>");
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// A signer certificate from a root of its own, in a PFX imported into the
// user's store of the fresh home (as an earlier enrolment would have left it).
function makeSigner() {
  fs.mkdirSync(work, { recursive: true });
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
  const answers = run(path.join(build, "korvessa"), ["--batch"], {
    input: JSON.stringify({ call: "ImportPfxToIE", args: [work, "signer.pfx", "test1234", 1, 0] }) + "\n",
    env: { ...env, KORVESSA_DIALOGS: "" },
  }).toString();
  assert.equal(JSON.parse(answers.trim()).error, 0, answers);
}

before(async () => {
  fs.mkdirSync(env.KORVESSA_HOME, { recursive: true });
  fs.mkdirSync(env.KORVESSA_MACHINE_HOME, { recursive: true });
  allowedServer = await serve();
  otherServer = await serve();
  allowedOrigin = `http://127.0.0.1:${allowedServer.address().port}`;
  otherOrigin = `http://127.0.0.1:${otherServer.address().port}`;
  // Only the first origin is on the machine's list; users may not add any.
  run(path.join(build, "korvessa-reg"),
    ["set", "HKLM\\SOFTWARE\\Korvessa\\CAPI\\AllowedSites", "trading", "REG_SZ", allowedOrigin]);
  makeSigner();
  // The chooser picks the signer, the confirmation is accepted.
  fs.writeFileSync(env.KORVESSA_DIALOGS, JSON.stringify([
    { dialog: 204, select: 0, press: 1 },
    { dialog: 201, press: 1 },
  ]));

  // The browser starts the host with its own environment: a wrapper gives
  // the host this test's.
  const wrapper = path.join(tmp, "korvessa-nm.sh");
  const exports = Object.entries(env)
    .filter(([name]) => name.startsWith("KORVESSA_"))
    .map(([name, value]) => `export ${name}='${value}'`).join("\n");
  fs.writeFileSync(wrapper, `#!/bin/sh\n${exports}\nexec '${path.join(build, "korvessa-nm")}' "$@"\n`, { mode: 0o755 });
  const profile = path.join(tmp, "profile");
  fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
  const manifest = run(path.join(build, "korvessa-nm"), ["--print-manifest", "chromium"]).toString();
  fs.writeFileSync(path.join(profile, "NativeMessagingHosts", `${HOST_NAME}.json`),
    JSON.stringify({ ...JSON.parse(manifest), path: wrapper }, null, 2));

  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    ignoreDefaultArgs: ["--disable-extensions"],
    args: [`--load-extension=${extension}`, `--disable-extensions-except=${extension}`, "--no-sandbox",
      "--no-first-run", "--disable-gpu"],
  });
});

after(async () => {
  if (browser) await browser.close();
  allowedServer?.close();
  otherServer?.close();
  if (!process.env.KV_KEEP_TEMP) fs.rmSync(tmp, { recursive: true, force: true });
});

async function openPage(origin) {
  const page = await browser.newPage();
  await page.goto(`${origin}/order.html`);
  await page.waitForFunction(() => typeof window.Korvessa === "object", { timeout: 20000 });
  return page;
}

function dialogLog() {
  if (!fs.existsSync(env.KORVESSA_DIALOG_LOG)) return [];
  return fs.readFileSync(env.KORVESSA_DIALOG_LOG, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l));
}

test("an allowed page selects a signer and signs; OpenSSL verifies the signature", async () => {
  const page = await openPage(allowedOrigin);
  // As many methods as the generated list holds (one "[name, [params]]" line each).
  const listed = fs.readFileSync(path.join(extension, "operations.js"), "utf8").match(/^\s+\["\w+", \[/gm).length;
  assert.equal(await page.evaluate(() => Object.keys(window.Korvessa).length), listed);
  const outcome = await page.evaluate(async (text) => {
    // Flag 1: the chooser is shown even for a single candidate.
    const selected = await Korvessa.SelectSigner("", 1, 0);
    const selectError = await Korvessa.GetErrorCode();
    const subject = await Korvessa.GetCertSubjectCN();
    // No confirmation flag: a page cannot skip the confirmation all the same.
    const signature = await Korvessa.SignPkcs1(text, 256);
    const signError = await Korvessa.GetErrorCode();
    return { selected, selectError, subject, signature, signError };
  }, TEXT);
  assert.deepEqual({ selected: outcome.selected, selectError: outcome.selectError, signError: outcome.signError },
    { selected: 0, selectError: 0, signError: 0 });
  assert.equal(outcome.subject, "Browser Signer");

  fs.writeFileSync(path.join(work, "content.utf16"), Buffer.from(TEXT, "utf16le"));
  fs.writeFileSync(path.join(work, "pkcs1.sig"), Buffer.from(outcome.signature, "base64"));
  run("openssl", ["dgst", "-sha1", "-verify", path.join(work, "signer.pub"), "-signature", path.join(work, "pkcs1.sig"),
    path.join(work, "content.utf16")]);

  // Both dialogs were the host's, and both named the page's origin.
  const shown = dialogLog().filter((e) => e.event === "dialog");
  assert.deepEqual(shown.map((e) => e.dialog), [204, 201]);
  for (const e of shown) assert.ok(e.title.endsWith(` - ${allowedOrigin}`), e.title);
  await page.close();
});

test("a page whose origin is not on the list is refused with a result code", async () => {
  const page = await openPage(otherOrigin);
  const refusal = await page.evaluate(() =>
    Korvessa.GetVersion().then((v) => ({ resolved: v }), (e) => ({ code: e.code, message: e.message })));
  assert.equal(refusal.code, SITE_NOT_ALLOWED);
  assert.match(refusal.message, /1502/);
  await page.close();
});

test("a page that forges an origin field is judged by its real origin", async () => {
  const page = await openPage(otherOrigin);
  const answer = await page.evaluate((forged) => new Promise((resolve) => {
    window.addEventListener("message", (event) => {
      if (event.data && event.data.channel === "korvessa-answer" && event.data.id === "forged") resolve(event.data.answer);
    });
    window.postMessage({ channel: "korvessa-call", id: "forged", call: "GetVersion", args: [], origin: forged,
      sender: { origin: forged }, url: `${forged}/` }, "*");
  }), allowedOrigin);
  assert.equal(answer.error, SITE_NOT_ALLOWED);
  assert.equal(answer.result, "");
  await page.close();
});
