// The options page: asks the native host (through the service worker) for
// the lists and lets the user take back the sites they allowed or refused
// for good. The administrator's list is shown but cannot be changed here.
"use strict";

const api = typeof browser !== "undefined" ? browser : chrome;
let nextId = 1;

function settings(request) {
  return api.runtime.sendMessage(Object.assign({ id: nextId++ }, request));
}

function fill(listId, entries, removable) {
  const list = document.getElementById(listId);
  list.replaceChildren();
  for (const entry of entries) {
    const item = document.createElement("li");
    item.textContent = entry;
    item.dataset.site = entry;
    if (removable) {
      const remove = document.createElement("button");
      remove.textContent = "移除 (remove)";
      remove.addEventListener("click", async () => {
        await settings({ settings: "forget", list: listId, site: entry });
        await show();
      });
      item.append(remove);
    }
    list.append(item);
  }
  if (!entries.length) {
    const none = document.createElement("li");
    none.className = "note";
    none.textContent = "(無 none)";
    list.append(none);
  }
}

async function show() {
  const status = document.getElementById("status");
  const answer = await settings({ settings: "sites" });
  if (!answer || answer.failure || answer.invalid) {
    status.textContent = `無法讀取清單 (the lists cannot be read): ${answer ? answer.failure || answer.invalid : ""}`;
    return;
  }
  status.textContent = answer.userSites
    ? "您可以允許其他網站；網站要求時會詢問您。(You may allow other sites; you are asked when a site requests it.)"
    : "只有管理者允許的網站可以使用本元件。(Only the administrator's sites may use the component.)";
  fill("machine", answer.machine || [], false);
  fill("user", answer.user || [], true);
  fill("denied", answer.denied || [], true);
  document.body.dataset.ready = "1";
}

show();
