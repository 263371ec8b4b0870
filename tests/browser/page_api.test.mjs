// The page object as web developers use it, under headless Chromium: calls
// that give their own outcome while other flows and tabs of the same site
// call too, and signatures whose answers are far larger than one native
// message (checked by OpenSSL).
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { Harness } from "./page_harness.mjs";

const BAD_KEY_DECRYPT = 9005;
const h = new Harness("page");
let allowed;

before(async () => {
  allowed = await h.serve();
  h.allowOnMachine("trading", allowed);
  h.makeSigner();
  await h.launch();
});
after(() => h.close());

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

test("each call's outcome is its own under two flows in a page and two tabs of a site", async () => {
  const page = await h.open(allowed);
  const [failed, hashed] = await flows(page, "both", 25);
  assert.deepEqual(new Set(failed), new Set([BAD_KEY_DECRYPT]));
  assert.deepEqual(new Set(hashed), new Set([0]));

  const other = await h.open(allowed);
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
});

test("attached PKCS#7 of 2 MB and 20 MB reach the page whole; OpenSSL verifies them", async () => {
  h.scriptDialogs([{ dialog: 204, select: 0, press: 1 }, { dialog: 201, press: 1 }, { dialog: 201, press: 1 }]);
  const page = await h.open(allowed);
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
    const p = (name) => path.join(h.work, name);
    fs.writeFileSync(p("large.p7"), der);
    h.run("openssl", ["cms", "-verify", "-binary", "-inform", "DER", "-in", p("large.p7"), "-CAfile", p("root.pem"),
      "-out", p("large.txt")]);
    const content = new TextDecoder("big5").decode(fs.readFileSync(p("large.txt")));
    assert.ok(content === line.repeat(repeat), "the signed content is the page's text");
    console.log(`# ${megabytes} MB: PKCS#7 of ${der.length} bytes, ${outcome.length} characters of Base64, ${seconds} s`);
  }
  await page.close();
});
