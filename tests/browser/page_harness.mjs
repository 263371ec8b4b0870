// What the page tests share: a fresh engine home and machine registry, a
// signer imported into the user's store, the native host registered in a
// temporary browser profile through a wrapper that hands it this run's
// environment, loopback web servers, and Debian's headless Chromium with the
// extension loaded.
//
// KV_BUILD names the build folder (korvessa-nm, korvessa, korvessa-reg and
// the library); CHROMIUM the browser (default /usr/bin/chromium).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import puppeteer from "puppeteer-core";

const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, "../..");
export const build = path.resolve(process.env.KV_BUILD || path.join(root, "build/dev"));
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
export const extension = path.join(root, "tools/korvessa-nm/extension");
const examples = path.join(root, "examples/web");
const HOST_NAME = "tw.korvessa.capi";

export class Harness {
  constructor(name) {
    this.tmp = fs.mkdtempSync(path.join(os.tmpdir(), `korvessa-${name}-`));
    this.work = path.join(this.tmp, "work");
    this.env = {
      ...process.env,
      KORVESSA_HOME: path.join(this.tmp, "home"),
      KORVESSA_MACHINE_HOME: path.join(this.tmp, "machine"),
      KORVESSA_DIALOGS: path.join(this.tmp, "dialogs.json"),
      KORVESSA_DIALOG_LOG: path.join(this.tmp, "dialogs.log"),
      KORVESSA_SIGNER_AREA: `Korvessa ${name} test ${process.pid}`,
    };
    delete this.env.DISPLAY;
    delete this.env.WAYLAND_DISPLAY;
    this.servers = [];
    fs.mkdirSync(this.env.KORVESSA_HOME, { recursive: true });
    fs.mkdirSync(this.env.KORVESSA_MACHINE_HOME, { recursive: true });
    fs.mkdirSync(this.work, { recursive: true });
    this.scriptDialogs([]);
  }

  run(file, args, options = {}) {
    return execFileSync(file, args, { env: this.env, stdio: ["pipe", "pipe", "pipe"], maxBuffer: 1 << 30, ...options });
  }

  // A loopback server of the example pages (anything else: a plain page).
  async serve() {
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
    await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
    this.servers.push(server);
    return `http://127.0.0.1:${server.address().port}`;
  }

  setMachine(key, name, type, value) {
    this.run(path.join(build, "korvessa-reg"), ["set", `HKLM\\SOFTWARE\\Korvessa\\CAPI${key}`, name, type, String(value)]);
  }
  allowOnMachine(name, origin) { this.setMachine("\\AllowedSites", name, "REG_SZ", origin); }

  scriptDialogs(steps) { fs.writeFileSync(this.env.KORVESSA_DIALOGS, JSON.stringify(steps)); }
  dialogs() {
    if (!fs.existsSync(this.env.KORVESSA_DIALOG_LOG)) return [];
    return fs.readFileSync(this.env.KORVESSA_DIALOG_LOG, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l))
      .filter((e) => e.event === "dialog");
  }

  // A signer certificate from a root of its own, in a PFX imported into the
  // user's store (as an earlier enrolment would have left it).
  makeSigner() {
    const p = (name) => path.join(this.work, name);
    this.run("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj",
      "/C=TW/O=Korvessa Test/CN=Test Root CA", "-keyout", p("root.key"), "-out", p("root.pem"),
      "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"]);
    this.run("openssl", ["req", "-newkey", "rsa:2048", "-nodes", "-subj", "/C=TW/O=Korvessa Test/CN=Page Signer",
      "-keyout", p("signer.key"), "-out", p("signer.csr")]);
    fs.writeFileSync(p("signer.ext"), "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n");
    this.run("openssl", ["x509", "-req", "-in", p("signer.csr"), "-CA", p("root.pem"), "-CAkey", p("root.key"),
      "-set_serial", "0x3001", "-days", "30", "-extfile", p("signer.ext"), "-out", p("signer.pem")]);
    this.run("openssl", ["pkcs12", "-export", "-inkey", p("signer.key"), "-in", p("signer.pem"), "-certfile",
      p("root.pem"), "-keypbe", "PBE-SHA1-3DES", "-certpbe", "PBE-SHA1-3DES", "-macalg", "sha1", "-passout",
      "pass:test1234", "-out", p("signer.pfx")]);
    const answers = this.run(path.join(build, "korvessa"), ["--batch"], {
      input: JSON.stringify({ call: "ImportPfxToIE", args: [this.work, "signer.pfx", "test1234", 1, 0] }) + "\n",
      env: { ...this.env, KORVESSA_DIALOGS: "" },
    }).toString();
    assert.equal(JSON.parse(answers.trim()).error, 0, answers);
  }

  async launch() {
    const wrapper = path.join(this.tmp, "korvessa-nm.sh");
    const exports = Object.entries(this.env)
      .filter(([name]) => name.startsWith("KORVESSA_"))
      .map(([name, value]) => `export ${name}='${value}'`).join("\n");
    fs.writeFileSync(wrapper, `#!/bin/sh\n${exports}\nexec '${path.join(build, "korvessa-nm")}' "$@"\n`, { mode: 0o755 });
    const profile = path.join(this.tmp, "profile");
    fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
    const manifest = this.run(path.join(build, "korvessa-nm"), ["--print-manifest", "chromium"]).toString();
    fs.writeFileSync(path.join(profile, "NativeMessagingHosts", `${HOST_NAME}.json`),
      JSON.stringify({ ...JSON.parse(manifest), path: wrapper }, null, 2));
    this.browser = await puppeteer.launch({
      executablePath: chromium,
      headless: true,
      userDataDir: profile,
      protocolTimeout: 300000,
      ignoreDefaultArgs: ["--disable-extensions"],
      args: [`--load-extension=${extension}`, `--disable-extensions-except=${extension}`, "--no-sandbox",
        "--no-first-run", "--disable-gpu"],
    });
    await this.scriptsReady();
  }

  // The extension's worker has registered the page scripts from the lists
  // as they are now.
  async scriptsReady() {
    const target = await this.browser.waitForTarget((t) => t.type() === "service_worker" && t.url().startsWith("chrome-extension://"));
    const worker = await target.worker();
    await worker.evaluate(() => (self.scriptsReady = refresh()));
  }

  async open(origin, file = "order.html", { expectObject = true } = {}) {
    const page = await this.browser.newPage();
    await page.goto(`${origin}/${file}`);
    if (expectObject) await page.waitForFunction(() => typeof window.Korvessa === "object", { timeout: 20000 });
    return page;
  }

  // The page asks for the object; resolves with the extension's answer.
  requestAccess(page) {
    return page.evaluate(() => new Promise((resolve) => {
      window.addEventListener("message", (event) => {
        if (event.data && event.data.channel === "korvessa-access") resolve(event.data);
      });
      window.postMessage({ channel: "korvessa-request-access" }, "*");
      setTimeout(() => resolve({ silent: true }), 3000);
    }));
  }

  // Whatever a page could find of the extension: the object, and an answer
  // to a call posted the way the object posts it.
  traces(page) {
    return page.evaluate(() => new Promise((resolve) => {
      const found = { object: "Korvessa" in window, answered: false };
      window.addEventListener("message", (event) => {
        if (event.data && event.data.channel === "korvessa-answer") found.answered = true;
      });
      window.postMessage({ channel: "korvessa-call", id: 1, call: "GetVersion", args: [] }, "*");
      setTimeout(() => resolve(found), 1500);
    }));
  }

  async close() {
    if (this.browser) await this.browser.close();
    for (const server of this.servers) server.close();
    if (!process.env.KV_KEEP_TEMP) fs.rmSync(this.tmp, { recursive: true, force: true });
  }
}
