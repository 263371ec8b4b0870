// Runs in the page's own world: gives the page the object `Korvessa`, whose
// methods (the scriptable object's, with the same names and parameters)
// return promises. Each call is posted to the extension's relay in this tab;
// the page's origin is added by the extension from what the browser knows of
// the sender, so nothing the page posts can choose it.
//
// A promise resolves with the method's result (a string or a number) as the
// scriptable method returns it; GetErrorCode() and GetErrorMsg() then tell
// the outcome, as with the scriptable object. It rejects, with an Error whose
// `code` says why, when the call is not made: the site is not allowed
// (1502), the call is malformed, or the engine cannot be reached.
(() => {
  "use strict";
  const CALL = "korvessa-call";
  const ANSWER = "korvessa-answer";
  const SITE_NOT_ALLOWED = 1502;

  // Name and parameter names of each operation, in the interface's order:
  // operations.js (generated from the operation table) runs just before.
  const OPERATIONS = globalThis.__korvessaOperations;
  delete globalThis.__korvessaOperations;

  const pending = new Map();
  let nextId = 1;

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== ANSWER) return;
    const waiting = pending.get(event.data.id);
    if (!waiting) return;
    pending.delete(event.data.id);
    const answer = event.data.answer || {};
    if (answer.invalid !== undefined || answer.error === SITE_NOT_ALLOWED || answer.failure !== undefined) {
      const error = new Error(answer.message || answer.invalid || answer.failure || "call refused");
      error.code = answer.error !== undefined ? answer.error : -1;
      error.answer = answer;
      waiting.reject(error);
    } else {
      waiting.resolve(answer.result);
    }
  });

  function call(name, args) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      window.postMessage({ channel: CALL, id, call: name, args }, "*");
    });
  }

  const api = {};
  for (const [name, params] of OPERATIONS) {
    const method = (...args) => call(name, args);
    Object.defineProperty(method, "length", { value: params.length });
    Object.defineProperty(method, "name", { value: name });
    api[name] = method;
  }
  Object.defineProperty(window, "Korvessa", { value: Object.freeze(api), enumerable: false, writable: false });
})();
