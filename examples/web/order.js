// @ts-check
// The order page's script: every call uses the outcome form, so each step
// reads its own result code and message, whatever else the page is doing.
"use strict";

/** Flags of SelectSigner: always show the chooser, even for one candidate. */
const SHOW_CHOOSER = 0x1;
/** Flags of SignPkcs7: the text as the system's code page (Big5), SHA-256. */
const BIG5_TEXT = 0x800;
const SHA256 = 0x10000;

/** @param {string} id */
function element(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`no #${id} in the page`);
  return found;
}

/** @param {string} id */
function field(id) {
  return /** @type {HTMLInputElement | HTMLSelectElement | HTMLTextAreaElement} */ (element(id));
}

/**
 * Shows a step's outcome: success, or the code's own message.
 * @param {string} step
 * @param {{ error: number, message: string } | null} outcome
 */
function report(step, outcome) {
  const status = element("status");
  const failed = outcome !== null && outcome.error !== 0;
  status.className = failed ? "failed" : "";
  status.textContent = failed && outcome ? `${step}失敗: ${outcome.message}` : `${step}完成`;
}

/**
 * Waits until the page object is there, asking for it where the site may ask.
 * @returns {Promise<typeof Korvessa>}
 */
function pageObject() {
  if ("Korvessa" in window) return Promise.resolve(window.Korvessa);
  element("access").hidden = false;
  return new Promise((resolve) => {
    window.addEventListener("message", (event) => {
      if (event.source !== window || !event.data || event.data.channel !== "korvessa-access") return;
      if (event.data.granted) {
        element("access").hidden = true;
        resolve(window.Korvessa);
      } else {
        element("status").textContent = `未獲准使用 (not allowed): ${event.data.message || ""}`;
      }
    });
    element("ask").addEventListener("click", () => window.postMessage({ channel: "korvessa-request-access" }, "*"));
  });
}

/** The order as the text that is signed, one line. */
function orderText() {
  return `委託${field("side").value} ${field("stock").value} ${field("quantity").value} 股，價格 ${field("price").value} 元`;
}

async function chooseSigner() {
  const api = await pageObject();
  const selected = await api.outcome.SelectSigner("", SHOW_CHOOSER, 0);
  report("選擇憑證", selected);
  if (selected.error !== 0) return;
  const name = await api.outcome.GetCertSubjectCN();
  element("signer").textContent = name.error === 0 ? name.result : "?";
}

async function signOrder() {
  const api = await pageObject();
  const text = orderText();
  field("text").value = text;
  field("signature").value = "";
  const signed = await api.outcome.SignPkcs7(text, BIG5_TEXT | SHA256);
  report("簽章", signed);
  if (signed.error === 0) field("signature").value = signed.result;
}

/** @param {unknown} e */
function broken(e) {
  element("status").className = "failed";
  element("status").textContent = `無法呼叫元件 (the component cannot be reached): ${e instanceof Error ? e.message : e}`;
}

element("choose").addEventListener("click", () => chooseSigner().catch(broken));
element("order").addEventListener("submit", (event) => {
  event.preventDefault();
  signOrder().catch(broken);
});
