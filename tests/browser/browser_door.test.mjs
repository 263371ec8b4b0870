// The browser door end to end, the same cases in each browser (browsers.mjs):
// the extension loaded, the native host registered, the engine in a fresh
// home (door_fixture.mjs). A page on an allowed origin selects a signer and
// signs through scripted dialogs (the signature checked by OpenSSL); a page
// on another origin is refused, also when it forges the origin field of its
// message.
//
// KV_INSTALLED=1 runs it against the installed package, else KV_BUILD names
// the build folder; KV_BROWSERS picks the browsers (chromium, firefox).
import { describe, test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { browsers, selectedBrowsers } from "./browsers.mjs";
import { setUpDoor, SITE_NOT_ALLOWED } from "./door_fixture.mjs";

const TEXT = "委託買進台積電 1000 股，價格 600 元";

let door;
before(async () => {
  door = await setUpDoor();
});
after(() => door?.close());

async function openPage(browser, origin) {
  const page = await browser.newPage();
  await page.goto(`${origin}/order.html`);
  await page.waitForFunction(() => typeof window.Korvessa === "object", { timeout: 20000 });
  return page;
}

<<<<<<< HEAD
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
=======
for (const { name, skip } of selectedBrowsers()) {
  describe(name, { skip: skip || false }, () => {
    let browser;
    before(async () => {
      browser = await browsers[name].launch({ profile: door.profiles[name], env: door.env, extension: door.extensions[name] });
>>>>>>> deb
    });
    after(async () => {
      if (browser) await browser.close();
    });

    test("an allowed page selects a signer and signs; OpenSSL verifies the signature", async () => {
      door.takeDialogLog();
      const page = await openPage(browser, door.allowedOrigin);
      assert.equal(await page.evaluate(() => Object.keys(window.Korvessa).length), 63);
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

      const signed = path.join(door.work, `content-${name}.utf16`);
      const signature = path.join(door.work, `pkcs1-${name}.sig`);
      fs.writeFileSync(signed, Buffer.from(TEXT, "utf16le"));
      fs.writeFileSync(signature, Buffer.from(outcome.signature, "base64"));
      door.run("openssl", ["dgst", "-sha1", "-verify", path.join(door.work, "signer.pub"), "-signature", signature, signed]);

      // Both dialogs were the host's, and both named the page's origin.
      const shown = door.takeDialogLog().filter((e) => e.event === "dialog");
      assert.deepEqual(shown.map((e) => e.dialog), [204, 201]);
      for (const e of shown) assert.ok(e.title.endsWith(` - ${door.allowedOrigin}`), e.title);
      await page.close();
    });

    test("a page whose origin is not on the list is refused with a result code", async () => {
      const page = await openPage(browser, door.otherOrigin);
      const refusal = await page.evaluate(() =>
        Korvessa.GetVersion().then((v) => ({ resolved: v }), (e) => ({ code: e.code, message: e.message })));
      assert.equal(refusal.code, SITE_NOT_ALLOWED);
      assert.match(refusal.message, /1502/);
      await page.close();
    });

    test("a page that forges an origin field is judged by its real origin", async () => {
      const page = await openPage(browser, door.otherOrigin);
      const answer = await page.evaluate((forged) => new Promise((resolve) => {
        window.addEventListener("message", (event) => {
          if (event.data && event.data.channel === "korvessa-answer" && event.data.id === "forged") resolve(event.data.answer);
        });
        window.postMessage({ channel: "korvessa-call", id: "forged", call: "GetVersion", args: [], origin: forged,
          sender: { origin: forged }, url: `${forged}/` }, "*");
      }), door.allowedOrigin);
      assert.equal(answer.error, SITE_NOT_ALLOWED);
      assert.equal(answer.result, "");
      await page.close();
    });
  });
}
