// The extension's service worker: judges nothing itself, but decides which
// origin a call is made for, from what the browser reports of the sending
// page (sender.origin, else the origin of sender.url), and keeps one native
// host connection per origin, so each site's calls run in an engine of its
// own (its own selected signer, its own error state) and the host can pin the
// connection to that origin.
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

function isExtensionPage(sender) {
  return typeof sender.url === "string" && sender.url.startsWith(api.runtime.getURL(""));
}

function ask(key, message, sendResponse) {
  const connection = connectionFor(key);
  const hostId = nextHostId++;
  connection.pending.set(hostId, (answer) => sendResponse(Object.assign({}, answer, { id: message.id })));
  try {
    connection.port.postMessage(Object.assign({}, message.forHost, { id: hostId }));
  } catch (e) {
    connection.pending.delete(hostId);
    sendResponse({ id: message.id, failure: String(e && e.message ? e.message : e) });
  }
}

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || !message) return false;
  if (typeof message.settings === "string" && isExtensionPage(sender)) {
    const forHost = message.settings === "forget"
      ? { request: "forget", list: String(message.list), site: String(message.site) }
      : { request: "sites" };
    ask(SETTINGS, { id: message.id, forHost }, sendResponse);
    return true;
  }
  if (typeof message.call !== "string") return false;
  const origin = senderOrigin(sender);
  const page = typeof message.page === "string" ? message.page : "";
  ask(origin, { id: message.id, forHost: { origin, page, call: message.call, args: message.args || [] } },
    sendResponse);
  return true;  // the answer comes later
});
