// The browser door end to end, the same cases in each browser (browsers.mjs):
// the extension loaded, the native host registered, the engine in a fresh
// home (door_fixture.mjs). A page on an allowed origin selects a signer and
// signs through scripted dialogs (the signature checked by OpenSSL); a page
// on another origin gets nothing of the extension, also when it posts a call
// with a forged origin field.
//
// KV_INSTALLED=1 runs it against the installed package, else KV_BUILD names
// the build folder; KV_BROWSERS picks the browsers (chromium, firefox).
import { describe, test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { selectedBrowsers } from "./browsers.mjs";
import { setUpDoor, traces } from "./door_fixture.mjs";

const TEXT = "委託買進台積電 1000 股，價格 600 元";

let door;
before(async () => {
  door = await setUpDoor();
  // The other site's host is listed too, at its scheme's own port: another
  // port of a listed host is another site all the same.
  door.allowOnMachine("loopback", "http://127.0.0.1");
});
after(() => door?.close());

for (const { name, skip } of selectedBrowsers()) {
  describe(name, { skip: skip || false }, () => {
    let browser;
    before(async () => {
      browser = await door.launch(name);
    });
    after(async () => {
      if (browser) await browser.close();
    });

    test("an allowed page selects a signer and signs; OpenSSL verifies the signature", async () => {
      const earlier = door.dialogs().length;
      const page = await browser.open(door.allowedOrigin, "plain.html");
      // As many methods as the generated list holds (one "[name, [params]]" line each).
      const listed = fs.readFileSync(new URL("../../tools/korvessa-nm/extension/operations.js", import.meta.url), "utf8").match(/^\s+\["\w+", \[/gm).length;
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

      const signed = path.join(door.work, `content-${name}.utf16`);
      const signature = path.join(door.work, `pkcs1-${name}.sig`);
      fs.writeFileSync(signed, Buffer.from(TEXT, "utf16le"));
      fs.writeFileSync(signature, Buffer.from(outcome.signature, "base64"));
      door.run("openssl", ["dgst", "-sha1", "-verify", path.join(door.work, "signer.pub"), "-signature", signature, signed]);

      // Both dialogs were the host's, and both named the page's origin.
      const shown = door.dialogs().slice(earlier);
      assert.deepEqual(shown.map((e) => e.dialog), [204, 201]);
      for (const e of shown) assert.ok(e.title.endsWith(` - ${door.allowedOrigin}`), e.title);
      await page.close();
    });

    test("a page whose origin is not on the list gets nothing of the extension, forged origin or not", async () => {
      const page = await browser.open(door.otherOrigin, "plain.html", { expectObject: false });
      assert.deepEqual(await traces(page), { object: false, answered: false });
      assert.deepEqual(await traces(page, door.allowedOrigin), { object: false, answered: false });
      await page.close();
    });
  });
}
