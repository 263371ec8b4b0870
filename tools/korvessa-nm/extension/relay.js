// Runs in the extension's isolated world of the pages the lists admit (or
// that the person allowed): carries the page's calls to the extension's
// service worker and the answers back. Only the call's id, name and
// arguments are passed on; whatever else the page put in its message (an
// "origin" of its choosing, say) is dropped here, and the service worker
// takes the origin from the browser in any case. The relay adds the key of
// this document ("page"): the user's "this time" answer to the consent
// dialog lasts for the page, until it is closed or reloaded.
(() => {
  "use strict";
  const CALL = "korvessa-call";
  const ANSWER = "korvessa-answer";
  const api = typeof browser !== "undefined" ? browser : chrome;
  // Injected once more when an allowed page asks again: one relay per page.
  if (globalThis.korvessaRelay) return;
  globalThis.korvessaRelay = true;
  // The key the asking listener (ask.js) made for this document, if any.
  const page = globalThis.korvessaPage || (globalThis.korvessaPage = crypto.randomUUID());

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== CALL) return;
    const { id, call, args } = event.data;
    const reply = (answer) => window.postMessage({ channel: ANSWER, id, answer }, "*");
    let sent;
    try {
      sent = api.runtime.sendMessage({ id, call, page, args: Array.isArray(args) ? args : [] });
    } catch (e) {
      reply({ failure: String(e && e.message ? e.message : e) });
      return;
    }
    Promise.resolve(sent).then(
      (answer) => reply(answer || { failure: "no answer from the extension" }),
      (e) => reply({ failure: String(e && e.message ? e.message : e) }));
  });
})();
