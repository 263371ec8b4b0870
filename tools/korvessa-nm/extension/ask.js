// Runs in the extension's isolated world of pages the lists do not admit,
// where users may add sites: shows the page nothing, and waits for it to ask
// for the page object with
//   window.postMessage({channel: "korvessa-request-access"}, "*")
// The extension asks the person (the consent dialog); the answer comes back
// as {channel: "korvessa-access", granted, error, message}, and once granted
// the page has window.Korvessa.
(() => {
  "use strict";
  const REQUEST = "korvessa-request-access";
  const ANSWER = "korvessa-access";
  const api = typeof browser !== "undefined" ? browser : chrome;
  if (globalThis.korvessaAsk) return;
  globalThis.korvessaAsk = true;
  const page = globalThis.korvessaPage || (globalThis.korvessaPage = crypto.randomUUID());

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== REQUEST) return;
    const reply = (answer) => window.postMessage({ channel: ANSWER, granted: answer.granted === true,
      error: answer.error, message: answer.message }, "*");
    let sent;
    try {
      sent = api.runtime.sendMessage({ access: true, page });
    } catch (e) {
      reply({ granted: false, message: String(e && e.message ? e.message : e) });
      return;
    }
    Promise.resolve(sent).then((answer) => reply(answer || { granted: false }),
      (e) => reply({ granted: false, message: String(e && e.message ? e.message : e) }));
  });
})();
