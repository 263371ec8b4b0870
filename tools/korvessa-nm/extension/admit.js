// Runs in the extension's isolated world where the browser's match patterns
// cannot tell one port of a host from another (Firefox): asks the extension
// to give this page the page object, which it does only if the lists admit
// the page's origin, port and all. The page itself sees nothing of this.
(() => {
  "use strict";
  const api = typeof browser !== "undefined" ? browser : chrome;
  // No answer comes; a failure means the extension is being updated or
  // removed, and the page goes without.
  try {
    Promise.resolve(api.runtime.sendMessage({ admit: true })).catch(() => {});
  } catch (e) {
    // As above.
  }
})();
