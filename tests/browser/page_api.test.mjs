// The page object as web developers use it, in each browser: calls
// that give their own outcome while other flows and tabs of the same site
// call too; signatures whose answers are far larger than one native message
// (checked by OpenSSL); only admitted sites seeing the object, and the
// person's consent for the others, with the options page; the example order
// page (examples/web) as a customer uses it.
import { describe, test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { selectedBrowsers } from "./browsers.mjs";
import { setUpDoor, traces, requestAccess, SITE_NOT_ALLOWED } from "./door_fixture.mjs";

const BAD_KEY_DECRYPT = 9005;

// A flow that decrypts with a wrong key (each call fails) and one that
// hashes (each call succeeds), interleaved; each records the codes it saw.
async function flows(page, which, rounds) {
  return page.evaluate(async (which, rounds) => {
    const failing = async () => {
      const seen = [];
      for (let i = 0; i < rounds; ++i)
        seen.push((await Korvessa.outcome.SymDecrypt("q83vEjRWeJA=", "0123456789ABCDEF", 1, 0)).error);
      return seen;
    };
    const hashing = async () => {
      const seen = [];
      for (let i = 0; i < rounds; ++i) seen.push((await Korvessa.outcome.Hash("2330", 0)).error);
      return seen;
    };
    const run = { failing, hashing, both: () => Promise.all([failing(), hashing()]) };
    return run[which]();
  }, which, rounds);
}

const cases = {};

cases["each call's outcome is its own under two flows in a page and two tabs of a site"] = async (door, browser) => {
  const page = await browser.open(door.allowedOrigin);
  const [failed, hashed] = await flows(page, "both", 25);
  assert.deepEqual(new Set(failed), new Set([BAD_KEY_DECRYPT]));
  assert.deepEqual(new Set(hashed), new Set([0]));

  const other = await browser.open(door.allowedOrigin);
  const [inFirst, inSecond] = await Promise.all([flows(page, "failing", 25), flows(other, "hashing", 25)]);
  assert.deepEqual(new Set(inFirst), new Set([BAD_KEY_DECRYPT]));
  assert.deepEqual(new Set(inSecond), new Set([0]));

  // The plain form and GetErrorCode() keep their meaning: the site's latest
  // call; an outcome carries the engine's message and platform number.
  const plain = await page.evaluate(async () => {
    const result = await Korvessa.SymDecrypt("q83vEjRWeJA=", "0123456789ABCDEF", 1, 0);
    const code = await Korvessa.GetErrorCode();
    const outcome = await Korvessa.outcome.GetErrorMsg();
    return { result, code, outcome, keys: Object.keys(Korvessa).length };
  });
  assert.equal(plain.result, "");
  assert.equal(plain.code, BAD_KEY_DECRYPT);
  assert.match(plain.outcome.result, /9005/);
  assert.equal(plain.outcome.error, BAD_KEY_DECRYPT);
  assert.equal(typeof plain.outcome.capiError, "number");
  assert.equal(plain.keys, 63);
  await Promise.all([page.close(), other.close()]);
};

cases["attached PKCS#7 of 2 MB and 20 MB reach the page whole; OpenSSL verifies them"] = async (door, browser) => {
  door.scriptDialogs([{ dialog: 204, select: 0, press: 1 }, { dialog: 201, press: 1 }, { dialog: 201, press: 1 }]);
  const page = await browser.open(door.allowedOrigin);
  assert.equal((await page.evaluate(() => Korvessa.outcome.SelectSigner("", 1, 0))).error, 0);
  const line = "委託買進台積電 1000 股，價格 600 元\n";  // 36 bytes in Big5
  for (const megabytes of [2, 20]) {
    const repeat = Math.ceil(megabytes * 1e6 / 36);
    const started = Date.now();
    const outcome = await page.evaluate(async (line, repeat) => {
      const { result, error, message } = await Korvessa.outcome.SignPkcs7(line.repeat(repeat), 0x800);
      return { error, message, length: result.length, result };
    }, line, repeat);
    const seconds = (Date.now() - started) / 1000;
    assert.equal(outcome.error, 0, outcome.message);
    const der = Buffer.from(outcome.result, "base64");
    assert.ok(der.length > megabytes * 1e6, `${der.length} bytes`);
    const p = (name) => path.join(door.work, name);
    fs.writeFileSync(p("large.p7"), der);
    door.run("openssl", ["cms", "-verify", "-binary", "-inform", "DER", "-in", p("large.p7"), "-CAfile", p("root.pem"),
      "-out", p("large.txt")]);
    const content = new TextDecoder("big5").decode(fs.readFileSync(p("large.txt")));
    assert.ok(content === line.repeat(repeat), "the signed content is the page's text");
    console.log(`# ${megabytes} MB: PKCS#7 of ${der.length} bytes, ${outcome.length} characters of Base64, ${seconds} s`);
  }
  await page.close();
};

cases["the example order page chooses a signer, signs a Big5 order and shows a refusal's message"] = async (door, browser) => {
  door.scriptDialogs([{ dialog: 204, select: 0, press: 1 }, { dialog: 201, press: 1 }, { dialog: 201, press: 2 }]);
  const page = await browser.open(door.allowedOrigin, "order.html");
  await page.click("#choose");
  await page.waitForFunction(() => document.getElementById("signer").textContent === "Page Signer");
  await page.select("#side", "賣出");
  await page.$eval("#quantity", (input) => { input.value = "2000"; });
  await page.click("#sign");
  await page.waitForFunction(() => document.getElementById("signature").value !== "", { timeout: 20000 });
  const shown = await page.evaluate(() => ({ text: document.getElementById("text").value,
    signature: document.getElementById("signature").value, status: document.getElementById("status").textContent }));
  assert.equal(shown.text, "委託賣出 2330 2000 股，價格 600 元");
  const p = (name) => path.join(door.work, name);
  fs.writeFileSync(p("order.p7"), Buffer.from(shown.signature, "base64"));
  door.run("openssl", ["cms", "-verify", "-binary", "-inform", "DER", "-in", p("order.p7"), "-CAfile", p("root.pem"),
    "-out", p("order.txt")]);
  assert.equal(new TextDecoder("big5").decode(fs.readFileSync(p("order.txt"))), shown.text);
  assert.match(door.run("openssl", ["cms", "-cmsout", "-print", "-inform", "DER", "-in", p("order.p7")]).toString(), /sha256/);

  // The person refuses to sign: the page shows the code's own message.
  await page.click("#sign");
  await page.waitForFunction(() => document.getElementById("status").className === "failed", { timeout: 20000 });
  assert.match(await page.$eval("#status", (e) => e.textContent), /簽章失敗: .*\(5070\)/);
  assert.equal(await page.$eval("#signature", (e) => e.value), "");
  await page.close();
};

cases["only admitted sites see the page object; others may ask only where users may add sites"] = async (door, browser) => {
  const page = await browser.open(door.otherOrigin, "plain.html", { expectObject: false });
  assert.deepEqual(await traces(page), { object: false, answered: false });
  assert.deepEqual(await requestAccess(page, 3000), { silent: true });
  await page.close();

  door.setMachine("", "AllowUserSites", "REG_DWORD", 1);
  await browser.scriptsReady();
  // Each site's host process takes its answers from the start of the list.
  door.scriptDialogs([{ dialog: 208, press: 311 }, { dialog: 208, press: 1 }, { dialog: 208, press: 2 }]);
  const shown = () => door.dialogs().filter((e) => e.dialog === 208).length;

  // Refused for good: the site's next pages are not asked about.
  let asking = await browser.open(door.otherOrigin, "plain.html", { expectObject: false });
  assert.deepEqual(await traces(asking), { object: false, answered: false });
  let answer = await requestAccess(asking);
  assert.equal(answer.granted, false);
  assert.equal(answer.error, SITE_NOT_ALLOWED);
  await asking.reload();
  assert.equal((await requestAccess(asking)).granted, false);
  assert.equal(shown(), 1);

  // The person takes the refusal back on the options page.
  let { page: options, lists } = await browser.options();
  assert.deepEqual(lists, { machine: [door.allowedOrigin], user: [], denied: [door.otherOrigin] });
  await options.click("#denied li[data-site] button");
  await options.waitForFunction(() => !document.querySelector("#denied li[data-site]"));
  await options.close();

  // This time: the object for this page only; its reload must ask again,
  // is refused this time, and may not ask again at once.
  await asking.reload();
  assert.equal((await requestAccess(asking)).granted, true);
  const version = await asking.evaluate(() => Korvessa.outcome.GetVersion());
  assert.equal(version.error, 0);
  await asking.reload();
  assert.deepEqual(await traces(asking), { object: false, answered: false });
  answer = await requestAccess(asking);
  assert.equal(answer.granted, false);
  assert.equal((await requestAccess(asking)).granted, false);
  assert.equal(shown(), 3);
  await asking.close();

  // Always: the site's pages have the object from then on, without asking.
  door.scriptDialogs([{ dialog: 208, press: 310 }]);
  const another = await door.newSite();
  asking = await browser.open(another, "plain.html", { expectObject: false });
  assert.equal((await requestAccess(asking)).granted, true);
  await asking.close();
  await browser.scriptsReady();
  const later = await browser.open(another, "plain.html");
  assert.equal((await later.evaluate(() => Korvessa.outcome.GetVersion())).error, 0);
  assert.equal(shown(), 4);
  ({ page: options, lists } = await browser.options());
  assert.deepEqual(lists.user, [another]);
  await Promise.all([later.close(), options.close()]);
};

// A fresh door for each browser: the consent case changes the lists.
for (const { name, skip } of selectedBrowsers()) {
  describe(name, { skip: skip || false }, () => {
    let door, browser;
    before(async () => {
      door = await setUpDoor({ signer: "Page Signer" });
      browser = await door.launch(name);
    });
    after(async () => {
      await browser?.close();
      door?.close();
    });
    for (const [title, run] of Object.entries(cases)) test(title, () => run(door, browser));
  });
}
