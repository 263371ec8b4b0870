// How the browser test starts each browser: Debian's Chromium over the
// DevTools protocol with the extension unpacked, Debian's Firefox ESR over
// WebDriver BiDi with the extension's .xpi in the profile (unsigned add-ons
// allowed there, as they are on ESR). Both headless, each in a fresh profile,
// with the environment given (which the browser hands on to the native host
// it starts).
import fs from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";

const FIREFOX_ID = "capi@korvessa.tw";

export const browsers = {
  chromium: {
    executable: process.env.CHROMIUM || "/usr/bin/chromium",
    // extension: the unpacked Chromium build.
    launch({ profile, env, extension }) {
      return puppeteer.launch({
        executablePath: this.executable,
        headless: true,
        userDataDir: profile,
        env,
        ignoreDefaultArgs: ["--disable-extensions"],
        args: [`--load-extension=${extension}`, `--disable-extensions-except=${extension}`, "--no-sandbox",
          "--no-first-run", "--disable-gpu"],
      });
    },
  },
  firefox: {
    executable: process.env.FIREFOX || "/usr/bin/firefox-esr",
    // extension: the .xpi, installed as the profile's own add-on.
    launch({ profile, env, extension }) {
      fs.mkdirSync(path.join(profile, "extensions"), { recursive: true });
      fs.copyFileSync(extension, path.join(profile, "extensions", `${FIREFOX_ID}.xpi`));
      return puppeteer.launch({
        browser: "firefox",
        executablePath: this.executable,
        headless: true,
        env,
        args: ["-profile", profile],
        extraPrefsFirefox: {
          "xpinstall.signatures.required": false,
          "extensions.autoDisableScopes": 0,
          "extensions.enabledScopes": 15,
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
