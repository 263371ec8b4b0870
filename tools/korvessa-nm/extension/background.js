// The extension's service worker: judges nothing itself, but decides which
// origin a call is made for, from what the browser reports of the sending
// page (sender.origin, else the origin of sender.url), and keeps one native
// host connection per origin, so each site's calls run in an engine of its
// own (its own selected signer, its own error state) and the host can pin the
// connection to that origin.
//
// Only the sites the host's lists admit get the page object: the page
// scripts are registered for their origins alone, from the lists the host
// reports (in Firefox, injected into the pages of those origins). Where
// users may add sites, every other https (and loopback http) page gets only
// a listener that waits for the page to ask
// ({channel: "korvessa-request-access"}); the person is asked (at most one
// question at a time per origin, none for a while after a refusal), and a
// page they allow gets the object injected.
"use strict";

const api = typeof browser !== "undefined" ? browser : chrome;
const HOST = "tw.korvessa.capi";
// Largest answer joined from the host's frames (the host refuses larger
// ones): the joined answer travels on to the page as one extension message.
const MAX_JOINED_ANSWER = 48 * 1024 * 1024;

// origin -> { port, pending: Map(hostId -> resolve), joining: the answer
// being put together from frames, or null }
const connections = new Map();
let nextHostId = 1;

function senderOrigin(sender) {
  if (typeof sender.origin === "string" && sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch (e) {
    return "null";
  }
}

// An answer longer than one native message comes as consecutive frames
// {id, part, parts, text}; their texts joined are the answer's JSON. Gives the
// answer once its last frame is in, a failure for a run out of step.
function joinFrame(connection, frame) {
  let joining = connection.joining;
  if (frame.part === 1) joining = connection.joining = { id: frame.id, parts: frame.parts, texts: [], size: 0 };
  const inStep = joining && joining.id === frame.id && joining.parts === frame.parts &&
    frame.part === joining.texts.length + 1 && typeof frame.text === "string";
  if (!inStep || joining.size + frame.text.length > MAX_JOINED_ANSWER) {
    connection.joining = null;
    return { id: frame.id, failure: "the host's answer came in broken frames" };
  }
  joining.texts.push(frame.text);
  joining.size += frame.text.length;
  if (frame.part < frame.parts) return null;
  connection.joining = null;
  try {
    return JSON.parse(joining.texts.join(""));
  } catch (e) {
    return { id: frame.id, failure: "the host's joined answer is no JSON" };
  }
}

function connectionFor(origin) {
  let connection = connections.get(origin);
  if (connection) return connection;
  const port = api.runtime.connectNative(HOST);
  connection = { port, pending: new Map(), joining: null };
  port.onMessage.addListener((message) => {
    const answer = message && message.part !== undefined ? joinFrame(connection, message) : message;
    if (!answer) return;
    const resolve = connection.pending.get(answer.id);
    if (!resolve) return;
    connection.pending.delete(answer.id);
    resolve(answer);
  });
  port.onDisconnect.addListener(() => {
    const why = (api.runtime.lastError && api.runtime.lastError.message) || "the native host has closed";
    connections.delete(origin);
    for (const resolve of connection.pending.values()) resolve({ failure: why });
    connection.pending.clear();
  });
  connections.set(origin, connection);
  return connection;
}

// The options page's requests about the lists go on a connection of their
// own, which no page's calls use.
const SETTINGS = " settings";
// Where a page may ask for the object: the pages the extension may script.
const ASKING_PAGES = api.runtime.getManifest().host_permissions;
// What gives a page the object, in the page's own world, in this order.
const PAGE_SCRIPTS = ["operations.js", "page_api.js"];
// After a refusal, an origin's pages wait this long before asking again.
const REFUSAL_PAUSE_MS = 60 * 1000;

function isExtensionPage(sender) {
  return typeof sender.url === "string" && sender.url.startsWith(api.runtime.getURL(""));
}

// Sends one message to the host on the connection of `key`; resolves with its
// answer (or {failure}).
function hostRequest(key, forHost) {
  return new Promise((resolve) => {
    const connection = connectionFor(key);
    const hostId = nextHostId++;
    connection.pending.set(hostId, (answer) => {
      // The lists' connection serves a moment's questions: no host process
      // is kept for it.
      if (key === SETTINGS && connection.pending.size === 0 && connections.get(key) === connection) {
        connections.delete(key);
        connection.port.disconnect();
      }
      resolve(answer);
    });
    try {
      connection.port.postMessage(Object.assign({}, forHost, { id: hostId }));
    } catch (e) {
      connection.pending.delete(hostId);
      resolve({ failure: String(e && e.message ? e.message : e) });
    }
  });
}

// Firefox's match patterns leave the port out: one with a port matches no
// page, one without matches every port of the host. There the registered
// script only asks whether its page is admitted (admit.js), and the page
// scripts come by injection into the pages whose origin, port and all, is.
const PORTLESS_PATTERNS = api.runtime.getURL("").startsWith("moz-extension:");

// An allow-list entry ("https://host[:port]" or "https://*.domain[:port]")
// taken apart, or null. Entries the host refused never come here.
function siteOf(entry) {
  const parts = /^(https?):\/\/(\*\.)?([a-z0-9.-]+|\[[0-9a-f:.]+\])(?::(\d+))?(?:[/?#].*)?$/.exec(entry.toLowerCase());
  if (!parts) return null;
  const [, scheme, wildcard, host, port] = parts;
  const defaultPort = scheme === "https" ? "443" : "80";
  return { scheme, wildcard: Boolean(wildcard), host, port: port && port !== defaultPort ? port : "", defaultPort };
}

// Match patterns of an entry: matches, and what to exclude (a wildcard
// covers subdomains only). Chromium's patterns name the port even where it
// is the scheme's own: one without a port matches every port of the host.
function patternsOf(site) {
  const authority = PORTLESS_PATTERNS ? site.host : `${site.host}:${site.port || site.defaultPort}`;
  return {
    matches: [`${site.scheme}://${site.wildcard ? "*." : ""}${authority}/*`],
    excludeMatches: site.wildcard ? [`${site.scheme}://${authority}/*`] : [],
  };
}

// Whether an origin is one an entry admits, port and all.
function admits(site, origin) {
  let url;
  try {
    url = new URL(origin);
  } catch (e) {
    return false;
  }
  const host = url.hostname.toLowerCase();
  return url.protocol === `${site.scheme}:` && url.port === site.port &&
    (site.wildcard ? host.endsWith(`.${site.host}`) : host === site.host);
}

// The entries the page scripts are registered for now.
let admittedSites = [];

// Registers the page scripts for the admitted origins, and the asking
// listener where users may add sites. Resolves once they are in place.
async function refreshScripts() {
  const sites = await hostRequest(SETTINGS, { request: "sites" });
  if (!sites || sites.failure || sites.invalid) return;
  const entries = (sites.machine || []).concat(sites.userSites ? sites.user || [] : []);
  const admitted = entries.map(siteOf).filter(Boolean);
  const matches = [], excludeMatches = [];
  for (const site of admitted) {
    const patterns = patternsOf(site);
    matches.push(...patterns.matches);
    excludeMatches.push(...patterns.excludeMatches);
  }
  const scripts = [];
  if (matches.length) {
    const common = { matches, excludeMatches, runAt: "document_start", allFrames: true };
    if (PORTLESS_PATTERNS) scripts.push(Object.assign({ id: "korvessa-admit", js: ["admit.js"] }, common));
    else
      scripts.push(Object.assign({ id: "korvessa-page", js: PAGE_SCRIPTS, world: "MAIN" }, common),
        Object.assign({ id: "korvessa-relay", js: ["relay.js"] }, common));
  }
  if (sites.userSites)
    scripts.push({ id: "korvessa-ask", js: ["ask.js"], matches: ASKING_PAGES, runAt: "document_start", allFrames: true });
  // Changed in place: a page loading meanwhile finds the scripts it should
  // have, never none (a page that just asked reloads at once, say).
  const registered = new Set((await api.scripting.getRegisteredContentScripts()).map((script) => script.id));
  const wanted = new Set(scripts.map((script) => script.id));
  const gone = [...registered].filter((id) => !wanted.has(id));
  const kept = scripts.filter((script) => registered.has(script.id));
  const added = scripts.filter((script) => !registered.has(script.id));
  if (gone.length) await api.scripting.unregisterContentScripts({ ids: gone });
  if (kept.length) await api.scripting.updateContentScripts(kept);
  if (added.length) await api.scripting.registerContentScripts(added);
  admittedSites = admitted;
}

// The relay and the page object, into the very document that sent the
// message, never one that replaced it since.
async function injectInto(sender) {
  const target = { tabId: sender.tab.id };
  if (sender.documentId) target.documentIds = [sender.documentId];
  else target.frameIds = [sender.frameId];
  await api.scripting.executeScript({ target, files: ["relay.js"] });
  await api.scripting.executeScript({ target, files: PAGE_SCRIPTS, world: "MAIN" });
}

// A page that admit.js runs in: it gets the page scripts if the lists in
// force admit its origin, else nothing.
async function admitPage(origin, sender) {
  await refreshing;
  if (!admittedSites.some((site) => admits(site, origin))) return;
  await injectInto(sender);
}

let refreshing = Promise.resolve();
function refresh() {
  refreshing = refreshing.then(refreshScripts).catch((e) => console.error("korvessa: page scripts:", e));
  return refreshing;
}
// The page scripts stay registered across browser sessions; each start of
// the worker brings them up to date with the lists.
self.scriptsReady = refresh();

// origin -> { busy, refusedAt }
const asking = new Map();

async function requestAccess(origin, page, sender) {
  const state = asking.get(origin) || { busy: false, refusedAt: 0 };
  asking.set(origin, state);
  if (state.busy) return { granted: false, message: "the person is being asked already" };
  if (Date.now() - state.refusedAt < REFUSAL_PAUSE_MS)
    return { granted: false, message: "refused a moment ago; ask again later" };
  state.busy = true;
  try {
    const answer = await hostRequest(origin, { origin, page, request: "admit" });
    if (!answer.admitted) {
      state.refusedAt = Date.now();
      return { granted: false, error: answer.error, message: answer.message || answer.failure || answer.invalid };
    }
    await injectInto(sender);
    refresh();  // "always" has put the site on the user's list
    return { granted: true };
  } catch (e) {
    return { granted: false, message: String(e && e.message ? e.message : e) };
  } finally {
    state.busy = false;
  }
}

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || !message) return false;
  const reply = (answer) => sendResponse(Object.assign({}, answer, { id: message.id }));
  if (typeof message.settings === "string" && isExtensionPage(sender)) {
    if (message.settings === "forget") {
      // The person changed their mind: the site may ask again at once.
      asking.delete(String(message.site));
      hostRequest(SETTINGS, { request: "forget", list: String(message.list), site: String(message.site) })
        .then((answer) => refresh().then(() => reply(answer)));
    } else {
      // Opening the options page also brings the page scripts up to date
      // with lists an administrator has just changed; the lists it shows are
      // the ones in force once it has them.
      hostRequest(SETTINGS, { request: "sites" }).then((answer) => refresh().then(() => reply(answer)));
    }
    return true;
  }
  if (isExtensionPage(sender) || !sender.tab) return false;
  const origin = senderOrigin(sender);
  const page = typeof message.page === "string" ? message.page : "";
  if (message.admit === true && PORTLESS_PATTERNS) {
    admitPage(origin, sender).catch((e) => console.error("korvessa: page scripts:", e));
    return false;
  }
  if (message.access === true) {
    requestAccess(origin, page, sender).then(reply);
    return true;
  }
  if (typeof message.call !== "string") return false;
  hostRequest(origin, { origin, page, call: message.call, args: message.args || [] }).then(reply);
  return true;  // the answer comes later
});
