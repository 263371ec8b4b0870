// Runs in the page's own world: gives the page the object `Korvessa`, whose
// methods (the scriptable object's, with the same names and parameters)
// return promises. Each call is posted to the extension's relay in this tab;
// the page's origin is added by the extension from what the browser knows of
// the sender, so nothing the page posts can choose it.
//
// Two forms of each method:
// - Korvessa.Name(...) resolves with the method's result (a string or a
//   number) as the scriptable method returns it; GetErrorCode() and
//   GetErrorMsg() then tell the outcome of the site's latest call, as with the
//   scriptable object. It rejects when the site is not allowed (1502).
// - Korvessa.outcome.Name(...) resolves with {result, error, capiError,
//   message} of that very call, as the engine answered it: no second call,
//   so no other flow or tab of the site can slip a call in between. A refusal
//   of the site is an outcome too (error 1502).
// Both reject, with an Error whose `code` says why, when the call is not
// made: the call is malformed, its answer is too large, or the engine cannot
// be reached (-1).
(() => {
  "use strict";
  // Injected once more when an allowed page asks again: the object stays.
  if (Object.getOwnPropertyDescriptor(window, "Korvessa")) return;
  const CALL = "korvessa-call";
  const ANSWER = "korvessa-answer";
  const SITE_NOT_ALLOWED = 1502;

  // Name and parameter names of each operation, in the interface's order:
  // operations.js (generated from the operation table) runs just before.
  const OPERATIONS = globalThis.__korvessaOperations;
  delete globalThis.__korvessaOperations;

  const pending = new Map();
  let nextId = 1;

  function notMade(answer) {
    const error = new Error(answer.message || answer.invalid || answer.failure || "call refused");
    error.code = answer.error !== undefined ? answer.error : -1;
    error.answer = answer;
    return error;
  }

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== ANSWER) return;
    const waiting = pending.get(event.data.id);
    if (!waiting) return;
    pending.delete(event.data.id);
    const answer = event.data.answer || {};
    if (answer.invalid !== undefined || answer.failure !== undefined) {
      waiting.reject(notMade(answer));
    } else if (waiting.outcome) {
      waiting.resolve({ result: answer.result, error: answer.error, capiError: answer.capiError,
        message: answer.message });
    } else if (answer.error === SITE_NOT_ALLOWED) {
      waiting.reject(notMade(answer));
    } else {
      waiting.resolve(answer.result);
    }
  });

  function call(name, args, outcome) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject, outcome });
      window.postMessage({ channel: CALL, id, call: name, args }, "*");
    });
  }

  function method(name, params, outcome) {
    const f = (...args) => call(name, args, outcome);
    Object.defineProperty(f, "length", { value: params.length });
    Object.defineProperty(f, "name", { value: name });
    return f;
  }

  const api = {};
  const outcomes = {};
  for (const [name, params] of OPERATIONS) {
    api[name] = method(name, params, false);
    outcomes[name] = method(name, params, true);
  }
  // Not enumerable: listing the object gives the scriptable object's methods
  // and nothing else, as pages written for it expect.
  Object.defineProperty(api, "outcome", { value: Object.freeze(outcomes), enumerable: false });
  Object.defineProperty(window, "Korvessa", { value: Object.freeze(api), enumerable: false, writable: false });
})();
