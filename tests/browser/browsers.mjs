// How the browser test starts each browser: Debian's Chromium over the
// DevTools protocol with the extension unpacked, Debian's Firefox ESR over
// WebDriver BiDi with the extension's .xpi in the profile (unsigned add-ons
// allowed there, as they are on ESR). Both headless, each in a fresh profile,
// with the environment given (which the browser hands on to the native host
// it starts). extensionUrl(file) names a file of the extension as that
// browser serves it (the options page, say); extensionPageLoad is how long
// opening one can wait.
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import puppeteer from "puppeteer-core";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const FIREFOX_ID = "capi@korvessa.tw";
// The ID the manifest's key gives, the one the host's manifests admit.
const CHROMIUM_ID = /kChromiumExtensionId = "([a-p]{32})"/
  .exec(fs.readFileSync(path.join(root, "tools/korvessa-nm/install.h"), "utf8"))[1];
// Firefox gives each installation an address of its own unless the profile
// names one.
const FIREFOX_UUID = "5b0f4a7e-2c61-4d8e-9f3a-6e1c0d2b7a94";
// Signing tens of megabytes in a page takes longer than the default allows.
const PROTOCOL_TIMEOUT_MS = 300000;

export const browsers = {
  chromium: {
    executable: process.env.CHROMIUM || "/usr/bin/chromium",
    extensionUrl: (file) => `chrome-extension://${CHROMIUM_ID}/${file}`,
    extensionPageLoad: "load",
    // extension: the unpacked Chromium build.
    launch({ profile, env, extension }) {
      return puppeteer.launch({
        executablePath: this.executable,
        headless: true,
        userDataDir: profile,
        env,
        protocolTimeout: PROTOCOL_TIMEOUT_MS,
        ignoreDefaultArgs: ["--disable-extensions"],
        args: [`--load-extension=${extension}`, `--disable-extensions-except=${extension}`, "--no-sandbox",
          "--no-first-run", "--disable-gpu"],
      });
    },
  },
  firefox: {
    executable: process.env.FIREFOX || "/usr/bin/firefox-esr",
    extensionUrl: (file) => `moz-extension://${FIREFOX_UUID}/${file}`,
    // Extension pages load in the extension's process, and the remote agent
    // never hears them finish: wait for their content instead.
    extensionPageLoad: "commit",
    // extension: the .xpi, installed as the profile's own add-on.
    launch({ profile, env, extension }) {
      fs.mkdirSync(path.join(profile, "extensions"), { recursive: true });
      fs.copyFileSync(extension, path.join(profile, "extensions", `${FIREFOX_ID}.xpi`));
      return puppeteer.launch({
        browser: "firefox",
        executablePath: this.executable,
        headless: true,
        env,
        protocolTimeout: PROTOCOL_TIMEOUT_MS,
        // The remote agent opens extension pages (the options page) only
        // with this.
        args: ["-profile", profile, "--remote-allow-system-access"],
        extraPrefsFirefox: {
          "xpinstall.signatures.required": false,
          "extensions.autoDisableScopes": 0,
          "extensions.enabledScopes": 15,
          "extensions.webextensions.uuids": JSON.stringify({ [FIREFOX_ID]: FIREFOX_UUID }),
        },
      });
    },
  },
};

// The browsers this run drives: $KV_BROWSERS (names separated by blanks or
// commas), else both. A browser whose program is missing is reported, not
// failed, unless it was asked for by name.
export function selectedBrowsers() {
  const asked = (process.env.KV_BROWSERS || "").split(/[\s,]+/).filter(Boolean);
  const names = asked.length ? asked : Object.keys(browsers);
  return names.map((name) => {
    const entry = browsers[name];
    if (!entry) throw new Error(`unknown browser ${name} (known: ${Object.keys(browsers).join(", ")})`);
    const missing = fs.existsSync(entry.executable) ? "" : `${entry.executable} is not installed`;
    return { name, skip: missing && !asked.length ? missing : "" };
  });
}
