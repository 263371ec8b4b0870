// The extension's service worker: judges nothing itself, but decides which
// origin a call is made for, from what the browser reports of the sending
// page (sender.origin, else the origin of sender.url), and keeps one native
// host connection per origin, so each site's calls run in an engine of its
// own (its own selected signer, its own error state) and the host can pin the
// connection to that origin.
"use strict";

const api = typeof browser !== "undefined" ? browser : chrome;
const HOST = "tw.korvessa.capi";

// origin -> { port, pending: Map(hostId -> resolve) }
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

function connectionFor(origin) {
  let connection = connections.get(origin);
  if (connection) return connection;
  const port = api.runtime.connectNative(HOST);
  connection = { port, pending: new Map() };
  port.onMessage.addListener((answer) => {
    const resolve = connection.pending.get(answer && answer.id);
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

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || !message || typeof message.call !== "string") return false;
  const origin = senderOrigin(sender);
  const connection = connectionFor(origin);
  const hostId = nextHostId++;
  const pageId = message.id;
  connection.pending.set(hostId, (answer) => {
    const forPage = Object.assign({}, answer, { id: pageId });
    sendResponse(forPage);
  });
  try {
    connection.port.postMessage({ id: hostId, origin, call: message.call, args: message.args || [] });
  } catch (e) {
    connection.pending.delete(hostId);
    sendResponse({ id: pageId, failure: String(e && e.message ? e.message : e) });
  }
  return true;  // the answer comes later
});
